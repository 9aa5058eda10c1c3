#pragma once

#include <QByteArray>
#include <QTimer>
#include <cstdint>
#include <functional>

#include "app/config_files.h"
#include "bus/frame_writer.h"
#include "events/query_timer.h"

namespace velmar {

class EventLog;
class MessageDecoder;

// Memory programming and restart handling react to markers in received blocks; the
// configuration window owns them.
class ProgrammingEvents {
  public:
    virtual ~ProgrammingEvents() = default;
    // "lOKWRROM": the block was written. `stopSendTimerFirst` on the TCP path.
    virtual void onBlockWritten(bool stopSendTimerFirst) { (void)stopSendTimerFirst; }
    // "lERWRROM": the controller refused the block.
    virtual void onBlockRefused() {}
    // A controller announced a restart after the start-up phase.
    virtual bool afterRestartActive() const { return false; }
    virtual void startAfterRestart(int ms, int adrh, int adrl) {
        (void)ms;
        (void)adrh;
        (void)adrl;
    }
};

// The processing of every received block on the main thread, in order: relay blocks, memory
// programming markers, alarms, restart notices, the echo confirmation of the last frame and
// the decoding of the messages. The serial path (blocks from the reader thread) and its TCP
// twin (blocks from the Linkel link) differ only where the transport does.
class ReceivePath {
  public:
    struct Context {
        EventLog& log;
        FrameWriter& writer;
        MessageDecoder& decoder;
        ProgrammingEvents& programming;
        QueryTimer& AutoQuery;
        const TimingSettings& timing;
        const BusFlags& flags;
        const bool& debugtimer;
        const bool& notstart;
        SerialOutput* serial;  // raw write-back of relay blocks
        TcpOutput* tcp;
        // `run_command` of the query cycle (the TCP path confirms through it).
        std::function<void(std::uint8_t, std::uint8_t, const QByteArray&)> runCommand;
    };

    static constexpr int kMaxBlock = 65555;

    explicit ReceivePath(Context ctx) : ctx_(std::move(ctx)) {}

    void processSerialBlock(QByteArray block);
    void ReadFromEthernet(QByteArray block);

    // 1 when the last echo was confirmed.
    int cmd_stat = 0;
    // The controller that announced the last restart.
    int rcv_adrh = 0;
    int rcv_adrl = 0;

  private:
    void process(QByteArray block, bool tcp);
    bool relayBlock(QByteArray& block, bool tcp);
    void markers(const QByteArray& block, bool tcp);
    void confirmEcho(const QByteArray& block, bool tcp);
    void restartQueryTimer(int ms);

    Context ctx_;
};

}  // namespace velmar
