#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <typeindex>
#include <unordered_map>
#include <vector>

#include "base/device_address.h"

namespace velmar {

struct Runtime;

// The messages the bus hands on, one type per kind. The bus only splits and classifies what
// arrives; the folder that owns a kind's reaction subscribes to it.
namespace msg {

// A message that is its bytes as they came: `bytes` is the whole block (or record).
template <const char* Kind>
struct Bytes {
    static constexpr const char* kKind = Kind;
    QByteArray bytes;
    QByteArray debugBytes() const { return bytes; }
};

inline constexpr char kStatusBlock[] = "status frame";
inline constexpr char kIrCode[] = "IR code";
inline constexpr char kRadioCode[] = "radio code";
inline constexpr char kQueryRecord[] = "query record";
inline constexpr char kLinkelRecord[] = "Linkel record";

// A block holding a status frame (command byte "s"), an IR code, a radio code.
using StatusBlock = Bytes<kStatusBlock>;
using IrCode = Bytes<kIrCode>;
using RadioCode = Bytes<kRadioCode>;
// The Linkel's query mode: a controller's status record (byte 0 its length), and the Linkel's
// own record.
using QueryRecord = Bytes<kQueryRecord>;
using LinkelRecord = Bytes<kLinkelRecord>;

// A controller's text message ("lEXEC", "lZONE-3", "lDOOR", ...). The sender's name and type are
// the device tables' ("Quartel", "Alarm"; "(55,9)" and "all" for a device they do not know).
struct Text {
    static constexpr const char* kKind = "text message";
    DeviceAddress sender;
    QString senderName;
    QString senderType;
    QString command;
    QByteArray debugBytes() const { return command.toLatin1(); }
};

// Memory bank 0..4 (command bytes 8..12).
struct MemoryBank {
    static constexpr const char* kKind = "memory bank";
    int bank = 0;
    QByteArray block;
    QByteArray debugBytes() const { return block; }
};

// An event a device asks another one to run ("lExtDev-..."): the message's text, and the target
// and event bytes when the text names a target.
struct ExternalEvent {
    static constexpr const char* kKind = "external event";
    QString line;
    std::optional<DeviceAddress> target;
    std::array<std::uint8_t, 5> event{};
    QByteArray debugBytes() const {
        return QByteArray(reinterpret_cast<const char*>(event.data()), 5);
    }
};

// The commands of a Bluetooth module's block (command byte 254), each with the offset of its
// terminator in the block.
struct Bluetooth {
    static constexpr const char* kKind = "Bluetooth command";
    QStringList commands;
    QList<int> ends;
    QByteArray debugBytes() const { return commands.join(QLatin1Char(';')).toLatin1(); }
};

// A media player command of an IR remote ("ired-<n>" in a text message).
struct MediaCommand {
    static constexpr const char* kKind = "media command";
    int winamp_cmd = 0;
    QByteArray debugBytes() const { return QByteArray::number(winamp_cmd); }
};

// Memory programming: the controller wrote the last block ("lOKWRROM"), or refused it
// ("lERWRROM"). `tcp`: the block came through the Linkel.
struct BlockWritten {
    static constexpr const char* kKind = "block written";
    bool tcp = false;
    QByteArray debugBytes() const { return {}; }
};

struct BlockRefused {
    static constexpr const char* kKind = "block refused";
    QByteArray debugBytes() const { return {}; }
};

// A controller announced its restart after the start-up phase ("lRESTART", "lRES").
struct RestartNotice {
    static constexpr const char* kKind = "restart notice";
    DeviceAddress from;
    QByteArray debugBytes() const { return from.stem().toLatin1(); }
};

}  // namespace msg

// What the device tables say about a sender: its name and type, and whether it is known.
struct SenderInfo {
    QString name;
    QString type;
    bool known = false;
};

// Hands each message to the subscribers of its kind: first those of the reaction stage, then
// those of the announcement stage (the log line, the sound), each in the order they subscribed.
// A kind nobody subscribed to is logged with "/debug" ("IR code received: 37 01 72 ..."). Main
// thread only; the owners subscribe when they are built, never from within a subscriber. A
// subscriber's exception reaches the caller of dispatch().
class MessageDispatcher {
  public:
    enum class Stage { React, Announce };

    explicit MessageDispatcher(Runtime& rt) : rt_(rt) {}

    template <typename M>
    void subscribe(std::function<void(const M&)> handler, Stage stage = Stage::React) {
        auto& list = handlers_[std::type_index(typeid(M))];
        auto call = [h = std::move(handler)](const void* m) { h(*static_cast<const M*>(m)); };
        // Reaction subscribers go before every announcement subscriber.
        auto at = list.end();
        if (stage == Stage::React) {
            at = list.begin();
            while (at != list.end() && at->first == Stage::React)
                ++at;
        }
        list.insert(at, {stage, std::move(call)});
    }

    template <typename M>
    void dispatch(const M& m) const {
        const auto it = handlers_.find(std::type_index(typeid(M)));
        if (it == handlers_.end() || it->second.empty()) {
            unhandled(M::kKind, m.debugBytes());
            return;
        }
        for (const auto& [stage, call] : it->second)
            call(&m);
    }

    // The device tables' view of a sender; set by the folder that owns them.
    void setSenderLookup(std::function<SenderInfo(DeviceAddress)> lookup) {
        senderLookup_ = std::move(lookup);
    }
    // "(h,l)" of type "all", not known, until the lookup is set.
    SenderInfo sender(DeviceAddress a) const;

  private:
    void unhandled(const char* kind, const QByteArray& bytes) const;

    Runtime& rt_;
    std::unordered_map<std::type_index,
                       std::vector<std::pair<Stage, std::function<void(const void*)>>>>
        handlers_;
    std::function<SenderInfo(DeviceAddress)> senderLookup_;
};

}  // namespace velmar
