#include "events/event_compiler.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

#include "base/chkint.h"
#include "base/cp1250.h"
#include "events/event_names.h"

namespace velmar {

namespace {

using Result = Compiled<EventCode>;

constexpr std::uint8_t kNone = 255;
// Names carry their limits as "<label><-(<min>;<max>)"; longer tails are cut.
const QString kLimitsMarker = QStringLiteral("<-(");
constexpr int kMaxLimitsText = 240;

constexpr double kAdcMinPercent = 0;
constexpr double kAdcMaxPercent = 100;
constexpr double kTempMin = -50;
constexpr double kTempMax = 100;
constexpr double kTempQuantum = 0.0625;  // 1/16 degree

// Character code (in the code page of the files) of character `index` (from 0) of `text`, 0 when
// the text is shorter.
std::uint8_t charCode(const QString& text, int index) {
    if (index >= text.size())
        return 0;
    return static_cast<std::uint8_t>(toCp1250(QStringView(text).mid(index, 1)).at(0));
}

// A plain decimal: optional sign, digits, optional "." and digits; blanks around are ignored.
std::optional<double> parseDecimal(const QString& text) {
    const QString t = text.trimmed();
    int i = 0;
    if (i < t.size() && (t[i] == u'-' || t[i] == u'+'))
        ++i;
    int digits = 0;
    bool point = false;
    for (; i < t.size(); ++i) {
        if (t[i] >= u'0' && t[i] <= u'9') {
            ++digits;
        } else if (t[i] == u'.' && !point) {
            point = true;
        } else {
            return std::nullopt;
        }
    }
    if (digits == 0)
        return std::nullopt;
    bool ok = false;
    const double v = QLocale::c().toDouble(t, &ok);
    if (!ok)
        return std::nullopt;
    return v;
}

double numberOr(const QString& text, double fallback, double minimum, double maximum) {
    const std::optional<double> v = parseDecimal(text);
    if (!v || *v < minimum || *v > maximum)
        return fallback;
    return *v;
}

// The texts of the two limits in an event name: after the first "<-(", the minimum up to the
// first ";", the maximum after it without its closing bracket. A name without the marker or
// without ";" has no limits (both texts empty, so both take their defaults).
struct LimitTexts {
    QString minimum;
    QString maximum;
};

LimitTexts limitTexts(const QString& name) {
    const qsizetype marker = name.indexOf(kLimitsMarker);
    if (marker < 0)
        return {};
    const QString tail = name.mid(marker + kLimitsMarker.size(), kMaxLimitsText);
    const qsizetype split = tail.indexOf(u';');
    if (split < 0)
        return {};
    QString maximum = tail.mid(split + 1);
    maximum.chop(1);
    return {tail.left(split), maximum};
}

// "IR": four fields of the state after its first "(" (the whole state without one), separated
// by ";"; each a decimal -1..255, anything else -1, and -1 is sent as 255.
EventCode irCode(const QString& state) {
    const qsizetype open = state.indexOf(u'(');
    const QStringList fields = state.mid(open + 1).split(u';');
    EventCode code = {39, kNone, kNone, kNone, kNone};
    for (int k = 0; k < 4 && k < fields.size(); ++k) {
        const std::int32_t v = chkint(fields[k], -1, 255, -1);
        code[static_cast<size_t>(k) + 1] = v < 0 ? kNone : static_cast<std::uint8_t>(v);
    }
    return code;
}

EventCode adcCode(std::uint8_t channel, const QString& name) {
    const LimitTexts l = limitTexts(name);
    const double minimum = numberOr(l.minimum, kAdcMinPercent, kAdcMinPercent, kAdcMaxPercent);
    const double maximum = numberOr(l.maximum, kAdcMaxPercent, kAdcMinPercent, kAdcMaxPercent);
    return {12, channel, adcLimitByte(minimum), adcLimitByte(maximum), kNone};
}

EventCode tempCode(const QString& id, const QString& name) {
    // The controller number is character 10; kinds 8..11 for controllers 1..4.
    std::uint8_t kind = kNone;
    if (id.size() >= 10 && id[9] >= u'1' && id[9] <= u'4')
        kind = static_cast<std::uint8_t>(8 + (id[9].unicode() - u'1'));
    const LimitTexts l = limitTexts(name);
    const std::uint16_t minimum = tempCount(numberOr(l.minimum, 0, kTempMin, kTempMax));
    const std::uint16_t maximum = tempCount(numberOr(l.maximum, 100, kTempMin, kTempMax));
    return {kind, static_cast<std::uint8_t>(minimum >> 8), static_cast<std::uint8_t>(minimum),
            static_cast<std::uint8_t>(maximum >> 8), static_cast<std::uint8_t>(maximum)};
}

// Reads the byte-valued decimal fields of one event; the first that fails keeps the reason.
class FieldReader {
  public:
    explicit FieldReader(const EventFields& e) : e_(e) {}

    // Characters `from` (from 0) .. `from` + `length` - 1 of the identifier, -1: to its end.
    std::optional<std::uint8_t> idNumber(int from, int length, const char* what) {
        return read(e_.id.mid(from, length), what);
    }
    std::optional<std::uint8_t> state() { return read(e_.state, "state"); }
    Result failure() const { return Result::failure(error_); }

  private:
    std::optional<std::uint8_t> read(const QString& text, const char* what) {
        const std::int32_t v = chkint(text, 0, 255, -1);
        if (v >= 0)
            return static_cast<std::uint8_t>(v);
        if (error_.isEmpty())
            error_ = QLatin1String("Event ") + e_.id + QLatin1String(" (state ") + e_.state +
                     QLatin1String("): ") + QLatin1String(what) + QLatin1String(" \"") + text +
                     QLatin1String("\" is not a number 0..255");
        return std::nullopt;
    }

    const EventFields& e_;
    QString error_;
};

// Codes of the form [kind][number from the identifier][the state][b4][b5].
Result numberAndState(const EventFields& e, std::uint8_t kind, int from, int length,
                      const char* what, std::uint8_t b4, std::uint8_t b5) {
    FieldReader r(e);
    const auto number = r.idNumber(from, length, what);
    const auto state = number ? r.state() : std::nullopt;
    if (!state)
        return r.failure();
    return {EventCode{kind, *number, *state, b4, b5}, {}};
}

// Codes of the form [kind][number from the identifier][b3][b4][b5].
Result numberOnly(const EventFields& e, std::uint8_t kind, int from, int length, const char* what,
                  std::uint8_t b3, std::uint8_t b4, std::uint8_t b5) {
    FieldReader r(e);
    const auto number = r.idNumber(from, length, what);
    if (!number)
        return r.failure();
    return {EventCode{kind, *number, b3, b4, b5}, {}};
}

}  // namespace

std::uint8_t adcLimitByte(double percent) {
    const double p = std::clamp(percent, kAdcMinPercent, kAdcMaxPercent);
    const auto tenBits = static_cast<std::int32_t>(std::nearbyint(p * 1023.0 / 100.0));
    return static_cast<std::uint8_t>(tenBits >> 2);
}

std::uint16_t tempCount(double degrees) {
    const auto count = static_cast<std::int32_t>(std::nearbyint(degrees / kTempQuantum));
    return static_cast<std::uint16_t>(count & 0xFFFF);
}

Result compileEventCode(const EventFields& e) {
    const QString& id = e.id;
    // No identifier is a prefix of another family's, so the first match decides.
    if (id.startsWith(QLatin1String("ZONE"))) {
        if (e.source != EventSource::Registry)
            return {kUnknownEvent, {}};
        return {EventCode{252, charCode(e.state, 0), kNone, kNone, kNone}, {}};
    }
    if (id.startsWith(QLatin1String("O")))
        return numberAndState(e, 1, 1, 5, "output number", 0, 0);
    if (id.startsWith(QLatin1String("PGM")))
        return numberOnly(e, 2, 3, 6, "program number", kNone, kNone, kNone);
    if (id.startsWith(QLatin1String("PGR")))
        return numberOnly(e, 170, 3, 6, "heating program number", kNone, kNone, kNone);
    if (id.startsWith(QLatin1String("heart")))
        return {EventCode{104, charCode(id, 5), charCode(id, 6), charCode(id, 7), kNone}, {}};
    if (id.startsWith(QLatin1String("IR")))
        return {irCode(e.state), {}};
    if (id.startsWith(QLatin1String("ADC"))) {
        FieldReader r(e);
        const auto channel = r.idNumber(3, 1, "channel");
        if (!channel)
            return r.failure();
        return {adcCode(*channel, e.name), {}};
    }
    if (id.startsWith(QLatin1String("Ext")))
        return numberAndState(e, 21, 3, -1, "Outrel output number", kNone, kNone);
    if (id.startsWith(QLatin1String("Lgt")))
        return numberOnly(e, 22, 3, -1, "event number", 1, kNone, kNone);
    if (id.startsWith(QLatin1String("Bat"))) {
        // The registry lists the Outrel's external programs first, "Bat" + n at position n.
        std::uint8_t number = kNone;
        if (e.source == EventSource::Registry) {
            if (e.position >= 0 && e.position <= 255)
                number = static_cast<std::uint8_t>(e.position);
        } else {
            number = static_cast<std::uint8_t>(chkint(id.mid(3), 0, 255, kNone));
        }
        return {EventCode{38, number, kNone, kNone, kNone}, {}};
    }
    if (id.startsWith(QLatin1String("TempContr")))
        return {tempCode(id, e.name), {}};
    if (id.startsWith(QLatin1String("LightContr")))
        return numberAndState(e, 4, 10, 1, "light controller number", kNone, kNone);
    return {kUnknownEvent, {}};
}

Compiled<EventArray> convert_eventcc(const EventNames& names, int position, int entry) {
    EventArray unknown{};
    std::copy(kUnknownEvent.begin(), kUnknownEvent.end(), unknown.begin());

    const EventNameEntry* e = names.entry(entry);
    if (!e || position < 0 || position >= e->EventIdlist.size() ||
        position >= e->EventStatelist.size())
        return {unknown, {}};
    const QString& id = e->EventIdlist[position];
    const QString& state = e->EventStatelist[position];
    if (id.isEmpty() || state.isEmpty())
        return {unknown, {}};
    const QString name =
        position < e->eventnamelist.size() ? e->eventnamelist[position] : QString();

    const Result code = compileEventCode({id, state, name, EventSource::Registry, position});
    if (!code.ok())
        return Compiled<EventArray>::failure(code.error);
    EventArray out{};
    std::copy(code.value->begin(), code.value->end(), out.begin());
    return {out, {}};
}

}  // namespace velmar
