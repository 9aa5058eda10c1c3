#include "devices/status_decoder.h"

#include <exception>

#include "base/names.h"
#include "base/text_file.h"
#include "devices/conversions.h"
#include "devices/registry.h"
#include "log/event_log.h"
#include "log/log_files.h"

namespace velmar {

namespace {
constexpr std::uint8_t kStatusCommand = 's';
// Outputs of the status frame beyond the 24 of the three output bytes.
constexpr int kDedicatedOutputs = 8;
const QString kBackslash = QStringLiteral("\\");

bool bit(std::uint8_t byte, int n) {
    return (byte >> n) & 1;
}
}  // namespace

// A status frame inside a received block: message start S and address offset F.
struct StatusDecoder::Frame {
    const QByteArray& block;
    int start = 0;
    int F = 0;
    // Length of the accepted frame; bytes past it belong to the repetition.
    int length = 0;
    // Byte at message position j (from the message start); 0 past the block.
    std::uint8_t M(int j) const {
        const qsizetype at = static_cast<qsizetype>(start) + j;
        return at >= 0 && at < block.size() ? static_cast<std::uint8_t>(block[at]) : 0;
    }
    // Byte at frame offset i (from the sender address on).
    std::uint8_t B(int i) const { return M(F + i); }
    // True when message positions 0..last exist in the block.
    bool has(int last) const { return static_cast<qsizetype>(start) + last < block.size(); }
};

namespace {
// Group A of expander m ends at offset 51 + 10 (m - 1).
template <typename FrameT>
bool carriesModule(const FrameT& f, int m) {
    return 51 + 10 * (m - 1) < f.length;
}
}  // namespace

StatusDecoder::StatusDecoder(StatusDecoderContext ctx)
    : ctx_(std::move(ctx)),
      files_(ctx_.root, ctx_.log, ctx_.clock),
      sensel_(ctx_.root, ctx_.registry, ctx_.logFiles, files_, outrel, ctx_.alarmextender,
              ctx_.audioext, views, ctx_.run_command) {}

int StatusDecoder::findStatusFrame(const QByteArray& block, int tcpIndexInc) {
    // Messages are separated by zero bytes; a text message never has "s" as its command byte,
    // and every binary kind other than a status frame ends the block's decoding.
    qsizetype p = 0;
    const qsizetype n = block.size();
    while (p < n) {
        while (p < n && block[p] == '\0')
            ++p;
        if (p >= n)
            break;
        const qsizetype command = p + tcpIndexInc + 2;
        if (command < n && static_cast<std::uint8_t>(block[command]) == kStatusCommand)
            return static_cast<int>(p);
        const qsizetype end = block.indexOf('\0', p);
        if (end < 0)
            break;
        p = end;
    }
    return -1;
}

void StatusDecoder::set_ql(const QByteArray& block) {
    const int start = findStatusFrame(block, ctx_.TCP_INDEX_INC);
    if (start < 0)
        return;
    decodeAt(block, start, false);
}

void StatusDecoder::set_ql_record(const QByteArray& record) {
    {
        std::lock_guard lock(cacheMutex_);
        TCPQuery_.fill(0);
        const auto n = std::min<qsizetype>(record.size(), kPanelCacheSize - 1);
        std::copy_n(reinterpret_cast<const std::uint8_t*>(record.constData()), n,
                    TCPQuery_.begin());
    }
    set_ql(record);
}

std::array<std::uint8_t, StatusDecoder::kPanelCacheSize> StatusDecoder::panelSnapshot() const {
    std::lock_guard lock(cacheMutex_);
    return TCPQuery_;
}

void StatusDecoder::createsms(const QString& number, const QString& text) {
    files_.createsms(number, text);
}

int StatusDecoder::repetition(const Frame& f) const {
    const int F = f.F;
    // The second copy starts right after the first: F + L bytes from the message start.
    const auto repeats = [&](int length, int compared) {
        if (!f.has(F + length + compared - 1))
            return false;
        for (int j = 0; j < compared; ++j) {
            if (f.M(j) != f.M(F + length + j))
                return false;
        }
        return true;
    };
    if (repeats(52, F + 52))
        return 52;
    if (repeats(122, F + 122))
        return 122;
    if (repeats(72, F + 71) || repeats(55, F + 51))
        return 72;
    return 0;
}

void StatusDecoder::buildCache(const Frame& f, int code,
                               std::array<std::uint8_t, kPanelCacheSize>& cache) const {
    cache.fill(0);
    cache[0] = static_cast<std::uint8_t>(code);
    cache[1] = f.B(0);
    cache[2] = f.B(1);
    if (code == 52 || code == 122) {
        for (int i = 3; i <= code; ++i)
            cache[static_cast<std::size_t>(i)] = f.B(i);
    } else {
        for (int i = 3; i <= 72; ++i)
            cache[static_cast<std::size_t>(i)] = f.B(i - 1);
        for (int i = 75; i <= 80; ++i)
            cache[static_cast<std::size_t>(i)] = f.B(i - 1);
    }
}

void StatusDecoder::write_status_logs(const std::array<std::uint8_t, kPanelCacheSize>& cache) {
    const int length = cache[0] + 2;
    const QByteArray bytes(reinterpret_cast<const char*>(cache.data()), length);
    const QString stem = QLatin1String("logs\\status\\") + QString::number(cache[1]) +
                         QLatin1Char('-') + QString::number(cache[2]);
    // The cache is the same while the device's state is; unchanged files are not rewritten.
    files_.writeBytesIfChanged(stem + QLatin1String(".stat"), bytes,
                               QStringLiteral("Error writing status file: "));
    files_.writeBytesIfChanged(stem + QLatin1String(".sta"), bytes,
                               QStringLiteral("Error writing status file: "));
}

void StatusDecoder::decodeAt(const QByteArray& block, int start, bool dontCheckBuffer) {
    try {
        // The Linkel link hands over a whole status record.
        Frame f{block, start, ctx_.TCP_INDEX_INC, kPanelCacheSize};
        // The Linkel hands over each record once, after its length byte: it is decoded at that
        // offset, without the repetition check.
        if (ctx_.linkel_companion)
            dontCheckBuffer = true;
        const std::int32_t adrh = f.B(0);
        const std::int32_t adrl = f.B(1);
        const QDateTime now = ctx_.clock.now();
        const std::int64_t nowMs = ctx_.clock.monotonicMs();
        auto& reg = ctx_.registry;
        for (int i = 0; i < reg.quartel_max && i < DeviceRegistry::kMaxPolled; ++i) {
            auto& entry = reg.rms[static_cast<std::size_t>(i)];
            if (entry.adrh == adrh && entry.adrl == adrl) {
                entry.recent = now;
                entry.recentMs = nowMs;
            }
        }

        if (!dontCheckBuffer) {
            {
                std::lock_guard lock(cacheMutex_);
                TCPQuery_[0] = 0;
            }
            const int code = repetition(f);
            if (code == 0)
                return;
            f.length = code;
            std::array<std::uint8_t, kPanelCacheSize> cache{};
            buildCache(f, code, cache);
            {
                std::lock_guard lock(cacheMutex_);
                TCPQuery_ = cache;
            }
            write_status_logs(cache);
            if (code != 52) {
                files_.flag(QStringLiteral("Velmar$#AQuery.cfg"),
                            code == 122 ? QStringLiteral("Error writing flag file qrx: ")
                                        : QStringLiteral("Error writing flag file qrex: "));
            }
        } else if (ctx_.linkel_companion) {
            // The Linkel's record is the cache as it came.
            write_status_logs(panelSnapshot());
        }

        // A sender without a state record gets the cache and panel record only: it must never
        // overwrite another device's state.
        an* state = reg.stateOf(adrh, adrl);
        if (!state && adrh == kThermelAdrh && adrl == kThermelAdrl) {
            // A heating controller without a device file still gets the forwarded readings.
            sendTemperatures();
            retimeAfterReception();
        }
        if (!state) {
            if (onStatus)
                onStatus();
            return;
        }
        decodeDevice(f, *state);
        if (onStatus)
            onStatus();
    } catch (const std::exception& e) {
        ctx_.log.admem(QLatin1String("Error decoding status: ") + QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ctx_.log.admem(QStringLiteral("Error decoding status: unknown error"));
    }
}

QString StatusDecoder::statusChannelLine(const Frame& f, const an& d, int k) const {
    const auto uk = static_cast<std::size_t>(k);
    return d.adcn[uk] + QLatin1String(": ") + numberText(roundTo(d.adc[uk], 2)) +
           QLatin1String("%   [") + getstrval(f.B(2 * k + 3), f.B(2 * k + 4), d) + QLatin1Char(']');
}

void StatusDecoder::publishChannel(const an& d, int k, bool thermelFormat) {
    const auto uk = static_cast<std::size_t>(k);
    const QString& name = d.adcn[uk];
    if (!files_.usableName(name))
        return;
    QStringList lines;
    lines << fixedText(d.temp[uk], 2);
    if (thermelFormat) {
        lines << QString() << QString();
    } else {
        lines << fixedText(d.light[uk], 2) << fixedText(d.adc[uk], 2);
    }
    while (lines.size() < 8)
        lines << QString();
    const QString base = QLatin1String("logs\\") + d.devname;
    files_.AdcVisualFV(base + QLatin1String("\\Temps\\") + name + QLatin1String(".txt"),
                       base + QLatin1String("\\All\\") + name + QLatin1String(".txt"), lines);
}

void StatusDecoder::decodeDevice(const Frame& f, an& d) {
    const bool isThermel = d.adrh == kThermelAdrh && d.adrl == kThermelAdrl;
    const bool isOutrel = d.extern_;
    const QString& dev = d.devname;

    d.adcprev = d.adc;
    d.lightprev = d.light;
    d.tempprev = d.temp;
    d.outprev = d.out;
    d.intprev = d.int_;
    d.inprev = d.in;

    if (isThermel) {
        decodeThermel(f, d);
        sendTemperatures();
        writeThermelFiles(d);
    } else {
        // The heating controller's byte 29 is a temperature; its program is byte 38.
        d.currentprogram = f.B(29);
    }
    if (isOutrel) {
        outrel.currentzone = f.B(28);
        outrel.currentzonename =
            outrel.currentzone >= 0 && outrel.currentzone < DeviceRegistry::kZoneNamesSize
                ? ctx_.registry.zonenames[static_cast<std::size_t>(outrel.currentzone)]
                : QString();
        for (int m = 1; m <= 3; ++m) {
            // A short frame carries the first expander only.
            if (!carriesModule(f, m))
                continue;
            QByteArray s;
            for (int i = 0; i < 10; ++i)
                s.append(static_cast<char>(f.B(42 + 10 * (m - 1) + i)));
            for (int i = 0; i < 4; ++i)
                s.append(static_cast<char>(f.B(30 + 4 * (m - 1) + i)));
            outrel.inextstat[static_cast<std::size_t>(m)] = s;
        }
    }

    for (int k = 0; k < 8; ++k) {
        const std::uint8_t hi = f.B(2 * k + 3);
        const std::uint8_t lo = f.B(2 * k + 4);
        const auto uk = static_cast<std::size_t>(k);
        d.adc[uk] = calculate_adc_value(hi, lo);
        d.light[uk] = getlight(hi, lo);
        d.temp[uk] = gettemplm(hi, lo, d.RCAL[uk], d.vcc, 10);
    }
    for (std::size_t e = 0; e < heating.TEMP.size(); ++e) {
        const TemperatureSource& src = heating.TEMP[e];
        // Only channels 1..8 exist in the frame.
        if (src.adrh == d.adrh && src.adrl == d.adrl && src.channel >= 1 && src.channel <= 8) {
            heating.temph[e] = f.B(1 + 2 * src.channel);
            heating.templ[e] = f.B(2 + 2 * src.channel);
        }
    }

    // The status text.
    const QString stamp = dev + QLatin1Char(' ') + dateTimeText(ctx_.clock.now());
    QStringList text{stamp};
    if (!isThermel) {
        text << QLatin1String("Program: ") + d.currentprogramname + QLatin1String(" (") +
                    QString::number(d.currentprogram) + QLatin1Char(')');
    }
    if (isOutrel) {
        text << QLatin1String("Zone: ") + outrel.currentzonename + QLatin1String(" (") +
                    QString::number(outrel.currentzone) + QLatin1Char(')')
             << stamp;
    }
    for (int k = 0; k < 8; ++k)
        text << statusChannelLine(f, d, k);
    if (isOutrel)
        files_.flag(QStringLiteral("external.stp"),
                    QStringLiteral("Error creating flag file: external.stp "));
    for (int k = 0; k < 8; ++k) {
        const auto uk = static_cast<std::size_t>(k);
        if (d.adc[uk] != d.adcprev[uk])
            publishChannel(d, k, isThermel);
    }

    // Outputs.
    text << QString() << QStringLiteral("Active Outs:");
    const std::uint32_t outs = isThermel ? f.B(35) + 256u * f.B(36) + 65536u * f.B(37)
                                         : f.B(19) + 256u * f.B(20) + 65536u * f.B(21);
    const int outputs = isThermel ? 24 : 24 + kDedicatedOutputs;
    for (int k = 0; k < outputs; ++k) {
        const bool on = k < 24 ? ((outs >> k) & 1) : bit(f.B(24), k - 24);
        const auto uk = static_cast<std::size_t>(k);
        d.out[uk] = on;
        if (on) {
            text << d.outn[uk];
            files_.cr(dev, d.outn[uk]);
        } else {
            files_.dr(dev, d.outn[uk]);
        }
    }

    if (!isThermel) {
        text << QString() << QStringLiteral("Active Inputs:");
        for (int k = 0; k < 8; ++k) {
            const auto uk = static_cast<std::size_t>(k);
            d.int_[uk] = bit(f.B(23), k);
            if (d.int_[uk]) {
                text << d.intn[uk];
                files_.crin(d.intn[uk]);
            }
        }
        for (int k = 0; k < 8; ++k) {
            const auto uk = static_cast<std::size_t>(k);
            d.in[uk] = bit(f.B(22), k);
            if (d.in[uk]) {
                text << d.inn[uk];
                files_.crin(d.inn[uk]);
            }
        }
    }

    if (isOutrel) {
        QString alarm;
        for (int m = 1; m <= 3; ++m) {
            if (carriesModule(f, m))
                alarm += sensel_.getalarmstate(m);
        }
        if (!alarm.isEmpty()) {
            text << QLatin1String("Alarm: ") + alarm;
            ctx_.log.admem(QLatin1String("SECU: ") + alarm);
            if (ctx_.alarmextender > 0) {
                ctx_.wasalarm = true;
                for (const QString& number : ctx_.settings.smsreports)
                    files_.createsms(number, QLatin1String("Alarm: ") + alarm);
            }
            for (const QString& number : ctx_.settings.smsadmins)
                files_.createsms(number, QLatin1String("Alarm: ") + alarm);
        }
    }

    QString error;
    const QString statusName = QLatin1String("logs\\") + dev + QLatin1String(".txt");
    if (!writeLinesAtomic(ctx_.root.path(statusName), text, &error))
        ctx_.log.admem(QLatin1String("Error writing status file: ") + error);

    for (const QString& view : views) {
        if (view.isEmpty())
            break;
        encode_status(view, d);
    }
}

void StatusDecoder::encode_status(const QString& view, const an& d) {
    if (!files_.usableName(view))
        return;
    struct Element {
        const QString* name;
        bool on;
    };
    std::vector<Element> elements;
    for (int k = 0; k < 29; ++k)
        elements.push_back(
            {&d.outn[static_cast<std::size_t>(k)], d.out[static_cast<std::size_t>(k)]});
    for (int k = 0; k < 8; ++k)
        elements.push_back(
            {&d.intn[static_cast<std::size_t>(k)], d.int_[static_cast<std::size_t>(k)]});
    for (int k = 0; k < 8; ++k)
        elements.push_back(
            {&d.inn[static_cast<std::size_t>(k)], d.in[static_cast<std::size_t>(k)]});
    bool locked = false;
    for (const Element& e : elements) {
        if (e.name->isEmpty())
            continue;
        const QString n = d.devname + QLatin1String(" - ") + *e.name;
        if (!isValidName(n + QLatin1String(".asc")))
            continue;
        // A picture or sound is put in place when the element's state changes (or first seen):
        // rewriting identical files every frame only wears the storage.
        const QString key = view + kBackslash + n;
        const auto known = shown_.find(key);
        if (known != shown_.end() && known.value() == e.on)
            continue;
        shown_.insert(key, e.on);
        const QString s = e.on ? QStringLiteral(" (1)") : QStringLiteral(" (0)");
        const QString picture =
            QLatin1String("all graphics\\") + view + kBackslash + n + s + QLatin1String(".asc");
        if (ctx_.root.exists(picture)) {
            if (!locked) {
                files_.flag(view + QLatin1String(".blk"),
                            QStringLiteral("Error creating flag file: "));
                locked = true;
            }
            ctx_.logFiles.cp(
                picture, QLatin1String("views\\") + view + kBackslash + n + QLatin1String(".asc"),
                false);
        }
        const QString sound = QLatin1String("audios\\") + n + s + ctx_.audioext;
        if (ctx_.root.exists(sound))
            ctx_.logFiles.cp(sound, QLatin1String("audio to play\\") + n + ctx_.audioext, false);
    }
    if (locked)
        files_.remove(view + QLatin1String(".blk"));
}

void StatusDecoder::decodeThermel(const Frame& f, an& d) {
    ThermelState& t = thermel;
    const auto L = [&](int n) { return heating.label(n); };
    const QString& dev = d.devname;
    const auto setFlag = [&](bool on, int label) {
        if (on)
            files_.cr(dev, L(label));
        else
            files_.dr(dev, L(label));
    };
    t.CURRENT_PGM = f.B(38);
    t.current_program = f.B(39);
    d.currentprogram = f.B(38);
    const std::uint8_t b47 = f.B(47), b48 = f.B(48), b49 = f.B(49), b50 = f.B(50), b51 = f.B(51);
    t.recu_speed = b51 & 3;
    t.recu_temperature = b50 & 31;

    QString mode = L(1) + QString::number(t.recu_speed) + QLatin1String(", ") + L(2) +
                   (bit(b50, 7) ? L(3) : L(4)) + (bit(b50, 6) ? L(5) : L(6));
    const int modeBits[4][3] = {{7, 7, 8}, {6, 9, 10}, {5, 11, 12}, {4, 13, 14}};
    for (const auto& mb : modeBits) {
        const bool on = bit(b51, mb[0]);
        if (on)
            mode += L(mb[1]);
        setFlag(on, mb[2]);
    }
    t._recu_mode = mode;
    if (t.recu_speed > 0)
        files_.crw(dev, L(15), mode);
    else
        files_.dr(dev, L(15));

    t.went = bit(b49, 5) ? L(18) : L(19);
    setFlag(bit(b49, 5), 17);
    if (bit(b49, 4))
        t.went += L(20);
    setFlag(bit(b49, 4), 21);
    if (bit(b49, 6))
        t.went += QLatin1String(" ,+");
    if (bit(b49, 7))
        t.went += QLatin1String(" ,-");

    t.sola = bit(b49, 2) ? L(18) : L(19);
    setFlag(bit(b49, 2), 23);

    t.koci = bit(b49, 3) ? L(18) : L(19);
    setFlag(bit(b49, 3), 24);
    if (bit(b49, 1))
        t.koci += L(26);
    setFlag(bit(b49, 1), 25);
    if (bit(b48, 4))
        t.koci += L(27);
    setFlag(bit(b48, 4), 28);
    if (bit(b48, 5))
        t.koci += QLatin1String(" ,!!Alarm!!");
    setFlag(bit(b48, 5), 29);
    if (bit(b48, 6))
        t.koci += L(30);
    // The power flag is up while the power-off bit is clear.
    setFlag(!bit(b48, 6), 31);
    if (bit(b48, 7))
        t.koci += L(32);
    setFlag(bit(b48, 7), 33);
    if (bit(b47, 0))
        t.koci += L(34);
    setFlag(bit(b47, 0), 35);

    t.kom_level = b48 & 7;
    if (t.kom_level == 0)
        t.komi = L(19);
    else if (t.kom_level == 7)
        t.komi = QStringLiteral("!!Alarm!!");
    else
        t.komi = QString::number(t.kom_level);
    if (bit(b49, 0))
        t.komi += L(37);
    if (bit(b48, 3))
        t.komi += L(38);
    if (!t.komi.isEmpty())
        files_.crw(dev, L(39), t.komi);

    t.HADCPrev = t.HADC;
    for (int i = 0; i < 16; ++i) {
        const auto ui = static_cast<std::size_t>(i);
        t.HADC[ui] = gettemplm(f.B(3 + 2 * i), f.B(4 + 2 * i), d.RCAL[1], d.vcc, 10);
        if (t.HADC[ui] == t.HADCPrev[ui])
            continue;
        QStringList lines{fixedText(t.HADC[ui], 2)};
        while (lines.size() < 8)
            lines << QString();
        const QString base = QLatin1String("logs\\") + dev;
        for (const QString& name :
             {heating.heatadcnames[ui], QLatin1String("TEMP") + QString::number(i)}) {
            if (!files_.usableName(name))
                continue;
            files_.AdcVisualFV(base + QLatin1String("\\Temps\\") + name + QLatin1String(".txt"),
                               base + QLatin1String("\\All\\") + name + QLatin1String(".txt"),
                               lines);
        }
    }
}

void StatusDecoder::sendTemperatures() {
    ctx_.AutoQuery.stop();
    if (ctx_.linkel_companion) {
        files_.flag(QStringLiteral("Linkel.stp"),
                    QStringLiteral("Error creating flag file: Linkel.stp "));
        return;
    }
    const QByteArray image = temperatureFrame(heating, ctx_.flags.linkel_addressing);
    if (ctx_.flags.tcpgatewayenabled)
        ctx_.writer.Write_rs232_TCP(image);
    else
        ctx_.writer.Write_rs232(image);
}

void StatusDecoder::retimeAfterReception() {
    ctx_.AutoQuery.setPause(ctx_.timing.AFTER_RECEPTION);
    if (!ctx_.flags.offline && !ctx_.linkel_companion)
        ctx_.AutoQuery.start();
}

void StatusDecoder::writeThermelFiles(const an& d) {
    const ThermelState& t = thermel;
    const auto H = [&](int i) { return numberText(t.HADC[static_cast<std::size_t>(i)]); };
    const auto L = [&](int n) { return heating.label(n); };
    QString logName = L(47);
    if (!files_.usableName(logName))
        logName = QStringLiteral("heating");
    const QStringList summary{
        logName + QLatin1Char(' ') + dateTimeText(ctx_.clock.now()),
        QString(77, QLatin1Char('-')),
        QLatin1String("Program: ") + QString::number(d.currentprogram),
        L(39) + QLatin1String(": (") + H(4) + QLatin1String(", ") + H(6) + QLatin1String(", ") +
            H(5) + QLatin1String(") [") + t.komi + QLatin1Char(']'),
        L(42) + QLatin1String(": (") + H(10) + QLatin1String(") [") + t.koci + QLatin1Char(']'),
        L(43) + QLatin1String(": (") + H(2) + QLatin1String(", ") + H(0) + QLatin1String(", ") +
            H(11) + QLatin1Char(')'),
        L(44) + QLatin1String(": (") + H(9) + QLatin1String(") [") + t.sola + QLatin1Char(']'),
        L(45) + QLatin1String(": (") + H(14) + QLatin1Char(')'),
        t.went,
        L(46) + QLatin1String(": (") + H(7) + QLatin1Char(')'),
        QLatin1String("Zewnętrzna PN: (") + H(8) + QLatin1Char(')'),
        QLatin1String("PD: (") + H(1) + QLatin1Char(')'),
    };
    QString error;
    if (!writeLinesAtomic(ctx_.root.path(QLatin1String("logs\\") + logName + QLatin1String(".log")),
                          summary, &error))
        ctx_.log.admem(QLatin1String("Error writing status file: ") + error);

    retimeAfterReception();

    const QStringList heater{QString::number(t.kom_level),
                             t._recu_mode,
                             QString::number(t.recu_speed),
                             QString::number(t.recu_temperature),
                             QString::number(t.current_program),
                             QString(),
                             QString(),
                             QString()};
    files_.AdcVisualFV(QLatin1String("logs\\") + d.devname + QLatin1String("\\heater.txt"),
                       QStringLiteral("logs\\heater.txtx"), heater);
}

}  // namespace velmar
