#include "devices/registry.h"

#include <algorithm>
#include <utility>

#include "base/chkint.h"
#include "base/dir_listing.h"
#include "base/names.h"
#include "base/text_file.h"

namespace velmar {

namespace {

const QString kDeviceDir = QStringLiteral("devices aliases");
const QString kTemplatePrefix = QStringLiteral("TEMPLATE_");

// Line n (from 1) of a file, empty when the file is shorter.
QString lineAt(const QStringList& lines, int n) {
    return lines.value(n - 1);
}

// A decimal number of a device file; the fallback when unparsable or outside [min, max].
double numberAt(const QStringList& lines, int n, double min, double max, double fallback) {
    bool ok = false;
    const double v = lineAt(lines, n).toDouble(&ok);
    return ok && v >= min && v <= max ? v : fallback;
}

// Copies the lines into the table from its first element until either runs out.
template <std::size_t N>
void fillNames(const QStringList& lines, std::array<QString, N>& table) {
    const std::size_t n = std::min(table.size(), static_cast<std::size_t>(lines.size()));
    for (std::size_t i = 0; i < n; ++i)
        table[i] = lines[static_cast<qsizetype>(i)];
}

QString refused(const QString& what, const QString& name) {
    return what + QLatin1String(" \"") + name + QLatin1String("\" fails the naming rule");
}

}  // namespace

DeviceRegistry::DeviceRegistry(const DataRoot& root, EventLog& log, const Clock& clock)
    : ethstate(kMaxEthernetDevices),
      aliasesus(kAliasTableSize),
      root_(root),
      log_(log),
      clock_(clock) {}

std::optional<QStringList> DeviceRegistry::readText(const QString& name) {
    QString error;
    const auto bytes = readFile(root_.path(name), &error);
    if (!bytes) {
        log_.admem(QLatin1String("Error reading file: ") + name + QLatin1String(" -> ") + error);
        return std::nullopt;
    }
    return splitLines(*bytes);
}

bool DeviceRegistry::makeDirLogged(const QString& name) {
    if (root_.makeDir(name))
        return true;
    log_.admem(QLatin1String("Error creating directory: ") + name + QLatin1String(" -> ") +
               root_.path(name));
    return false;
}

void DeviceRegistry::makeLogFolders(const QString& name, const QStringList& subfolders) {
    const QString dir = QLatin1String("logs\\") + name;
    if (!makeDirLogged(QStringLiteral("logs")) || !makeDirLogged(dir))
        return;
    for (const QString& sub : subfolders)
        makeDirLogged(dir + QLatin1Char('\\') + sub);
}

// ---- device scan ----

void DeviceRegistry::scanDevices() {
    rms.fill(deviceadr{});
    alrm.fill(deviceadr{});
    quartel_max = 0;
    alarm_max = 0;
    extern_device_index = -1;
    scannedNames.clear();

    const QDateTime now = clock_.now();
    const QStringList files =
        listDir(root_.path(kDeviceDir), QStringLiteral("*.dev"), EntryKind::Files);
    for (const QString& file : files) {
        const QString fileName = kDeviceDir + QLatin1Char('\\') + file;
        const auto lines = readText(fileName);
        if (!lines)
            continue;
        const QString name = lineAt(*lines, 1);
        const QString type = lineAt(*lines, 2).trimmed();
        // The external controller is a room controller with more outputs: polled the same way.
        const bool polled = type == QLatin1String("Quartel") || type == QLatin1String("Outrel");
        const bool alarm = type == QLatin1String("Alarm");
        if ((!polled && !alarm) || name.startsWith(kTemplatePrefix))
            continue;
        if (!isValidName(name)) {
            log_.admem(QLatin1String("Error device name: ") + fileName + QLatin1String(" -> ") +
                       refused(QStringLiteral("name"), name));
            continue;
        }
        const std::int32_t adrh = chkint(lineAt(*lines, 3), 1, 255, 55);
        const std::int32_t adrl = chkint(lineAt(*lines, 4), 1, 255, 55);
        const deviceadr entry{adrh, adrl, now, clock_.monotonicMs(), name, QString()};
        const QString address = QString::number(adrh) + QLatin1Char('-') + QString::number(adrl);

        if (polled) {
            if (pollIndexOf(adrh, adrl) >= 0) {
                log_.admem(QLatin1String("Duplicate device address: ") + fileName +
                           QLatin1String(" -> ") + address + QLatin1String(" already polled"));
                continue;
            }
            if (quartel_max >= kMaxPolled) {
                log_.admem(QLatin1String("Device table full: ") + fileName +
                           QLatin1String(" -> not polled, ") + QString::number(kMaxPolled) +
                           QLatin1String(" devices registered"));
                continue;
            }
            if (adrh == kExternAdrh && adrl == kExternAdrl)
                extern_device_index = quartel_max;
            rms[static_cast<std::size_t>(quartel_max++)] = entry;
            scannedNames.append(name);
        } else {
            if (alarmIndexOf(adrh, adrl) >= 0) {
                log_.admem(QLatin1String("Duplicate device address: ") + fileName +
                           QLatin1String(" -> ") + address + QLatin1String(" already an alarm"));
                continue;
            }
            if (alarm_max >= kAlarmTableSize) {
                log_.admem(QLatin1String("Alarm table full: ") + fileName +
                           QLatin1String(" -> not registered, ") +
                           QString::number(kAlarmTableSize) +
                           QLatin1String(" alarm devices registered"));
                continue;
            }
            alrm[static_cast<std::size_t>(alarm_max++)] = entry;
            scannedNames.append(name);
        }
    }
    // End markers (address 0-0) for the readers that walk the tables up to them.
    rms[static_cast<std::size_t>(quartel_max)] = deviceadr{};
    if (alarm_max < kAlarmTableSize)
        alrm[static_cast<std::size_t>(alarm_max)] = deviceadr{};
}

// ---- device state records ----

void DeviceRegistry::loadnames_ql() {
    devstate.fill(an{});
    devstateCount = 0;
    const QStringList files =
        listDir(root_.path(kDeviceDir), QStringLiteral("*.dev"), EntryKind::Files);
    for (int i = 0; i < files.size(); ++i) {
        if (i >= kMaxDeviceFiles) {
            log_.admem(QLatin1String("Device table full: ") + kDeviceDir + QLatin1Char('\\') +
                       files[i] + QLatin1String(" -> not loaded, ") +
                       QString::number(kMaxDeviceFiles) + QLatin1String(" device files loaded"));
            continue;
        }
        loadDeviceFile(files[i], devstate[static_cast<std::size_t>(i)]);
        devstateCount = i + 1;
    }
}

void DeviceRegistry::loadDeviceFile(const QString& file, an& state) {
    const QString fileName = kDeviceDir + QLatin1Char('\\') + file;
    const QString stem = file.chopped(4);  // without ".dev"
    const auto read = readText(fileName);
    if (!read)
        return;
    const QStringList& lines = *read;
    const QString name = lineAt(lines, 1);
    if (!isValidName(name)) {
        log_.admem(QLatin1String("Error device name: ") + fileName + QLatin1String(" -> ") +
                   refused(QStringLiteral("name"), name));
        return;
    }
    state.devname = name;
    makeLogFolders(name, {QStringLiteral("Outs"), QStringLiteral("Temps"), QStringLiteral("Ins"),
                          QStringLiteral("All")});
    state.adrh = chkint(lineAt(lines, 3), 1, 255, 55);
    state.adrl = chkint(lineAt(lines, 4), 1, 255, 55);
    loadCalibration(stem, state);

    // Analogue input k: lower threshold at line 11 + 5 (k - 1), upper one line later. Input 2
    // accepts -50..150, the others 0..100.
    for (int k = 0; k < 8; ++k) {
        const int at = 11 + 5 * k;
        const double lo = k == 1 ? -50 : 0;
        const double hi = k == 1 ? 150 : 100;
        state.adcmin[k] = numberAt(lines, at, lo, hi, 0);
        state.adcmax[k] = numberAt(lines, at + 1, lo, hi, 100);
    }
    // Light controller k from line 123 + 8 (k - 1), temperature controller k from 155 + 8 (k - 1):
    // minimum, maximum, hysteresis.
    for (int k = 0; k < 4; ++k) {
        const int light = 123 + 8 * k;
        state.lightmin[k] = numberAt(lines, light, 0, 100, 0);
        state.lightmax[k] = numberAt(lines, light + 1, 0, 100, 100);
        state.lighthist[k] = numberAt(lines, light + 2, 0, 10, 10);
        const int temp = 155 + 8 * k;
        state.tempmin[k] = numberAt(lines, temp, 0, 100, 0);
        state.tempmax[k] = numberAt(lines, temp + 1, 0, 100, 100);
        state.temphist[k] = numberAt(lines, temp + 2, 0, 10, 10);
    }

    const auto names = [&](int first, auto& table) {
        for (std::size_t i = 0; i < table.size(); ++i)
            table[i] = lineAt(lines, first + static_cast<int>(i));
    };
    names(187, state.adcn);
    for (int i = 0; i < 24; ++i)
        state.outn[static_cast<std::size_t>(i)] = lineAt(lines, 195 + i);
    names(219, state.inn);
    names(227, state.intn);
    names(235, state.lightn);
    names(239, state.tempn);
    state.an3temp2 = lineAt(lines, 243) == QLatin1String("ON");
    state.extern_ = lineAt(lines, 244) == QLatin1String("ON");

    // Dedicated outputs 25..35 are named in the device's own ".oex" file.
    const QString oex = kDeviceDir + QLatin1Char('\\') + stem + QLatin1String(".oex");
    if (root_.exists(oex)) {
        if (const auto extra = readText(oex)) {
            for (int i = 0; i < 11; ++i)
                state.outn[static_cast<std::size_t>(24 + i)] = lineAt(*extra, 1 + i);
        }
    }
}

void DeviceRegistry::loadCalibration(const QString& stem, an& state) {
    constexpr std::int32_t kVcc = 5000;
    constexpr std::int32_t kRcal = -27315;
    state.vcc = kVcc;
    state.RCAL.fill(kRcal);
    const QString name = kDeviceDir + QLatin1Char('\\') + stem + QLatin1String(".cal");
    if (!root_.exists(name)) {
        QStringList defaults{QString::number(kVcc)};
        for (int i = 0; i < 8; ++i)
            defaults.append(QString::number(kRcal));
        QString error;
        if (!writeLinesAtomic(root_.path(name), defaults, &error))
            log_.admem(QLatin1String("Error writing file: ") + name + QLatin1String(" -> ") +
                       error);
        return;
    }
    const auto lines = readText(name);
    if (!lines)
        return;
    state.vcc = chkint(lineAt(*lines, 1), 1000, 6000, kVcc);
    for (int k = 0; k < 8; ++k)
        state.RCAL[static_cast<std::size_t>(k)] =
            chkint(lineAt(*lines, 2 + k), -60000, -10000, kRcal);
}

// ---- Ethernet devices ----

void DeviceRegistry::readethernetdevs() {
    eth.fill(deviceadr{});
    ethstate.assign(kMaxEthernetDevices, ethan{});
    ethernetdevscount = 0;
    linkelIndex = -1;
    makeDirLogged(QStringLiteral("devs"));
    const QStringList files =
        listDir(root_.path(QStringLiteral("devs")), QStringLiteral("*.cfg"), EntryKind::Files);
    for (const QString& file : files) {
        const QString fileName = QLatin1String("devs\\") + file;
        if (ethernetdevscount >= kMaxEthernetDevices) {
            log_.admem(QLatin1String("Ethernet device table full: ") + fileName +
                       QLatin1String(" -> not loaded, ") + QString::number(kMaxEthernetDevices) +
                       QLatin1String(" devices loaded"));
            continue;
        }
        const auto lines = readText(fileName);
        if (!lines)
            continue;
        // Line 1 is both the device's folder and its address: 3 digits high, then low.
        const QString folder = lineAt(*lines, 1);
        const QString name = lineAt(*lines, 2);
        if (!isValidName(folder)) {
            log_.admem(QLatin1String("Error device folder: ") + fileName + QLatin1String(" -> ") +
                       refused(QStringLiteral("folder"), folder));
            continue;
        }
        if (!isValidName(name)) {
            log_.admem(QLatin1String("Error device name: ") + fileName + QLatin1String(" -> ") +
                       refused(QStringLiteral("name"), name));
            continue;
        }
        const int n = ethernetdevscount++;
        const auto un = static_cast<std::size_t>(n);
        deviceadr& e = eth[un];
        e.adrh = parseInt32(folder.left(3)).value_or(-1);
        e.adrl = parseInt32(folder.mid(3, 6)).value_or(-1);
        e.path = folder;
        e.name = name;
        e.recent = QDateTime();
        if (e.adrh == kLinkelAdrh && e.adrl == kLinkelAdrl)
            linkelIndex = n;
        ethstate[un].devname = name;
        ethstate[un].adrh = e.adrh;
        ethstate[un].adrl = e.adrl;
        makeLogFolders(name, {QStringLiteral("Outs"), QStringLiteral("Inputs"),
                              QStringLiteral("Adcs"), QStringLiteral("All")});
        loadEthernetNames(folder, n);
        loadAdcScaling(folder, ethstate[un]);
    }
}

void DeviceRegistry::loadEthernetNames(const QString& folder, int n) {
    const auto fill = [&](const char* file, auto& table) {
        const QString name = folder + QLatin1Char('\\') + QLatin1String(file);
        if (!root_.exists(name))
            return;
        if (const auto lines = readText(name))
            fillNames(*lines, table);
    };
    ethan& s = ethstate[static_cast<std::size_t>(n)];
    fill("AdcNames.txt", s.adcsnames);
    fill("AdditionalOutputNames.txt", s.xdoutsnames);
    fill("SensorNames.txt", s.xdinsnames);
    fill("AdcPrograms.txt", s.adcprogramsnames);
    fill("RollerNames.txt", s.rollernames);
    // The security programs are the Linkel's, wherever they are kept.
    if (linkelIndex >= 0)
        fill("SecuPrograms.txt", ethstate[static_cast<std::size_t>(linkelIndex)].programsnames);
    fill("ZonesNames.txt", s.zonenames);
}

void DeviceRegistry::loadAdcScaling(const QString& folder, ethan& s) {
    const QString configName = folder + QLatin1String("\\AdcConfig.cfg");
    const QString typesName = folder + QLatin1String("\\ADCSensorTypes.txt");
    if (!root_.exists(configName) || !root_.exists(typesName))
        return;
    const auto config = readText(configName);
    const auto types = readText(typesName);
    if (!config || !types)
        return;
    if (types->isEmpty()) {
        log_.admem(QLatin1String("Error in file: ") + typesName +
                   QLatin1String(" -> no sensor types"));
        return;
    }
    const int channels = std::min<int>(static_cast<int>(config->size()), s.adcsVCC.size());
    for (int i = 0; i < channels; ++i) {
        // Sensor type L is line L of the type list, clamped to its first and last lines.
        const std::int32_t type = parseInt32(config->at(i)).value_or(-1);
        const int typeLine = std::clamp<int>(type, 1, static_cast<int>(types->size()));
        const QString typeName = types->at(typeLine - 1);
        if (!isValidName(typeName)) {
            log_.admem(QLatin1String("Error sensor type: ") + typesName + QLatin1String(" -> ") +
                       refused(QStringLiteral("type"), typeName));
            continue;
        }
        const QString paramName = folder + QLatin1String("\\ADCS\\") + typeName + QLatin1Char(' ') +
                                  QString::number(i + 1) + QLatin1String(".cfg");
        const auto p = readText(paramName);
        if (!p)
            continue;
        const auto scaled = [&](int n) {
            return static_cast<double>(parseInt64(lineAt(*p, n)).value_or(-1)) / 1e10;
        };
        const auto ui = static_cast<std::size_t>(i);
        s.adcsVCC[ui] = scaled(1);
        s.adcsOffset[ui] = scaled(2);
        s.adcsFactor[ui] = scaled(3);
        s.adcsPrecision[ui] = chkint(lineAt(*p, 4), 0, 15, 0);
        s.adcsOption[ui] = chkint(lineAt(*p, 5), INT32_MIN, INT32_MAX, 0);
        s.adcssuffix[ui] = lineAt(*p, 6);
    }
}

// ---- lookups ----

int DeviceRegistry::pollIndexOf(std::int32_t adrh, std::int32_t adrl) const {
    for (int i = 0; i < quartel_max; ++i) {
        const deviceadr& d = rms[static_cast<std::size_t>(i)];
        if (d.adrh == adrh && d.adrl == adrl)
            return i;
    }
    return -1;
}

int DeviceRegistry::alarmIndexOf(std::int32_t adrh, std::int32_t adrl) const {
    for (int i = 0; i < alarm_max; ++i) {
        const deviceadr& d = alrm[static_cast<std::size_t>(i)];
        if (d.adrh == adrh && d.adrl == adrl)
            return i;
    }
    return -1;
}

int DeviceRegistry::ethIndexOf(std::int32_t adrh, std::int32_t adrl) const {
    for (int i = 0; i < ethernetdevscount; ++i) {
        const deviceadr& d = eth[static_cast<std::size_t>(i)];
        if (d.adrh == adrh && d.adrl == adrl)
            return i;
    }
    return -1;
}

const als* DeviceRegistry::findAlias(const QString& devtype, const QString& command) const {
    for (int i = 0; i < alias_max; ++i) {
        const als& a = aliasesus[static_cast<std::size_t>(i)];
        if (a.devtype.compare(devtype, Qt::CaseInsensitive) == 0 &&
            a.command.compare(command, Qt::CaseInsensitive) == 0)
            return &a;
    }
    return nullptr;
}

const an* DeviceRegistry::stateOf(std::int32_t adrh, std::int32_t adrl) const {
    for (int i = 0; i < devstateCount; ++i) {
        const an& s = devstate[static_cast<std::size_t>(i)];
        // Records of unreadable or refused files keep no name.
        if (!s.devname.isEmpty() && s.adrh == adrh && s.adrl == adrl)
            return &s;
    }
    return nullptr;
}

an* DeviceRegistry::stateOf(std::int32_t adrh, std::int32_t adrl) {
    return const_cast<an*>(std::as_const(*this).stateOf(adrh, adrl));
}

}  // namespace velmar
