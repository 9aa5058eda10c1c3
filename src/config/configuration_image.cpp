#include "config/configuration_image.h"

#include <QLocale>

#include "base/chkint.h"
#include "devices/conversions.h"

namespace velmar {

namespace {

constexpr int kBlockSize = 266;
const int kSpeeds[] = {9600, 19200, 38400, 57600, 115200, 230400};

QByteArray block(char letter, int adrh, int adrl) {
    QByteArray b(kBlockSize, '\0');
    b[0] = static_cast<char>(254);
    b[1] = static_cast<char>(adrh);
    b[2] = static_cast<char>(adrl);
    b[3] = letter;
    return b;
}

void put(QByteArray& b, int at, int value) {
    b[at] = static_cast<char>(value & 0xFF);
}

// `check_char`: the value when it parses and lies in lo..hi, else the default.
int checkChar(const QString& text, int lo, int hi, int fallback) {
    return chkint(text, lo, hi, fallback);
}

// A threshold's 10-bit value: its list index, or the default when nothing is selected.
int threshold(const Choice& c, int fallback) {
    return c.index >= 0 && c.index <= 1023 ? c.index : fallback;
}

struct Writer {
    const ImageSource& src;
    std::array<QByteArray, 4>& b;
    QString* error;
    bool ok = true;

    // An event: its first five bytes into `first` (0 or 1), the last five into `first` + 2.
    void event(int first, int at, const QString& text, const QString& picker) {
        if (!ok)
            return;
        const auto code = src.compile(text, picker);
        if (!code.ok()) {
            ok = false;
            *error = picker + QLatin1String(": ") + code.error;
            return;
        }
        for (int i = 0; i < 5; ++i) {
            put(b[static_cast<std::size_t>(first)], at + i,
                (*code.value)[static_cast<std::size_t>(i)]);
            put(b[static_cast<std::size_t>(first + 2)], at + i,
                (*code.value)[static_cast<std::size_t>(5 + i)]);
        }
    }
    template <std::size_t N>
    void events(int first, int at, const std::array<QString, N>& texts, const char* field) {
        for (std::size_t k = 0; k < N; ++k)
            event(first, at + 5 * static_cast<int>(k), texts[k],
                  QLatin1String(field) + QString::number(k + 1));
    }
    // A temperature limit: the controllers take -50..100 degrees; a text beyond is clamped
    // (and logged) instead of going out as 0.
    void temperature(int at, const Choice& c, const char* field, int k) {
        QString text = c.text;
        bool parsed = false;
        const double v = QLocale::c().toDouble(text.trimmed(), &parsed);
        if (parsed && (v > 100 || v < -50)) {
            text = v > 100 ? QStringLiteral("100") : QStringLiteral("-50");
            if (src.log)
                src.log(QLatin1String("Temperature out of range: ") + QLatin1String(field) +
                        QString::number(k) + QLatin1String(" \"") + c.text +
                        QLatin1String("\", sent as ") + text);
        }
        const std::uint16_t t = temp_value(text, 0, 100, -50);
        put(b[0], at, t >> 8);
        put(b[0], at + 1, t & 0xFF);
    }
};

}  // namespace

std::optional<ConfigurationImage> buildConfigurationImage(const ImageSource& src, QString* error) {
    const DeviceSettings& s = src.settings;
    ConfigurationImage image;
    const int edH = checkChar(s.DAddrH.text, 1, 255, 55);
    const int edL = checkChar(s.DAddrL.text, 1, 255, 55);
    auto& b = image.blocks;
    b[0] = block('w', src.wasadrh, src.wasadrl);
    b[1] = block('u', edH, edL);
    b[2] = block('W', src.wasadrh, src.wasadrl);
    b[3] = block('U', src.wasadrh, src.wasadrl);
    QByteArray& c = b[0];

    put(c, 4, edH);
    put(c, 5, edL);
    // The bus speed; one the serial line cannot take (or none at all) sends 96, the code of
    // 115200, and leaves "com.cfg" as it is.
    const auto speed = parseInt32(s.RSspeed.text.trimmed());
    if (speed && std::find(std::begin(kSpeeds), std::end(kSpeeds), *speed) != std::end(kSpeeds)) {
        image.speed = *speed;
        put(c, 6, *speed / 1200);
    } else {
        put(c, 6, 96);
    }
    put(c, 7, checkChar(s.ModFreq1.text, 0, 255, 255));
    if (!s.CheckBox2)
        put(c, 8, s.RCType >= 0 && s.RCType <= 2 ? s.RCType : 1);
    else
        put(c, 8, 255 - (s.RCType >= 0 && s.RCType <= 3 ? s.RCType : 0));
    put(c, 9, 36);
    put(c, 10, 50);
    put(c, 11,
        (s.LVD.text == QLatin1String("On") ? 0x80 : 0) | (s.ViaComm ? 0x40 : 0) |
            (s.AutoStat ? 0x20 : 0) | (s.DevsCount & 31));

    std::int32_t lower[8], upper[8];
    for (std::size_t k = 0; k < 8; ++k) {
        lower[k] = threshold(s.AdcL[k], k == 1 ? 120 : 0);
        upper[k] = threshold(s.AdcH[k], 1023);
        put(c, 12 + static_cast<int>(k), adc_value(lower[k], lower[k]));
        put(c, 20 + static_cast<int>(k), adc_value(upper[k], upper[k]));
    }
    Writer w{src, b, error};
    if (!s.CheckBox2) {
        for (int k = 0; k < 4; ++k) {
            w.temperature(28 + 2 * k, s.TempL[static_cast<std::size_t>(k)], "TempL", k + 1);
            w.temperature(36 + 2 * k, s.TempH[static_cast<std::size_t>(k)], "TempH", k + 1);
        }
    } else {
        // The output defaults, four to a byte, the first field in the two highest bits.
        for (int byte = 0; byte < 6; ++byte) {
            int v = 0;
            for (int i = 0; i < 4; ++i) {
                const Choice& f = s.OutrelDefault[static_cast<std::size_t>(4 * byte + i)];
                v = v * 4 + (f.index >= 0 ? f.index : 0);
            }
            put(c, 28 + byte, v);
        }
        put(c, 34, 255);
        put(c, 35, 255);
        for (int i = 36; i <= 43; ++i)
            put(c, i, 255);
    }
    put(c, 44, s.ComboBox14 + 64 * (s.ComboBox17 & 3));
    put(c, 45, s.ComboBox15);
    put(c, 46, s.ComboBox17 / 4);
    put(c, 47, s.ComboBox18);
    std::uint8_t lsb[4];
    adccalclsb(lower, upper, lsb);
    for (int i = 0; i < 4; ++i)
        put(c, 48 + i, lsb[i]);
    // 52-59: the output-state bytes, zeros on this path.
    for (int i = 60; i <= 75; ++i)
        put(c, i, 255);
    for (std::size_t k = 0; k < 8; ++k) {
        put(c, 76 + static_cast<int>(k), std::max(s.intwl[k].index, 0));
        put(c, 84 + static_cast<int>(k), std::max(s.InpWL[k].index, 0));
    }
    w.events(0, 94, s.intlev, "intlev");
    for (int k = 0; k < 4; ++k) {
        const auto uk = static_cast<std::size_t>(k);
        w.event(0, 134 + 10 * k, s.TempLEv[uk], QStringLiteral("TempLEv%1").arg(k + 1));
        w.event(0, 139 + 10 * k, s.TempHEv[uk], QStringLiteral("TempHEv%1").arg(k + 1));
        w.event(0, 174 + 10 * k, s.LightLEv[uk], QStringLiteral("LightLEv%1").arg(k + 1));
        w.event(0, 179 + 10 * k, s.LightHEv[uk], QStringLiteral("LightHEv%1").arg(k + 1));
    }
    w.events(0, 214, s.InputLEv, "InputLEv");

    w.events(1, 4, s.InputHEv, "InputHEv");
    w.events(1, 44, s.inthev, "inthev");
    w.events(1, 84, s.AdcLEv, "AdcLEv");
    w.events(1, 124, s.AdcHEv, "AdcHEv");
    w.events(1, 164, s.ADCOKEv, "ADCOKEv");
    w.events(1, 204, s.TempOkEv, "TempOkEv");
    w.events(1, 224, s.LightOkEv, "LightOkEv");
    if (!w.ok)
        return std::nullopt;
    QByteArray& u = b[1];
    const QByteArray host = src.bthost.toLatin1().leftJustified(3, '\0', true);
    for (int i = 0; i < 3; ++i)
        u[244 + i] = host[i];
    put(u, 247, 'a' + src.wasadrl);
    const QByteArray pass = src.btpass.toLatin1().leftJustified(8, '\0', true);
    for (int i = 0; i < 8; ++i)
        u[248 + i] = pass[i];
    return image;
}

}  // namespace velmar
