#pragma once

#include <QByteArray>
#include <functional>

#include "base/device_address.h"
#include "bus/bus_port.h"
#include "bus/messages.h"
#include "log/runtime.h"

namespace velmar {

class MessageDecoder;

// The processing of every received block on the main thread, in order: relay blocks, memory
// programming markers, alarms, restart notices, the echo confirmation of the last frame and
// the decoding of the messages. The serial path (blocks from the reader thread) and its TCP
// twin (blocks from the Linkel link) differ only where the transport does. Markers and
// notices go to the dispatcher as messages for whoever programs the controllers or handles
// their restarts.
class ReceivePath {
  public:
    static constexpr int kMaxBlock = 65555;

    ReceivePath(Runtime& rt, BusPort& port, MessageDecoder& decoder, MessageDispatcher& messages)
        : rt_(rt), port_(port), decoder_(decoder), messages_(messages) {}

    // Where relay blocks are written back raw.
    void setOutputs(SerialOutput* serial, TcpOutput* tcp) {
        serial_ = serial;
        tcp_ = tcp;
    }
    // `run_command` of the query cycle: the TCP path confirms an echo through it.
    std::function<void(DeviceAddress, const QByteArray&)> runCommand;

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

    Runtime& rt_;
    BusPort& port_;
    MessageDecoder& decoder_;
    MessageDispatcher& messages_;
    SerialOutput* serial_ = nullptr;
    TcpOutput* tcp_ = nullptr;
};

}  // namespace velmar
