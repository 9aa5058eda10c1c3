#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <cstdint>

#include "app/config_files.h"
#include "base/clock.h"
#include "base/data_root.h"
#include "events/query_timer.h"

namespace velmar {

class DeviceRegistry;
class EventLog;
class FrameWriter;
class LogFiles;
struct QueryCycleState;

// What the decoder hands on. The defaults log the kind of message at debug level; the
// subsystems that own each kind override them.
class ReceivedMessageHandlers {
  public:
    virtual ~ReceivedMessageHandlers() = default;
    // A status frame (command byte "s"); `block` is the whole block.
    virtual void set_ql(const QByteArray& block) { debug("status frame", block); }
    virtual void ired(const QByteArray& block) { debug("IR code", block); }
    virtual void learnrf(const QByteArray& block) { debug("radio code", block); }
    // Memory bank 0..4 (command bytes 8..12).
    virtual void readMemoryBank(int bank, const QByteArray& block) {
        debug("memory bank " + std::to_string(bank), block);
    }
    // An external event for device adrh,adrl: the five event bytes.
    virtual void execeventextern(int adrh, int adrl, const std::array<std::uint8_t, 5>& event) {
        debug("external event for " + std::to_string(adrh) + "," + std::to_string(adrl),
              QByteArray(reinterpret_cast<const char*>(event.data()), 5));
    }
    virtual void mediaCommand(int winamp_cmd) { (void)winamp_cmd; }
    // Queues one SMS text to one recipient.
    virtual void createsms(const QString& recipient, const QString& text) {
        (void)recipient;
        (void)text;
    }
    virtual void restartSmsTimer(int ms) { (void)ms; }

    // Set by the owner so the defaults can log.
    EventLog* log = nullptr;
    bool debugEnabled = false;

  protected:
    void debug(const std::string& kind, const QByteArray& block);
};

// Everything the decoder reads or changes besides the block.
struct DecoderContext {
    const DataRoot& root;
    EventLog& log;
    LogFiles& logFiles;
    const Clock& clock;
    DeviceRegistry& registry;
    FrameWriter& writer;
    QueryCycleState& cycle;
    QueryTimer& AutoQuery;
    const TimingSettings& timing;
    const Settings& settings;
    const QString& audioext;
    const bool& admins;
    const std::int32_t& TCP_INDEX_INC;
    const bool& debugtimer;
    // Outrel alarm state (the zone SMS texts read it).
    bool& wasalarm;
    const int& alarmextender;
};

// Splits a received block into messages and dispatches each by kind: text messages (alias,
// log line, sound, event confirmations, zone changes, media commands), Bluetooth commands,
// status frames, IR and radio codes, memory banks and external events.
class MessageDecoder : public QObject {
    Q_OBJECT
  public:
    MessageDecoder(DecoderContext ctx, ReceivedMessageHandlers& handlers,
                   QObject* parent = nullptr);

    // Decodes the first `size` bytes of `block` (the whole block when -1). Never throws.
    void DecodeMessageBuff(const QByteArray& block, int size = -1);

    // The fields of the last message.
    int d_adrh = 0;
    int d_adrl = 0;
    QString d_devname;
    QString d_devtype;
    QString d_command;
    QString d_shortcommand;
    QString d_longcommand;
    std::uint32_t d_color = 0;
    bool disablebluetooth = false;
    QTimer disablbluetooth;

    void getname();
    void write_alias_cmd();

  private:
    void decode(const QByteArray& block, int size);
    void textMessage(const QString& text);
    void bluetooth(const QByteArray& block, int size);
    void externalEvent(const QString& first);
    void playSound();

    DecoderContext ctx_;
    ReceivedMessageHandlers& handlers_;
};

}  // namespace velmar
