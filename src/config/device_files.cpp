#include "config/device_files.h"

#include "base/chkint.h"
#include "base/dir_listing.h"
#include "base/text_file.h"

namespace velmar {

namespace {

const QString kDir = QStringLiteral("devices aliases\\");

QString onOff(bool on) {
    return on ? QStringLiteral("ON") : QStringLiteral("OFF");
}

std::optional<QStringList> readIfThere(Runtime& rt, const QString& name) {
    if (!rt.root.exists(name))
        return std::nullopt;
    QString error;
    const auto bytes = readFile(rt.root.path(name), &error);
    if (!bytes) {
        rt.log.admem(QLatin1String("Error reading file: ") + name + QLatin1String(" -> ") + error);
        return std::nullopt;
    }
    return splitLines(*bytes);
}

bool write(Runtime& rt, const QString& name, const QStringList& lines) {
    QString error;
    if (writeLinesAtomic(rt.root.path(name), lines, &error))
        return true;
    rt.log.admem(QLatin1String("Error writing file: ") + name + QLatin1String(" -> ") + error);
    return false;
}

template <std::size_t N>
void reselect(std::array<Choice, N>& fields, const QStringList& list) {
    for (Choice& c : fields)
        c = choose(list, c.text);
}

}  // namespace

QStringList deviceFileLines(const DeviceSettings& s) {
    QStringList l;
    l << s.DName << s.DType << s.DAddrH.text << s.DAddrL.text << s.RSspeed.text << s.ModFreq1.text
      << QString::number(s.RCType) << s.ModFreq2.text << s.ModDuty2.text << s.LVD.text;
    for (std::size_t k = 0; k < 8; ++k)
        l << s.AdcL[k].text << s.AdcH[k].text << s.AdcLEv[k] << s.AdcHEv[k] << s.ADCOKEv[k];
    for (const QString& o : s.DevOut)
        l << o;
    for (std::size_t k = 0; k < 8; ++k)
        l << s.InpWL[k].text << s.InputLEv[k] << s.InputHEv[k];
    for (std::size_t k = 0; k < 8; ++k)
        l << s.intwl[k].text << s.intlev[k] << s.inthev[k];
    for (std::size_t k = 0; k < 4; ++k)
        l << s.LightL[k].text << s.LightH[k].text << s.LightHist[k].text << s.LightOkEv[k]
          << s.LightLEv[k] << s.LightHEv[k] << s.LightOp[k].text << s.LightFu[k];
    for (std::size_t k = 0; k < 4; ++k)
        l << s.TempL[k].text << s.TempH[k].text << s.Hist[k].text << s.TempOkEv[k] << s.TempLEv[k]
          << s.TempHEv[k] << s.TempOp[k].text << s.TempFu[k];
    for (const QString& n : s.ADC)
        l << n;
    for (std::size_t k = 0; k < 24; ++k)
        l << (s.CheckBox2 ? s.OutrelName[k] : s.O[k]);
    for (const QString& n : s.DigitalIn)
        l << n;
    for (const QString& n : s.IntInp)
        l << n;
    for (const QString& n : s.LightContr)
        l << n;
    for (const QString& n : s.TempContr)
        l << n;
    l << onOff(s.CheckBox1) << onOff(s.CheckBox2);
    if (s.CheckBox2) {
        for (const Choice& c : s.OutrelDefault)
            l << c.text;
    }
    l << QString::number(s.ComboBox14) << QString::number(s.ComboBox15)
      << QString::number(s.ComboBox17) << QString::number(s.ComboBox18);
    return l;
}

void readDeviceFileLines(const QStringList& lines, DeviceSettings& s) {
    int n = 0;
    const auto next = [&]() { return lines.value(n++); };
    const auto choice = [&](Choice& c) { c = Choice{next(), -1}; };
    s.DName = next();
    s.DType = next();
    choice(s.DAddrH);
    choice(s.DAddrL);
    choice(s.RSspeed);
    choice(s.ModFreq1);
    s.RCType = chkint(next(), 0, 3, 0);
    choice(s.ModFreq2);
    choice(s.ModDuty2);
    choice(s.LVD);
    for (std::size_t k = 0; k < 8; ++k) {
        choice(s.AdcL[k]);
        choice(s.AdcH[k]);
        s.AdcLEv[k] = next();
        s.AdcHEv[k] = next();
        s.ADCOKEv[k] = next();
    }
    for (QString& o : s.DevOut)
        o = next();
    for (std::size_t k = 0; k < 8; ++k) {
        choice(s.InpWL[k]);
        s.InputLEv[k] = next();
        s.InputHEv[k] = next();
    }
    for (std::size_t k = 0; k < 8; ++k) {
        choice(s.intwl[k]);
        s.intlev[k] = next();
        s.inthev[k] = next();
    }
    for (std::size_t k = 0; k < 4; ++k) {
        choice(s.LightL[k]);
        choice(s.LightH[k]);
        choice(s.LightHist[k]);
        s.LightOkEv[k] = next();
        s.LightLEv[k] = next();
        s.LightHEv[k] = next();
        choice(s.LightOp[k]);
        s.LightFu[k] = next();
    }
    for (std::size_t k = 0; k < 4; ++k) {
        choice(s.TempL[k]);
        choice(s.TempH[k]);
        choice(s.Hist[k]);
        s.TempOkEv[k] = next();
        s.TempLEv[k] = next();
        s.TempHEv[k] = next();
        choice(s.TempOp[k]);
        s.TempFu[k] = next();
    }
    for (QString& a : s.ADC)
        a = next();
    // Lines 195-218: a Quartel's outputs 1..24, an Outrel's 24 output names.
    QStringList outputs;
    for (int k = 0; k < 24; ++k)
        outputs << next();
    for (QString& d : s.DigitalIn)
        d = next();
    for (QString& i : s.IntInp)
        i = next();
    for (QString& c : s.LightContr)
        c = next();
    for (QString& c : s.TempContr)
        c = next();
    s.CheckBox1 = next() == QLatin1String("ON");
    s.CheckBox2 = next() == QLatin1String("ON");
    for (std::size_t k = 0; k < 24; ++k) {
        s.O[k] = outputs[static_cast<qsizetype>(k)];
        if (s.CheckBox2)
            s.OutrelName[k] = outputs[static_cast<qsizetype>(k)];
    }
    if (s.CheckBox2) {
        // `tci`: the entry with that text, else the list's first.
        for (std::size_t j = 0; j < 24; ++j) {
            Choice c = choose(outrelList(static_cast<int>(j)), next());
            s.OutrelDefault[j] = c.selected() ? c : chooseIndex(outrelList(static_cast<int>(j)), 0);
        }
    }
    s.ComboBox14 = chkint(next(), 0, 24, 0);
    s.ComboBox15 = chkint(next(), 0, 24, 0);
    s.ComboBox17 = chkint(next(), 0, 1023, 0);
    s.ComboBox18 = chkint(next(), 0, 255, 255);
}

void selectFields(DeviceSettings& s, const ThresholdLists& thresholds) {
    const ValueLists& v = valueLists();
    s.DAddrH = choose(v.addresses, s.DAddrH.text);
    s.DAddrL = choose(v.addresses, s.DAddrL.text);
    s.RSspeed = choose(v.speeds, s.RSspeed.text);
    s.ModFreq1 = choose(v.bytes, s.ModFreq1.text);
    s.ModFreq2 = choose(v.bytes, s.ModFreq2.text);
    s.ModDuty2 = choose(v.bytes, s.ModDuty2.text);
    s.LVD = choose(v.lvd, s.LVD.text);
    for (std::size_t k = 0; k < 8; ++k) {
        s.AdcL[k] = choose(thresholds[k], s.AdcL[k].text);
        s.AdcH[k] = choose(thresholds[k], s.AdcH[k].text);
    }
    reselect(s.InpWL, v.levels);
    reselect(s.intwl, v.levels);
    reselect(s.LightL, v.light);
    reselect(s.LightH, v.light);
    reselect(s.LightHist, v.light);
    reselect(s.LightOp, v.noYes);
    reselect(s.TempL, v.temperature);
    reselect(s.TempH, v.temperature);
    reselect(s.Hist, v.temperature);
    reselect(s.TempOp, v.noYes);
}

void Companions::readAdv(Runtime& rt, const QString& stem, DeviceSettings& s) {
    s.ViaComm = false;
    s.AutoStat = false;
    s.DevsCount = -1;  // past the list: no selection
    const auto lines = readIfThere(rt, kDir + stem + QLatin1String(".adv"));
    if (!lines)
        return;
    s.DevsCount = chkint(lines->value(0), 0, 31, 0);
    s.ViaComm = lines->value(1) == QLatin1String("1");
    s.AutoStat = lines->value(2) == QLatin1String("1");
}

bool Companions::writeAdv(Runtime& rt, const QString& stem, const DeviceSettings& s) {
    const int count = s.DevsCount >= 0 && s.DevsCount <= 31 ? s.DevsCount : 0;
    return write(rt, kDir + stem + QLatin1String(".adv"),
                 {QString::number(count), s.ViaComm ? QStringLiteral("1") : QStringLiteral("0"),
                  s.AutoStat ? QStringLiteral("1") : QStringLiteral("0")});
}

void Companions::readOex(Runtime& rt, const QString& stem, DeviceSettings& s) {
    const auto lines = readIfThere(rt, kDir + stem + QLatin1String(".oex"));
    if (!lines)
        return;
    for (int k = 0; k < 11; ++k)
        s.O[static_cast<std::size_t>(24 + k)] = lines->value(k);
}

bool Companions::writeOex(Runtime& rt, const QString& stem, const DeviceSettings& s) {
    QStringList lines;
    for (int k = 24; k < 35; ++k)
        lines << s.O[static_cast<std::size_t>(k)];
    return write(rt, kDir + stem + QLatin1String(".oex"), lines);
}

bool Companions::readDex(Runtime& rt, const QString& stem, DeviceSettings& s) {
    const auto lines = readIfThere(rt, kDir + stem + QLatin1String(".dex"));
    if (!lines)
        return false;
    for (int k = 0; k < 24; ++k)
        s.OutrelName[static_cast<std::size_t>(k)] = lines->value(k);
    return true;
}

void Companions::readPgm(Runtime& rt, const QString& stem, DeviceSettings& s) {
    const auto lines = readIfThere(rt, kDir + stem + QLatin1String(".pgm"));
    if (lines)
        s.programs = *lines;
}

bool Companions::writePgm(Runtime& rt, const QString& stem, const DeviceSettings& s) {
    return write(rt, kDir + stem + QLatin1String(".pgm"), s.programs);
}

int readOrCreateFosc(Runtime& rt) {
    const QString name = QStringLiteral("fosc.cfg");
    if (!rt.root.exists(name)) {
        write(rt, name,
              {QStringLiteral("40"),
               QStringLiteral(
                   ";Quartel,Outrel,Thermel Oscillator Frequency - DONT ALTER THIS FILE")});
        return 40;
    }
    const auto lines = readIfThere(rt, name);
    const auto fosc = lines ? parseInt32(lines->value(0).trimmed()) : std::nullopt;
    // 96 div FOSC divides the IR timings: a frequency outside 1..96 would divide by zero or
    // give no divisor at all.
    if (!fosc || *fosc < 1 || *fosc > 96) {
        rt.log.admem(QLatin1String("Error reading configuration file: fosc.cfg -> line 1: \"") +
                     (lines ? lines->value(0) : QString()) + QLatin1String("\", using 24"));
        return 24;
    }
    return *fosc;
}

BluetoothNames readOrCreateBtconfig(Runtime& rt) {
    const QString name = QStringLiteral("btconfig.cfg");
    if (!rt.root.exists(name)) {
        const BluetoothNames defaults{QStringLiteral("tuvo"), QStringLiteral("805619")};
        writeBtconfig(rt, defaults);
        return defaults;
    }
    const auto lines = readIfThere(rt, name);
    if (!lines)
        return {};
    return {lines->value(0), lines->value(1)};
}

bool writeBtconfig(Runtime& rt, const BluetoothNames& names) {
    return write(rt, QStringLiteral("btconfig.cfg"), {names.host, names.password});
}

DeviceList readDeviceList(Runtime& rt) {
    DeviceList list;
    for (const QString& file : listDir(rt.root.path(QStringLiteral("devices aliases")),
                                       QStringLiteral("*.dev"), EntryKind::Files)) {
        const auto lines = readIfThere(rt, kDir + file);
        if (!lines)
            continue;
        const QString type = lines->value(1).trimmed();
        if (type != QLatin1String("Quartel") && type != QLatin1String("Outrel"))
            continue;
        list.names << lines->value(0);
        list.files << file;
    }
    return list;
}

}  // namespace velmar
