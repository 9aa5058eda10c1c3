#include "heating/heating_tables.h"

#include "base/chkint.h"
#include "base/text_file.h"
#include "log/event_log.h"

namespace velmar {

namespace {
const char* const kLabelDefaults[47] = {
    "Level:",
    "Mode:",
    "Winter, ",
    "Summer, ",
    "Manual, ",
    "Auto, ",
    "Radiator, ",
    "Radiator",
    "GWC, ",
    "Went GWC",
    "Aux GWC Went, ",
    "Aux GWC Went",
    "DGP On, ",
    "DGP Went",
    "Went",
    " Rekuperator: ",
    "Wentilation",
    "ON",
    "OFF",
    " ,Nagrzewnica ON",
    "Nagrzewnica Pompa",
    "WENTYLACJA: ",
    "Solar Pompa",
    "Kociol On",
    "Kociol Pompa",
    " ,Pompa ON",
    " ,Brak Opalu",
    "Kociol - Brak Opalu",
    "Kociol - Alarm",
    " ,Power OFF",
    "Kociol - Power",
    " ,Podajnik ON",
    "Kociol - Podajnik",
    " ,Podajnik ZEW",
    "Kociol - Podajnik Zew",
    "     ;     KOCIOL: ",
    " ,Pompa ON",
    " ,Delta Czujnikow",
    "Kominek",
    "     ;     KOMINEK: ",
    "     ;     SOLAR: ",
    "Kociol",
    "Zbiornik",
    "Solar",
    "System Nawiewu",
    "T Wewnętrzna",
    "Ogrzewanie",
};

const char* const kChannelDefaults[16] = {
    "Temperatura Zasobnik Środek",
    "Temperatura Zewnętrzna PD",
    "Temperatura Zasobnik Góra",
    "Temperatura GWC",
    "Temperatura Kominek",
    "Temperatura Kominek Konwekcja",
    "Temperatura Kominek 2",
    "Temperatura wewnętrzna",
    "Temperatura Zewnętrzna PN",
    "Temperatura Kolektora Słonecznego",
    "Temperatura Kotła",
    "Temperatura Zasobnik Dół",
    "Temperatura Wejście Rekuperatora",
    "Temperatura Wyjście Rekuperatora",
    "Temperatura Nagrzewnicy",
    "Temperatura Wyciąg Rekuperatora",
};

// Reads a list file or writes it with the defaults when missing; the lines in effect.
QStringList readOrCreate(const DataRoot& root, EventLog& log, const QString& name,
                         const QStringList& defaults, const QString& what) {
    const QString path = root.path(name);
    if (root.exists(name)) {
        if (auto lines = readLines(path))
            return *lines;
        log.admem(QLatin1String("Error reading ") + what + QLatin1String(" file: ") + name);
        return defaults;
    }
    QString error;
    if (!writeLinesAtomic(path, defaults, &error))
        log.admem(QLatin1String("Error writing ") + what + QLatin1String(" file: ") + error);
    return defaults;
}
}  // namespace

HeatingTables::HeatingTables() {
    const QStringList labels = defaultHeatingLabels();
    for (int i = 1; i <= kLabels; ++i)
        heati[static_cast<std::size_t>(i)] = labels.value(i - 1);
    const QStringList names = defaultHeatAdcNames();
    for (int i = 0; i < kChannels; ++i)
        heatadcnames[static_cast<std::size_t>(i)] = names.value(i);
}

const QString& HeatingTables::label(int n) const {
    static const QString empty;
    return n >= 1 && n <= kLabels ? heati[static_cast<std::size_t>(n)] : empty;
}

QStringList defaultHeatingLabels() {
    QStringList out;
    for (const char* text : kLabelDefaults)
        out.append(QString::fromUtf8(text));
    while (out.size() < HeatingTables::kLabels)
        out.append(QString());
    return out;
}

QStringList defaultHeatAdcNames() {
    QStringList out;
    for (const char* text : kChannelDefaults)
        out.append(QString::fromUtf8(text));
    return out;
}

std::array<TemperatureSource, HeatingTables::kForwardEntries> parseTemperatureSources(
    const QStringList& lines) {
    std::array<TemperatureSource, HeatingTables::kForwardEntries> out{};
    for (int e = 0; e < HeatingTables::kLoadedEntries; ++e) {
        const QString line = lines.value(e);
        const qsizetype c1 = line.indexOf(QLatin1Char(','));
        const qsizetype c2 = c1 < 0 ? -1 : line.indexOf(QLatin1Char(','), c1 + 1);
        const QString h = c1 < 0 ? line : line.left(c1);
        // The address low is the text between the first and the second ",".
        const QString l = c2 < 0 ? QString() : line.mid(c1 + 1, c2 - c1 - 1);
        QString c;
        if (c2 >= 0) {
            const qsizetype semi = line.indexOf(QLatin1Char(';'), c2 + 1);
            // Without ";" the channel field is not terminated and counts as invalid.
            if (semi >= 0)
                c = line.mid(c2 + 1, semi - c2 - 1);
        }
        auto& entry = out[static_cast<std::size_t>(e)];
        entry.adrh = chkint(h, 1, 200, 200);
        entry.adrl = chkint(l, 1, 200, 200);
        entry.channel = chkint(c, 1, 200, 2);
    }
    return out;
}

void loadHeatingTables(const DataRoot& root, EventLog& log, const QString& locale,
                       HeatingTables& tables) {
    root.makeDir(QStringLiteral("lang"));
    const QStringList names =
        readOrCreate(root, log, QLatin1String("lang\\heat-adc.") + locale, defaultHeatAdcNames(),
                     QStringLiteral("heater adc names"));
    for (int i = 0; i < HeatingTables::kChannels; ++i)
        tables.heatadcnames[static_cast<std::size_t>(i)] = names.value(i);
    const QStringList labels =
        readOrCreate(root, log, QLatin1String("lang\\") + locale + QLatin1String(".het"),
                     defaultHeatingLabels(), QStringLiteral("heater lang"));
    for (int i = 1; i <= HeatingTables::kLabels; ++i)
        tables.heati[static_cast<std::size_t>(i)] = labels.value(i - 1);

    tables.TEMP = {};
    const QString cfg = QStringLiteral("temperatures.cfg");
    if (!root.exists(cfg))
        return;
    const auto lines = readLines(root.path(cfg));
    if (!lines) {
        log.admem(QStringLiteral("Error reading temperatures file: temperatures.cfg"));
        return;
    }
    tables.TEMP = parseTemperatureSources(*lines);
}

QByteArray temperatureFrame(const HeatingTables& tables, bool linkelAddressing) {
    QByteArray image;
    image.append(static_cast<char>(linkelAddressing ? 17 : 15));
    image.append('\x01');
    image.append('\x01');
    if (linkelAddressing) {
        image.append(static_cast<char>(254));
        image.append(static_cast<char>(254));
    }
    image.append('T');
    for (int e = 0; e < HeatingTables::kLoadedEntries; ++e) {
        image.append(static_cast<char>(tables.temph[static_cast<std::size_t>(e)]));
        image.append(static_cast<char>(tables.templ[static_cast<std::size_t>(e)]));
    }
    image.append(2, '\0');
    return image;
}

}  // namespace velmar
