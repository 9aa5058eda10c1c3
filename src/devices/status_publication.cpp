#include "devices/status_publication.h"

#include <vector>

#include "base/names.h"
#include "base/text_file.h"
#include "devices/conversions.h"

namespace velmar {

namespace {
// Outputs of the status frame beyond the 24 of the three output bytes.
constexpr int kDedicatedOutputs = 8;
const QString kBackslash = QStringLiteral("\\");

QString channelLine(const StatusFrame& f, const an& d, int k) {
    const auto uk = static_cast<std::size_t>(k);
    return d.adcn[uk] + QLatin1String(": ") + numberText(roundTo(d.adc[uk], 2)) +
           QLatin1String("%   [") + getstrval(f.channelHigh(k), f.channelLow(k), d) +
           QLatin1Char(']');
}

int outputCount(const StatusFrame& f) {
    return f.isThermel() ? 24 : 24 + kDedicatedOutputs;
}
}  // namespace

QStringList statusText(const StatusChange& change, const OutrelState& outrel,
                       const QDateTime& now) {
    const StatusFrame& f = change.frame;
    const an& d = *change.state;
    const QString stamp = d.devname + QLatin1Char(' ') + dateTimeText(now);
    QStringList text{stamp};
    if (!f.isThermel()) {
        text << QLatin1String("Program: ") + d.currentprogramname + QLatin1String(" (") +
                    QString::number(d.currentprogram) + QLatin1Char(')');
    }
    if (change.outrel) {
        text << QLatin1String("Zone: ") + outrel.currentzonename + QLatin1String(" (") +
                    QString::number(outrel.currentzone) + QLatin1Char(')')
             << stamp;
    }
    for (int k = 0; k < 8; ++k)
        text << channelLine(f, d, k);
    text << QString() << QStringLiteral("Active Outs:");
    for (int k = 0; k < outputCount(f); ++k) {
        if (d.out[static_cast<std::size_t>(k)])
            text << d.outn[static_cast<std::size_t>(k)];
    }
    if (!f.isThermel()) {
        text << QString() << QStringLiteral("Active Inputs:");
        for (int k = 0; k < 8; ++k) {
            if (d.int_[static_cast<std::size_t>(k)])
                text << d.intn[static_cast<std::size_t>(k)];
        }
        for (int k = 0; k < 8; ++k) {
            if (d.in[static_cast<std::size_t>(k)])
                text << d.inn[static_cast<std::size_t>(k)];
        }
    }
    if (change.outrel && !change.alarm.isEmpty())
        text << QLatin1String("Alarm: ") + change.alarm;
    return text;
}

void StatusPublication::publishChannel(const an& d, int k, bool thermelFormat) {
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

void StatusPublication::files(const StatusChange& change) {
    const StatusFrame& f = change.frame;
    const an& d = *change.state;
    const QString& dev = d.devname;
    if (change.outrel)
        files_.flag(QStringLiteral("external.stp"),
                    QStringLiteral("Error creating flag file: external.stp "));
    for (int k = 0; k < 8; ++k) {
        if (change.channelChanged[static_cast<std::size_t>(k)])
            publishChannel(d, k, f.isThermel());
    }
    for (int k = 0; k < outputCount(f); ++k) {
        const auto uk = static_cast<std::size_t>(k);
        if (d.out[uk])
            files_.cr(dev, d.outn[uk]);
        else
            files_.dr(dev, d.outn[uk]);
    }
    if (f.isThermel())
        return;
    for (int k = 0; k < 8; ++k) {
        if (d.int_[static_cast<std::size_t>(k)])
            files_.crin(d.intn[static_cast<std::size_t>(k)]);
    }
    for (int k = 0; k < 8; ++k) {
        if (d.in[static_cast<std::size_t>(k)])
            files_.crin(d.inn[static_cast<std::size_t>(k)]);
    }
}

void StatusPublication::text(const StatusChange& change, const OutrelState& outrel) {
    QString error;
    const QString statusName =
        QLatin1String("logs\\") + change.state->devname + QLatin1String(".txt");
    if (!writeLinesAtomic(rt_.root.path(statusName), statusText(change, outrel, rt_.clock.now()),
                          &error))
        rt_.log.admem(QLatin1String("Error writing status file: ") + error);
}

void StatusViews::publish(const StatusChange& change) {
    for (const QString& view : views_) {
        if (view.isEmpty())
            break;
        encode_status(view, *change.state);
    }
}

void StatusViews::encode_status(const QString& view, const an& d) {
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
    const QString& audioext = rt_.settings.audioext;
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
        if (rt_.root.exists(picture)) {
            if (!locked) {
                files_.flag(view + QLatin1String(".blk"),
                            QStringLiteral("Error creating flag file: "));
                locked = true;
            }
            rt_.logFiles.cp(
                picture, QLatin1String("views\\") + view + kBackslash + n + QLatin1String(".asc"),
                false);
        }
        const QString sound = QLatin1String("audios\\") + n + s + audioext;
        if (rt_.root.exists(sound))
            rt_.logFiles.cp(sound, QLatin1String("audio to play\\") + n + audioext, false);
    }
    if (locked)
        files_.remove(view + QLatin1String(".blk"));
}

}  // namespace velmar
