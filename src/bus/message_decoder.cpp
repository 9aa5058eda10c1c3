#include "bus/message_decoder.h"

#include <QFile>
#include <stdexcept>

#include "base/chkint.h"
#include "base/cp1250.h"
#include "base/names.h"
#include "base/text_file.h"
#include "bus/frame_writer.h"
#include "devices/name_forms.h"
#include "devices/registry.h"
#include "events/cycle_state.h"
#include "log/event_log.h"
#include "log/log_files.h"

namespace velmar {

void ReceivedMessageHandlers::debug(const std::string& kind, const QByteArray& block) {
    if (log && debugEnabled) {
        log->admem(QString::fromStdString(kind) + QLatin1String(" received: ") +
                   QString::fromLatin1(block.left(16).toHex(' ')));
    }
}

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

MessageDecoder::MessageDecoder(DecoderContext ctx, ReceivedMessageHandlers& handlers,
                               QObject* parent)
    : QObject(parent), ctx_(ctx), handlers_(handlers) {
    disablbluetooth.setInterval(5000);
    connect(&disablbluetooth, &QTimer::timeout, this, [this] {
        disablebluetooth = false;
        disablbluetooth.stop();
        if (ctx_.debugtimer)
            ctx_.log.admem(QStringLiteral("disable blue"));
    });
}

void MessageDecoder::getname() {
    try {
        d_devname = QStringLiteral("(%1,%2)").arg(d_adrh).arg(d_adrl);
        d_devtype = QStringLiteral("all");
        const DeviceRegistry& reg = ctx_.registry;
        const int room = reg.pollIndexOf(d_adrh, d_adrl);
        if (room >= 0) {
            d_devname = reg.rms[static_cast<std::size_t>(room)].name;
            d_devtype = QStringLiteral("Quartel");
            return;
        }
        const int alarm = reg.alarmIndexOf(d_adrh, d_adrl);
        if (alarm >= 0) {
            d_devname = reg.alrm[static_cast<std::size_t>(alarm)].name;
            d_devtype = QStringLiteral("Alarm");
        }
    } catch (const std::exception& e) {
        ctx_.log.admem(QLatin1String("Error getting name: ") + QString::fromLocal8Bit(e.what()));
    }
}

void MessageDecoder::write_alias_cmd() {
    d_shortcommand = d_command;
    d_longcommand = d_command;
    d_color = 0;
    if (const als* alias = ctx_.registry.findAlias(d_devtype, d_command)) {
        d_shortcommand = alias->shortcommand;
        d_longcommand = alias->longcommand;
        d_color = alias->color;
        ctx_.logFiles.copygraph(d_devname, d_command, d_shortcommand);
    }
    ctx_.log.admem(d_devname + QLatin1String(" ->    ") + d_longcommand);
}

void MessageDecoder::DecodeMessageBuff(const QByteArray& block, int size) {
    if (size < 0 || size > block.size())
        size = static_cast<int>(block.size());
    try {
        decode(block, size);
    } catch (const std::exception& e) {
        ctx_.log.admem(QLatin1String("Error decoding buffer: ") + QString::fromLocal8Bit(e.what()));
    }
}

void MessageDecoder::decode(const QByteArray& block, int size) {
    // Bytes past the block read as zero, as in the zero-filled receive buffer.
    auto at = [&block, size](int i) -> int {
        return i >= 0 && i < size ? static_cast<std::uint8_t>(block[i]) : 0;
    };
    const int t = ctx_.TCP_INDEX_INC;
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
        d_adrh = at(s + t);
        d_adrl = at(s + t + 1);
        getname();
        const int c = at(s + t + 2);
        if (!ctx_.admins && d_devname.contains(QLatin1Char('(')) &&
            !d_devname.contains(QLatin1String("55,55")))
            return;  // an unknown sender ends the block
        const int cmdPos = s + t + 2;
        const bool text = isTextCommand(c) && !atCommandPosition("eEV", cmdPos) &&
                          !atCommandPosition("lExt", cmdPos) && !atCommandPosition("lRecu", cmdPos);
        if (text) {
            int end = s;
            while (end < size && at(end) != 0)
                ++end;
            const QString message = fromCp1250(QByteArrayView(block.constData() + s, end - s));
            p = end;
            if (message.size() > t + 3) {
                d_command = message.mid(t + 2);
                textMessage(message);
            }
            continue;
        }
        if (c == 254) {
            bluetooth(block, size);
        } else if (c == 's') {
            ctx_.writer.setWasSend(false);
            handlers_.set_ql(block.left(size));
        } else if (c == 'r') {
            ctx_.writer.setWasSend(false);
            handlers_.ired(block.left(size));
        } else if (c == 14) {
            ctx_.writer.setWasSend(false);
            handlers_.learnrf(block.left(size));
        } else if (c >= 8 && c <= 12) {
            ctx_.writer.setWasSend(false);
            handlers_.readMemoryBank(c - 8, block.left(size));
        } else if (atCommandPosition("lExt", cmdPos)) {
            externalEvent(first);
        }
        return;  // after any other kind the block ends
    }
}

void MessageDecoder::textMessage(const QString& /*message*/) {
    // An executed direct event: the request is done and the rotation resumes after the
    // controller that confirmed it.
    if (d_command == QLatin1String("lEXEC")) {
        QueryCycleState& cycle = ctx_.cycle;
        if (cycle.autoquerycnter > 0)
            --cycle.autoquerycnter;
        // The file sent to this controller, not merely the last one sent: with several
        // controllers executing, the last file may belong to another one.
        QString confirmedName = cycle.evntname;
        if (const auto done = cycle.confirm(d_adrh, d_adrl)) {
            confirmedName = done->evntname;
            if (!done->evntname.isEmpty())
                ctx_.log.admem(done->evntname);
            if (!done->path.isEmpty() && !QFile::remove(done->path) && QFile::exists(done->path))
                ctx_.log.admem(QLatin1String("Error deleting direct event: ") + done->path);
        }
        ctx_.AutoQuery.stop();
        const DeviceRegistry& reg = ctx_.registry;
        for (int i = 0; i < reg.quartel_max; ++i) {
            const auto& e = reg.rms[static_cast<std::size_t>(i)];
            if (e.adrh == d_adrh && e.adrl == d_adrl) {
                cycle.current_device = i == 0 ? reg.quartel_max - 1 : i - 1;
                cycle.extern_notroom = false;
                break;
            }
        }
        ctx_.AutoQuery.pause(confirmedName.toUpper().contains(QLatin1String("SECU"))
                                 ? ctx_.timing.OTHER_RECEPTION
                                 : ctx_.timing.SECU_RECEPTION);
    }
    if (d_command.startsWith(QLatin1String("lZONE-"))) {
        const int zone = chkint(d_command.mid(6), 0, 40, 0);
        if (ctx_.wasalarm && ctx_.alarmextender == 0) {
            ctx_.wasalarm = false;
            for (const QString& r : ctx_.settings.smsreports)
                handlers_.createsms(r, QStringLiteral("Odwolanie Alarmu."));
        }
        const QString text = ctx_.registry.zonenames[static_cast<std::size_t>(zone)] +
                             QLatin1String(" -> Zmiana Zabezpieczen.");
        for (const QString& a : ctx_.settings.smsadmins)
            handlers_.createsms(a, text);
        handlers_.restartSmsTimer(4000);
    }
    const int ired = static_cast<int>(d_command.indexOf(QLatin1String("ired-")));
    if (ired >= 0)
        handlers_.mediaCommand(chkint(d_command.mid(ired + 5), 0, 65535, 0));
    write_alias_cmd();
    playSound();
}

void MessageDecoder::playSound() {
    const QString& ext = ctx_.audioext;
    const QString own = d_devname + QLatin1String(" (") + d_shortcommand + QLatin1Char(')') + ext;
    // Message texts come from the bus: only names that are valid file names are looked up.
    if (isValidName(own) && ctx_.root.exists(QLatin1String("audios\\") + own)) {
        ctx_.logFiles.cp(
            QLatin1String("audios\\") + own,
            QLatin1String("audio to play\\") + d_devname + QLatin1Char('-') + d_shortcommand + ext,
            true);
        return;
    }
    const QString shared = d_shortcommand + ext;
    if (isValidName(shared) && ctx_.root.exists(QLatin1String("audios\\") + shared)) {
        ctx_.logFiles.cp(QLatin1String("audios\\") + shared,
                         QLatin1String("audio to play\\") + shared, true);
    }
}

void MessageDecoder::bluetooth(const QByteArray& block, int size) {
    int end = 3;
    while (end < size && block[end] != '\0')
        ++end;
    const QByteArray text = end > 3 ? block.mid(3, end - 3) : QByteArray();
    int start = 0;
    for (;;) {
        const int term = static_cast<int>(text.indexOf(QByteArray("; \t", 3), start));
        if (term < 0)
            break;
        const QString command = fromCp1250(text.mid(start, term - start));
        if (!disablebluetooth) {
            ctx_.log.admem(QLatin1String("BlueTooth command: ") + command);
            const QString stem = QLatin1String("bt-") +
                                 getfilename(dateTimeText(ctx_.clock.now())) + QLatin1Char('_') +
                                 QString::number(3 + term);
            QString error;
            ctx_.root.makeDir(QStringLiteral("emails"));
            if (!createUnique(ctx_.root.path(QStringLiteral("emails")), stem,
                              QStringLiteral(".run"), joinLines({command}), &error)) {
                throw std::runtime_error(error.toStdString());
            }
        }
        start = term + 3;
    }
    disablebluetooth = true;
    disablbluetooth.start();
}

void MessageDecoder::externalEvent(const QString& first) {
    ctx_.log.admem(first);
    const int dash = static_cast<int>(first.indexOf(QLatin1Char('-')));
    if (dash < 0)
        return;
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
    if (adrl < 255)
        handlers_.execeventextern(55, adrl, {kind, number, state, state, state});
}

}  // namespace velmar
