#include "events/event_definitions.h"

#include <algorithm>
#include <map>

#include "base/names.h"
#include "base/text_file.h"
#include "devices/name_forms.h"
#include "events/direct_events.h"

namespace velmar {

namespace {

const char* const kExtensions[] = {".lev", ".cev", ".iev", ".nev", ".sev"};
const char* const kLevels[] = {"None", "Warning", "Alarm", "Error"};

QString num(int n) {
    return QString::number(n);
}

void add(EventLines& l, const QString& lev, const QString& iev, const QString& nev,
         const QString& sev, const QString& cev) {
    l.lev << lev;
    l.iev << iev;
    l.nev << nev;
    l.sev << sev;
    l.cev << cev;
}

// "name<TAB>id<TAB>signal<TAB>state word".
QString cevLine(const QString& name, const QString& id, const QString& signal,
                const QString& word) {
    return name + QLatin1Char('\t') + id + QLatin1Char('\t') + signal + QLatin1Char('\t') + word;
}

// A request file "AllEvents\<D>\<D> - <what>.run": the name part made file-safe first, the
// whole path folded to ASCII; a part that still fails the name rule is logged and skipped.
void requestFile(Runtime& rt, const QString& device, const QString& what, const QString& line) {
    const QString folder = getascival(device);
    const QString file =
        getascival(getfilename(device + QLatin1String(" - ") + what)) + QLatin1String(".run");
    if (!isValidName(folder) || !isValidName(file)) {
        rt.log.admem(QLatin1String("Event request file refused: AllEvents\\") + folder +
                     QLatin1Char('\\') + file +
                     QLatin1String(" -> the name fails the naming rule"));
        return;
    }
    cevt(rt, QLatin1String("AllEvents\\") + folder + QLatin1Char('\\') + file, line);
}

QStringList readList(Runtime& rt, const QString& name) {
    if (!rt.root.exists(name))
        return {};
    QString error;
    const auto bytes = readFile(rt.root.path(name), &error);
    if (!bytes) {
        rt.log.admem(QLatin1String("Error reading file: ") + name + QLatin1String(" -> ") + error);
        return {};
    }
    return splitLines(*bytes);
}

// The text C of an IR macro: its first four parts, each cut before "{" (with the blank before
// it) and before "["; the non-empty ones joined, each but the first part's after a ";".
QString macroCaption(const QStringList& parts) {
    QString c;
    for (int i = 0; i < 4 && i < parts.size(); ++i) {
        QString p = parts[i];
        const qsizetype brace = p.indexOf(QLatin1Char('{'));
        if (brace >= 0)
            p.truncate(std::max<qsizetype>(brace - 1, 0));
        const qsizetype bracket = p.indexOf(QLatin1Char('['));
        if (bracket >= 0)
            p.truncate(bracket);
        if (p.isEmpty())
            continue;
        if (i > 0)
            c += QLatin1Char(';');
        c += p;
    }
    return c;
}

void irMacros(Runtime& rt, const DeviceEventSource& d, EventLines& out) {
    if (!isValidName(d.name))
        return;
    const QString base = QLatin1String("ir\\") + d.name;
    const QStringList codes = readList(rt, base + QLatin1String(".ext"));
    QStringList macros = readList(rt, base + QLatin1String(".mac"));
    if (!rt.root.exists(base + QLatin1String(".mac")))
        macros = codes;  // without a macro file every external code is a macro of its own
    for (int i = 0; i < macros.size(); ++i) {
        const QStringList parts = macros[i].split(QLatin1Char(';'));
        const QString c = macroCaption(parts);
        QString positions;
        for (int s = 0; s < 4; ++s) {
            const QString part = parts.value(s);
            positions +=
                num(part.isEmpty() ? -1 : static_cast<int>(codes.indexOf(part))) + QLatin1Char(';');
        }
        const QString caption = QLatin1String("IR (") + c + QLatin1Char(')');
        add(out, caption, QLatin1String("IR") + num(i), caption,
            QLatin1String("IR (") + positions + QLatin1Char(')'),
            caption + QLatin1Char(' ') + macros[i]);
        requestFile(rt, d.name, QLatin1String("IR (") + getfilename(c) + QLatin1Char(')'),
                    d.name + QLatin1String("; ") + caption);
    }
}

// The device's own events, group by group.
void deviceEvents(Runtime& rt, const DeviceEventSource& d, EventLines& out) {
    if (!d.outrel) {
        getoutputsnames(rt, d);
        for (int k = 1; k <= 24; ++k) {
            const QString n = d.outputs.value(k - 1);
            const QString id = QLatin1String("O") + num(k);
            add(out, n + QLatin1String("<-(0)"), id, n, QStringLiteral("0"),
                cevLine(n + QLatin1String("<-(0)"), id, n, QStringLiteral("0")));
            add(out, n + QLatin1String("<-(1)"), id, n, QStringLiteral("1"),
                cevLine(n + QLatin1String("<-(1)"), id, n, QStringLiteral("1")));
            add(out, n + QLatin1String("<-(toggle)"), id, n, QStringLiteral("2"),
                cevLine(n + QLatin1String("<-(toggle)"), id, n, QStringLiteral("toggle")));
        }
        for (int k = 1; k <= 3; ++k) {
            const QString n = d.lightControllers.value(k - 1);
            const QString id = QLatin1String("LightContr") + num(k);
            const struct {
                const char* suffix;
                const char* state;
                const char* word;
            } actions[] = {{"<-(-)", "0", "-"}, {"<-(+)", "1", "+"}, {"<-(toggle)", "2", "toggle"}};
            for (const auto& a : actions) {
                const QString name = n + QLatin1String(a.suffix);
                add(out, name, id, n, QLatin1String(a.state),
                    cevLine(name, id, n, QLatin1String(a.word)));
            }
        }
    } else {
        for (int j = 1; j <= 24; ++j) {
            const QString n = d.outrelOutputs.value(j - 1);
            const QString id = QLatin1String("Ext") + num(j);
            const QStringList& actions = d.outrelActions[static_cast<std::size_t>(j - 1)];
            for (int e = 0; e < 4; ++e) {
                const QString name = n + QLatin1String("<-(") + actions.value(e) + QLatin1Char(')');
                add(out, name, id, n, num(e), cevLine(name, id, n, num(e)));
            }
        }
    }
    for (int n = 1; n <= 24; ++n) {
        const QString p = d.programs.value(n, QLatin1String("Program ") + num(n));
        const QString id = QLatin1String("PGM") + num(n);
        add(out, p, id, p, num(n),
            p + QLatin1Char('\t') + id + QLatin1Char('\t') + id + QLatin1Char('\t') + id);
        requestFile(rt, d.name, p, d.name + QLatin1String("; ") + p);
    }
    const QString minMax = QStringLiteral("(Min;Max)");
    for (int k = 1; k <= 8; ++k) {
        const QString n = d.adcs.value(k - 1);
        const QString name = n + QLatin1String("<-") + minMax;
        const QString id = QLatin1String("ADC") + num(k);
        add(out, name, id, n, minMax, cevLine(name, id, n, minMax));
    }
    for (int v = 0; v <= 9; ++v) {
        for (int k = 1; k <= 8; ++k) {
            const QString n = d.adcs.value(k - 1) + QLatin1String(" (") + num(v) + QLatin1Char(')');
            const QString name = n + QLatin1String("<-") + minMax;
            const QString id = QLatin1String("ADC") + num(k) + num(v);
            add(out, name, id, n, minMax, cevLine(name, id, n, minMax));
        }
    }
    if (!d.outrel)
        irMacros(rt, d, out);
    for (int v = 0; v < 4; ++v) {
        const QString level = QLatin1String(kLevels[v]);
        for (int group = 0; group < 2; ++group) {
            const QStringList& names = group == 0 ? d.digitalInputs : d.fastInputs;
            const QString field =
                group == 0 ? QStringLiteral("DigitalIn") : QStringLiteral("IntInp");
            for (int k = 1; k <= 8; ++k) {
                const QString n = names.value(k - 1);
                const QString name = n + QLatin1String("->(") + level + QLatin1Char(')');
                const QString id = field + num(k);
                add(out, name, id, n, num(v), cevLine(name, id, n, num(v)));
            }
        }
    }
}

bool writeSet(Runtime& rt, const QString& stem, const EventLines& lines) {
    const QStringList* files[] = {&lines.lev, &lines.cev, &lines.iev, &lines.nev, &lines.sev};
    for (int i = 0; i < 5; ++i) {
        const QString name = stem + QLatin1String(kExtensions[i]);
        QString error;
        if (!writeLinesAtomic(rt.root.path(name), *files[i], &error)) {
            rt.log.admem(QLatin1String("Error writing file: ") + name + QLatin1String(" -> ") +
                         error);
            return false;
        }
    }
    return true;
}

}  // namespace

QString eventFilesStem(const QString& type, const QString& adrh, const QString& adrl) {
    return QLatin1String("events\\") + type + QLatin1Char('\\') + adrh + QLatin1Char('-') + adrl;
}

bool eventFilesComplete(const DataRoot& root, const QString& stem) {
    qsizetype lines = -1;
    for (const char* ext : kExtensions) {
        const QString name = stem + QLatin1String(ext);
        if (!root.exists(name))
            return false;
        const auto read = readLines(root.path(name));
        if (!read || (lines >= 0 && read->size() != lines))
            return false;
        lines = read->size();
    }
    return true;
}

bool cevt(Runtime& rt, const QString& relativePath, const QString& line) {
    const QString path = rt.root.path(relativePath);
    const qsizetype slash = relativePath.lastIndexOf(QLatin1Char('\\'));
    if (slash > 0)
        rt.root.makeDir(relativePath.left(slash));
    QString error;
    if (!writeLinesAtomic(path, {line}, &error)) {
        rt.log.admem(QLatin1String("Error writing file: ") + relativePath + QLatin1String(" ->") +
                     error);
        return false;
    }
    return true;
}

bool chk_external(const QString& text) {
    for (const char* word : {"(None)", "(Min;Max)", "(Warning)", "(Alarm)", "(Error)"}) {
        if (text.contains(QLatin1String(word)))
            return false;
    }
    return true;
}

void getoutputsnames(Runtime& rt, const DeviceEventSource& d) {
    for (int k = 0; k < 24; ++k) {
        const QString n = d.outputs.value(k);
        for (const char* state : {"1", "0", "toggle"}) {
            const QString s = QLatin1String(state);
            requestFile(
                rt, d.name, n + QLatin1String(" (") + s + QLatin1Char(')'),
                d.name + QLatin1String("; ") + n + QLatin1String("<-(") + s + QLatin1Char(')'));
        }
    }
}

EventLines recreateexternprograms(Runtime& rt, const DeviceEventSource& d) {
    EventLines out;
    const QString zones = QStringLiteral("devices aliases\\Sensel zones.ext");
    if (rt.root.exists(zones)) {
        rt.root.makeDir(QStringLiteral("AllEvents\\Secu"));
        const QStringList lines = readList(rt, zones);
        for (int i = 0; i < lines.size() && i < 26; ++i) {
            const QString file = getascival(getfilename(QLatin1String("Secu - ") + lines[i])) +
                                 QLatin1String(".run");
            if (!isValidName(file)) {
                rt.log.admem(QLatin1String("Event request file refused: AllEvents\\Secu\\") + file +
                             QLatin1String(" -> the name fails the naming rule"));
                continue;
            }
            cevt(rt, QLatin1String("AllEvents\\Secu\\") + file, QLatin1String("Secu; ") + lines[i]);
        }
    }
    for (int n = 0; n < d.externalPrograms.size(); ++n) {
        const QString& p = d.externalPrograms[n];
        if (chk_external(p))
            requestFile(rt, d.name, p, d.name + QLatin1String("; ") + p);
        add(out, p, QLatin1String("Bat") + num(n), p, num(n), p);
    }
    return out;
}

bool recreateevents(Runtime& rt, const DeviceEventSource& d, bool force) {
    rt.root.makeDir(QStringLiteral("AllEvents"));
    if (d.adrh == QLatin1String("1") && d.adrl == QLatin1String("1"))
        return false;  // the heating controller's set is its own
    const QString stem = eventFilesStem(d.type, d.adrh, d.adrl);
    if (!force && eventFilesComplete(rt.root, stem))
        return false;
    rt.root.makeDir(QStringLiteral("events"));
    rt.root.makeDir(QLatin1String("events\\") + d.type);
    std::map<QString, EventLines> sets;
    if (d.outrel)
        sets[eventFilesStem(QStringLiteral("Quartel"), QStringLiteral("2"), QStringLiteral("1"))] =
            recreateexternprograms(rt, d);
    deviceEvents(rt, d, sets[stem]);
    rt.root.makeDir(QStringLiteral("all events"));
    bool ok = true;
    for (const auto& [setStem, lines] : sets)
        ok = writeSet(rt, setStem, lines) && ok;
    return ok;
}

PickerEvents readevents(Runtime& rt, const QString& type, const QString& adrh,
                        const QString& adrl) {
    const QString stem = eventFilesStem(type, adrh, adrl);
    PickerEvents e;
    struct List {
        const char* ext;
        QStringList* items;
    } lists[] = {{".iev", &e.EvntID},
                 {".nev", &e.SignalName},
                 {".sev", &e.EvntState},
                 {".lev", &e.evntname}};
    for (const List& l : lists) {
        if (!rt.root.exists(stem + QLatin1String(l.ext)))
            return {};
    }
    for (const List& l : lists)
        *l.items = readList(rt, stem + QLatin1String(l.ext));
    const qsizetype n = e.EvntID.size();
    if (e.SignalName.size() != n || e.EvntState.size() != n || e.evntname.size() != n)
        return {};  // a set cut short is no set
    return e;
}

Compiled<EventArray> convert_eventc(Runtime& rt, const PickerEvents& events, const QString& text,
                                    const QString& picker) {
    EventArray out{};
    const qsizetype b = text.isEmpty() ? -1 : events.evntname.indexOf(text);
    if (b >= 0) {
        const int at = static_cast<int>(b);
        const auto code = compileEventCode({events.EvntID.value(at), events.EvntState.value(at),
                                            events.evntname.value(at), EventSource::Picker, at});
        if (!code.ok())
            return Compiled<EventArray>::failure(code.error);
        std::copy(code.value->begin(), code.value->end(), out.begin());
        return {out, {}};
    }
    if (text.startsWith(QLatin1String("lDirEvt-")))
        return {DecodeDirect(text), {}};
    if (text.startsWith(QLatin1String("lExtDev-"))) {
        const EventBytes e = DecodeExt(text);
        std::copy(e.begin(), e.end(), out.begin());
        return {out, {}};
    }
    std::copy(kUnknownEvent.begin(), kUnknownEvent.end(), out.begin());
    if (!text.isEmpty())
        rt.log.admem(QLatin1String("Event not in the device's list: ") + picker +
                     QLatin1String(" -> ") + text);
    return {out, {}};
}

std::array<QByteArray, 22> clear_events_ram(int adrh, int adrl, bool alarmEv) {
    std::array<QByteArray, 22> tables;
    for (int t = 0; t < 22; ++t) {
        QByteArray b(260, '\0');
        b[0] = static_cast<char>(alarmEv ? 39 : 254);
        b[1] = static_cast<char>(adrh);
        b[2] = static_cast<char>(adrl);
        b[3] = static_cast<char>(t < 11 ? '0' + t : 'A' + (t - 11));
        for (int i = 4; i <= 257; ++i)
            b[i] = '\xFF';
        tables[static_cast<std::size_t>(t)] = b;
    }
    return tables;
}

}  // namespace velmar
