#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <vector>

#include "base/device_address.h"
#include "bus/bus_port.h"
#include "bus/messages.h"
#include "log/runtime.h"

namespace velmar {

// One upload: its kind (which decides the timings, texts and ending), the device it programs
// and its blocks in sending order (frame images, count byte first).
struct UploadJob {
    enum class Kind { Configuration, FlashEvents, RamEvents, Eeprom, Ir };
    Kind kind = Kind::Configuration;
    QString device;
    std::vector<QByteArray> blocks;
    // Flash event tables: the RAM tables that follow at once (`RRRAM`).
    std::vector<QByteArray> ramBlocks;
};

// The upload engine: one block at a time, each confirmed by the controller ("lOKWRROM") before
// the next goes out; a refusal ("lERWRROM") or silence sends the same block again, and 14 failed
// attempts in a row abandon the upload with a line naming the device and its address. Driven by
// `SendCfg` (the next block) and `TimeOut` (the controller did not answer). While it runs the
// query cycle and the minute's time are held off (`uploading`). One upload at a time: a start
// while one runs is refused and logged. Main thread only.
class UploadEngine : public QObject {
    Q_OBJECT
  public:
    UploadEngine(Runtime& rt, BusPort& port, MessageDispatcher& messages,
                 QObject* parent = nullptr);

    // Starts at block 0 with no errors counted, the first block 100 ms later (on the first
    // `SendCfg` tick); false (logged) while another upload runs or when the job has no blocks.
    bool start(UploadJob job);
    bool busy() const { return active_; }
    // False while an upload runs.
    bool sent_all_bytes() const { return sent_all_bytes_; }
    // `stopConfigurationTimers`: both timers stop; a running upload is abandoned silently.
    void stop();

    // The timers' ticks (tests drive them directly).
    void SendCfgTick();
    void TimeOutTick();

    // Called when an upload ends: true when every block was written.
    std::function<void(const UploadJob& job, bool written)> finished;

    QTimer SendCfg;
    QTimer TimeOut;
    int index_flash_buff = 0;
    bool flash_buff_next = true;
    bool flash_buff_written_ok = false;
    int errors_events = 0;

  private:
    struct Timing {
        int timeOutMs;
        int sendMs;
        const char* error;
    };
    static Timing timing(UploadJob::Kind kind);
    void routine();
    void send(const QByteArray& block);
    void end(bool written);
    void onWritten(const msg::BlockWritten& m);
    void onRefused();

    Runtime& rt_;
    BusPort& port_;
    UploadJob job_;
    bool active_ = false;
    bool sent_all_bytes_ = true;
};

}  // namespace velmar
