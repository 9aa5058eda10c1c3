#include "events/direct_events.h"

#include "base/chkint.h"

namespace velmar {

QStringList directEventLines(const QString& title, QByteArrayView numbers, bool batch) {
    QStringList lines{title};
    for (int i = 0; i < (batch ? 9 : 8); ++i)
        lines << QString();
    lines << QLatin1String(kDirectEventHeader);
    for (char b : numbers)
        lines << QString::number(static_cast<std::uint8_t>(b));
    return lines;
}

QStringList directEventLines(const DirectEvent& e, bool batch) {
    const char numbers[7] = {static_cast<char>(e.adrh),     static_cast<char>(e.adrl),
                             static_cast<char>(e.event[0]), static_cast<char>(e.event[1]),
                             static_cast<char>(e.event[2]), static_cast<char>(e.event[3]),
                             static_cast<char>(e.event[4])};
    return directEventLines(e.title, QByteArrayView(numbers, 7), batch);
}

bool hasDirectEventHeader(const QStringList& lines) {
    for (const QString& line : lines) {
        if (line.startsWith(QLatin1String(kDirectEventHeader)))
            return true;
    }
    return false;
}

std::optional<DirectEvent> parseDirectEvent(const QStringList& lines, QString* why) {
    auto fail = [why](const QString& text) -> std::optional<DirectEvent> {
        if (why)
            *why = text;
        return std::nullopt;
    };
    if (lines.isEmpty())
        return fail(QStringLiteral("empty file"));
    qsizetype header = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].startsWith(QLatin1String(kDirectEventHeader))) {
            header = i;
            break;
        }
    }
    if (header < 0)
        return fail(QStringLiteral("no header"));
    std::array<int, 7> n{};
    for (int i = 0; i < 7; ++i) {
        const qsizetype at = header + 1 + i;
        if (at >= lines.size())
            return fail(QStringLiteral("only %1 of seven numbers").arg(i));
        const int v = chkint(lines[at], 0, 255, -1);
        if (v < 0)
            return fail(QStringLiteral("number %1 is \"%2\"").arg(i + 1).arg(lines[at]));
        n[static_cast<std::size_t>(i)] = v;
    }
    DirectEvent e;
    e.title = lines.first();
    e.adrh = static_cast<std::uint8_t>(n[0]);
    e.adrl = static_cast<std::uint8_t>(n[1]);
    for (int i = 0; i < 5; ++i)
        e.event[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(n[2 + i]);
    return e;
}

std::optional<EventRequest> parseEventRequest(const QString& firstLine) {
    const qsizetype sep = firstLine.indexOf(QLatin1String("; "));
    if (sep < 0)
        return std::nullopt;
    EventRequest r;
    r.device = firstLine.left(sep);
    const QString rest = firstLine.mid(sep + 2);
    const qsizetype sched = rest.indexOf(QLatin1String("; -"));
    if (sched >= 0) {
        r.event = rest.left(sched);
        r.schedule = rest.mid(sched + 3);
        r.scheduled = true;
    } else {
        r.event = rest;
    }
    return r;
}

QByteArray eventFrameImage(std::uint8_t adrh, std::uint8_t adrl, const EventBytes& event,
                           bool linkelAddressing) {
    QByteArray image;
    image.append(static_cast<char>(linkelAddressing ? 12 : 10));
    image.append(static_cast<char>(adrh));
    image.append(static_cast<char>(adrl));
    if (linkelAddressing) {
        image.append(static_cast<char>(254));
        image.append(static_cast<char>(254));
    }
    image.append("eEV", 3);
    for (std::uint8_t b : event)
        image.append(static_cast<char>(b));
    image.append(2, '\0');
    return image;
}

namespace {

int hexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

}  // namespace

std::array<std::uint8_t, 10> DecodeDirect(const QString& text) {
    std::array<std::uint8_t, 10> out{};
    const QLatin1String prefix("lDirEvt-");
    if (!text.startsWith(prefix))
        return out;
    const QString hex = text.mid(prefix.size());
    if (hex.size() < 14)
        return out;
    std::array<std::uint8_t, 7> b{};
    for (int i = 0; i < 7; ++i) {
        // A character that is not a hexadecimal digit takes the value of the digit before it
        // (0 for the first of a pair).
        const int hi = std::max(0, hexDigit(hex[2 * i]));
        int lo = hexDigit(hex[2 * i + 1]);
        if (lo < 0)
            lo = hi;
        b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    for (int i = 0; i < 5; ++i)
        out[static_cast<std::size_t>(i)] = b[static_cast<std::size_t>(2 + i)];
    out[5] = b[0];
    out[6] = b[1];
    return out;
}

EventBytes DecodeExt(const QString& text) {
    EventBytes out{22, 0, 0, 255, 0};
    const qsizetype p = text.indexOf(QLatin1Char('-'));
    if (p < 0)
        return out;
    QString a = text.mid(p + 1, 3);
    if (const qsizetype cut = a.indexOf(QLatin1Char('-')); cut >= 0)
        a.truncate(cut);
    out[1] = static_cast<std::uint8_t>(chkint(a, 0, 254, 0));
    const qsizetype group = text.indexOf(QLatin1Char('-') + a + QLatin1Char('-'));
    if (group < 0)
        return out;
    const qsizetype cPos = group + 3;
    if (cPos < text.size())
        out[2] = static_cast<std::uint8_t>(text[cPos].unicode() & 0xFF);
    const qsizetype dash1 = text.indexOf(QLatin1Char('-'), cPos);
    if (dash1 < 0)
        return out;
    const qsizetype dash2 = text.indexOf(QLatin1Char('-'), dash1 + 1);
    const QString bText = dash2 < 0 ? text.mid(dash1 + 1) : text.mid(dash1 + 1, dash2 - dash1 - 1);
    out[3] = static_cast<std::uint8_t>(chkint(bText, 0, 255, 255));
    if (dash2 >= 0 && dash2 + 1 < text.size())
        out[4] = static_cast<std::uint8_t>(text[dash2 + 1].unicode() & 0xFF);
    return out;
}

}  // namespace velmar
