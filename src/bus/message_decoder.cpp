#include "bus/message_decoder.h"

#include <exception>

#include "base/chkint.h"
#include "base/cp1250.h"

namespace velmar {

namespace {

// Command bytes that never start a text message.
bool isTextCommand(int c) {
    if (c < 20 || c > 122)
        return false;
    if (c >= 48 && c <= 58)
        return false;  // digits and ':'
    if (c >= 65 && c <= 76)
        return false;  // 'A'..'L'
    static constexpr char kBinary[] = "ajpqrstuwxTU";
    for (const char* p = kBinary; *p; ++p) {
        if (c == *p)
            return false;
    }
    return true;
}

}  // namespace

void MessageDecoder::DecodeMessageBuff(const QByteArray& block, int size) {
    if (size < 0 || size > block.size())
        size = static_cast<int>(block.size());
    try {
        decode(block, size);
    } catch (const std::exception& e) {
        rt_.log.admem(QLatin1String("Error decoding buffer: ") + QString::fromLocal8Bit(e.what()));
    }
}

void MessageDecoder::decode(const QByteArray& block, int size) {
    // Bytes past the block read as zero, as in the zero-filled receive buffer.
    auto at = [&block, size](int i) -> int {
        return i >= 0 && i < size ? static_cast<std::uint8_t>(block[i]) : 0;
    };
    const int t = rt_.flags.TCP_INDEX_INC;
    const int firstZero = [&] {
        const int z = static_cast<int>(block.indexOf('\0'));
        return z < 0 || z > size ? size : z;
    }();
    const QString first = fromCp1250(QByteArrayView(block.constData(), firstZero));
    auto atCommandPosition = [&first](const char* word, int pos) {
        return first.indexOf(QLatin1String(word)) == pos;
    };

    int p = 0;
    while (p < size) {
        while (p < size && at(p) == 0)
            ++p;
        if (p >= size)
            break;
        const int s = p;
        const DeviceAddress sender{at(s + t), at(s + t + 1)};
        const SenderInfo info = messages_.sender(sender);
        const int c = at(s + t + 2);
        // A sender the device tables do not know ends the block (55-55 is decoded all the same).
        if (!rt_.flags.admins && !info.known && sender != DeviceAddress{55, 55})
            return;
        const int cmdPos = s + t + 2;
        const bool text = isTextCommand(c) && !atCommandPosition("eEV", cmdPos) &&
                          !atCommandPosition("lExt", cmdPos) && !atCommandPosition("lRecu", cmdPos);
        if (text) {
            int end = s;
            while (end < size && at(end) != 0)
                ++end;
            const QString message = fromCp1250(QByteArrayView(block.constData() + s, end - s));
            p = end;
            if (message.size() > t + 3)
                textMessage(sender, info, message.mid(t + 2));
            continue;
        }
        if (c == 254) {
            bluetooth(block, size);
        } else if (c == 's') {
            port_.writer.setWasSend(false);
            messages_.dispatch(msg::StatusBlock{block.left(size)});
        } else if (c == 'r') {
            port_.writer.setWasSend(false);
            messages_.dispatch(msg::IrCode{block.left(size)});
        } else if (c == 14) {
            port_.writer.setWasSend(false);
            messages_.dispatch(msg::RadioCode{block.left(size)});
        } else if (c >= 8 && c <= 12) {
            port_.writer.setWasSend(false);
            messages_.dispatch(msg::MemoryBank{c - 8, block.left(size)});
        } else if (atCommandPosition("lExt", cmdPos)) {
            externalEvent(first);
        }
        return;  // after any other kind the block ends
    }
}

void MessageDecoder::textMessage(DeviceAddress sender, const SenderInfo& info,
                                 const QString& command) {
    messages_.dispatch(msg::Text{sender, info.name, info.type, command});
    const int ired = static_cast<int>(command.indexOf(QLatin1String("ired-")));
    if (ired >= 0)
        messages_.dispatch(msg::MediaCommand{chkint(command.mid(ired + 5), 0, 65535, 0)});
}

void MessageDecoder::bluetooth(const QByteArray& block, int size) {
    int end = 3;
    while (end < size && block[end] != '\0')
        ++end;
    const QByteArray text = end > 3 ? block.mid(3, end - 3) : QByteArray();
    msg::Bluetooth commands;
    int start = 0;
    for (;;) {
        const int term = static_cast<int>(text.indexOf(QByteArray("; \t", 3), start));
        if (term < 0)
            break;
        commands.commands << fromCp1250(text.mid(start, term - start));
        commands.ends << 3 + term;
        start = term + 3;
    }
    messages_.dispatch(commands);
}

void MessageDecoder::externalEvent(const QString& first) {
    msg::ExternalEvent e{first, std::nullopt, {}};
    const int dash = static_cast<int>(first.indexOf(QLatin1Char('-')));
    if (dash < 0) {
        messages_.dispatch(e);
        return;
    }
    QString address = first.mid(dash + 1, 3);
    const int cut = static_cast<int>(address.indexOf(QLatin1Char('-')));
    if (cut >= 0)
        address.truncate(cut);
    const int group =
        static_cast<int>(first.indexOf(QLatin1Char('-') + address + QLatin1Char('-')));
    QString rest = group >= 0 ? first.mid(group + 3) : QString();
    const std::uint8_t kind = rest.startsWith(QLatin1String("O-"))   ? 1
                              : rest.startsWith(QLatin1String("I-")) ? 39
                                                                     : 0;
    rest = rest.mid(rest.indexOf(QLatin1Char('-')) + 1);
    const int next = static_cast<int>(rest.indexOf(QLatin1Char('-')));
    const auto number =
        static_cast<std::uint8_t>(chkint(next >= 0 ? rest.left(next) : rest, 0, 255, 255));
    rest = next >= 0 ? rest.mid(next + 1) : QString();
    const std::uint8_t state = rest.startsWith(QLatin1Char('0'))   ? 0
                               : rest.startsWith(QLatin1Char('1')) ? 1
                               : rest.startsWith(QLatin1Char('n')) ? 2
                                                                   : 255;
    const int adrl = chkint(address, 0, 255, 255);
    if (adrl < 255) {
        e.target = DeviceAddress{55, adrl};
        e.event = {kind, number, state, state, state};
    }
    messages_.dispatch(e);
}

}  // namespace velmar
