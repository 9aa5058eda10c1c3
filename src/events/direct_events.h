#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>

namespace velmar {

// The header line that marks a direct event file.
inline constexpr const char kDirectEventHeader[] = "Direct Event Dont change this file";

using EventBytes = std::array<std::uint8_t, 5>;

// A direct event file: a title, empty lines, the header, the address and the five event bytes.
struct DirectEvent {
    QString title;
    std::uint8_t adrh = 0;
    std::uint8_t adrl = 0;
    EventBytes event{};
};

// The lines of a direct event file (each written with CR LF): the title, eight empty lines
// (nine for batch runs), the header, the address high and low and the five bytes in decimal.
QStringList directEventLines(const DirectEvent& e, bool batch = false);
// The same for any numbers after the header (a TCP event carries ten).
QStringList directEventLines(const QString& title, QByteArrayView numbers, bool batch = false);

// Reads a direct event file: line 1 is the title, the first line that begins with the header
// is followed by seven numbers. Only a complete file is accepted: the header and seven decimal
// numbers in 0..255 (a file still being written, or a damaged one, gives nothing and `why`).
// Lines after the seventh number are ignored.
std::optional<DirectEvent> parseDirectEvent(const QStringList& lines, QString* why = nullptr);
bool hasDirectEventHeader(const QStringList& lines);

// The first line of an event request: device, "; ", event, and for a scheduled event "; -"
// and the schedule text.
struct EventRequest {
    QString device;
    QString event;
    QString schedule;
    bool scheduled = false;
};
std::optional<EventRequest> parseEventRequest(const QString& firstLine);

// The frame image of a direct event: count 10, the address, "eEV" and the five bytes; through
// a Linkel count 12 with 254,254 after the address. Two zero bytes follow.
QByteArray eventFrameImage(std::uint8_t adrh, std::uint8_t adrl, const EventBytes& event,
                           bool linkelAddressing);

// "lDirEvt-" + seven hexadecimal pairs (address high, low, five event bytes): the five event
// bytes, the address, three zero bytes. Any other text gives ten zero bytes.
std::array<std::uint8_t, 10> DecodeDirect(const QString& text);
// "lExtDev-A-c-B-d": 22, A, c, B, d.
EventBytes DecodeExt(const QString& text);

}  // namespace velmar
