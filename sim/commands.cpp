#include "sim/commands.h"

#include <optional>
#include <vector>

#include "sim/simulator.h"

namespace velmar::sim {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::vector<QByteArray> tokenize(QByteArrayView line) {
    std::vector<QByteArray> tokens;
    qsizetype i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i])) {
            ++i;
        }
        const qsizetype start = i;
        while (i < line.size() && !isBlank(line[i])) {
            ++i;
        }
        if (i > start) {
            tokens.emplace_back(line.sliced(start, i - start).toByteArray());
        }
    }
    return tokens;
}

// The text after the first `skip` tokens, leading blanks removed.
QByteArray restAfter(QByteArrayView line, int skip) {
    qsizetype i = 0;
    for (int t = 0; t < skip; ++t) {
        while (i < line.size() && isBlank(line[i])) {
            ++i;
        }
        while (i < line.size() && !isBlank(line[i])) {
            ++i;
        }
    }
    while (i < line.size() && isBlank(line[i])) {
        ++i;
    }
    return line.sliced(i).toByteArray();
}

std::optional<int> parseNumber(const QByteArray& token) {
    if (token.isEmpty() || token.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    for (char c : token) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<bool> parseOnOff(const QByteArray& token) {
    if (token == "on") {
        return true;
    }
    if (token == "off") {
        return false;
    }
    return std::nullopt;
}

std::optional<bool> parseBit(const QByteArray& token) {
    if (token == "1") {
        return true;
    }
    if (token == "0") {
        return false;
    }
    return std::nullopt;
}

CommandReply failure(const QString& why) {
    CommandReply r;
    r.ok = false;
    r.error = why;
    return r;
}

CommandReply fromResult(bool ok, const QString& error) {
    return ok ? CommandReply{} : failure(error);
}

CommandReply usage(const char* form) {
    return failure(QStringLiteral("usage: %1").arg(QLatin1String(form)));
}

}  // namespace

QByteArray CommandReply::text() const {
    if (empty) {
        return {};
    }
    QByteArray out;
    for (const QByteArray& line : lines) {
        out += line + '\n';
    }
    if (ok) {
        out += "ok\n";
    } else {
        QByteArray why = error.toUtf8();
        why.replace('\n', ' ');
        out += "error: " + why + '\n';
    }
    return out;
}

QList<QByteArray> CommandInterpreter::helpLines() {
    return {
        "add <h>-<l> quartel|outrel|thermel|sensel|linkel",
        "silent <h>-<l> on|off",
        "noconfirm <h>-<l> on|off",
        "text <h>-<l> <text>",
        "raw <hex bytes>",
        "restart <h>-<l>",
        "program ok|refuse|none",
        "program <h>-<l> ok|refuse|none [blocks]",
        "memory <h>-<l> <letter>",
        "set <h>-<l> adc <k> <raw>",
        "set <h>-<l> temp <k> <celsius>",
        "set <h>-<l> light <k> <percent>",
        "set <h>-<l> out|in|fast <k> 0|1",
        "set <h>-<l> program|zone <n>",
        "set <h>-<l> sensel <m> <hex bytes>",
        "set <h>-<l> byte <offset> <value>",
        "linkel on|off",
        "linkel-drop",
        "linkel-accept on|off",
        "linkel-query <ms>",
        "linkel-out <n> on|off",
        "linkel-adc <channel> <raw>",
        "linkel-byte <offset> <value>",
        "stream <ms>",
        "turnaround <ms>",
        "pause <ms>",
        "status <h>-<l>",
        "frames",
        "clear",
        "termios",
        "help",
        "quit",
    };
}

CommandReply CommandInterpreter::run(QByteArrayView rawLine) {
    QByteArrayView line = rawLine;
    while (!line.isEmpty() && (line.back() == '\r' || line.back() == '\n')) {
        line.chop(1);
    }
    const std::vector<QByteArray> t = tokenize(line);
    if (t.empty() || t[0].startsWith('#')) {
        CommandReply r;
        r.empty = true;
        return r;
    }
    const QByteArray& cmd = t[0];
    const std::size_t n = t.size();
    QString error;

    auto address = [&](std::size_t i) { return i < n ? parseAddress(t[i]) : std::nullopt; };

    if (cmd == "add") {
        const auto a = address(1);
        const auto type = n == 3 ? parseControllerType(t[2]) : std::nullopt;
        if (n != 3 || !a || !type) {
            return usage("add <h>-<l> quartel|outrel|thermel|sensel|linkel");
        }
        return fromResult(sim_.addController(*a, *type, &error), error);
    }
    if (cmd == "silent" || cmd == "noconfirm") {
        const auto a = address(1);
        const auto on = n == 3 ? parseOnOff(t[2]) : std::nullopt;
        if (n != 3 || !a || !on) {
            return usage(cmd == "silent" ? "silent <h>-<l> on|off" : "noconfirm <h>-<l> on|off");
        }
        const bool ok =
            cmd == "silent" ? sim_.setSilent(*a, *on, &error) : sim_.setNoConfirm(*a, *on, &error);
        return fromResult(ok, error);
    }
    if (cmd == "text") {
        const auto a = address(1);
        if (n < 3 || !a) {
            return usage("text <h>-<l> <text>");
        }
        return fromResult(sim_.sendText(*a, restAfter(line, 2), &error), error);
    }
    if (cmd == "raw") {
        const auto bytes = parseHexTokens(std::vector<QByteArray>(t.begin() + 1, t.end()));
        if (!bytes) {
            return usage("raw <hex bytes>");
        }
        sim_.writeToPc(*bytes);
        return {};
    }
    if (cmd == "restart") {
        const auto a = address(1);
        if (n != 2 || !a) {
            return usage("restart <h>-<l>");
        }
        return fromResult(sim_.announceRestart(*a, &error), error);
    }
    if (cmd == "program") {
        const auto answerOf = [](const QByteArray& word) -> std::optional<ProgramAnswer> {
            if (word == "ok")
                return ProgramAnswer::Ok;
            if (word == "refuse")
                return ProgramAnswer::Refuse;
            if (word == "none")
                return ProgramAnswer::None;
            return std::nullopt;
        };
        if (n == 2) {
            const auto answer = answerOf(t[1]);
            if (!answer)
                return usage("program ok|refuse|none");
            sim_.setProgramAnswer(*answer);
            return {};
        }
        const auto a = n >= 3 ? address(1) : std::nullopt;
        const auto answer = n >= 3 ? answerOf(t[2]) : std::nullopt;
        int blocks = 0;
        if (n == 4) {
            const auto parsed = parseNumber(t[3]);
            if (!parsed)
                return usage("program [<h>-<l>] ok|refuse|none [blocks]");
            blocks = *parsed;
        }
        if (!a || !answer || n > 4)
            return usage("program [<h>-<l>] ok|refuse|none [blocks]");
        return fromResult(sim_.setProgramAnswer(*a, *answer, blocks, &error), error);
    }
    if (cmd == "memory") {
        const auto a = n == 3 ? address(1) : std::nullopt;
        if (!a || t[2].size() != 1)
            return usage("memory <h>-<l> <letter>");
        const auto block = sim_.memory(*a, t[2][0]);
        if (!block)
            return failure(QStringLiteral("no block '%1' acknowledged by that controller")
                               .arg(QString::fromUtf8(t[2])));
        CommandReply r;
        r.lines << block->toHex(' ');
        return r;
    }
    if (cmd == "linkel") {
        const auto on = n == 2 ? parseOnOff(t[1]) : std::nullopt;
        if (!on) {
            return usage("linkel on|off");
        }
        sim_.setLinkelAddressing(*on);
        return {};
    }
    if (cmd == "linkel-drop") {
        if (n != 1) {
            return usage("linkel-drop");
        }
        sim_.dropLinkelClient();
        return {};
    }
    if (cmd == "linkel-accept") {
        const auto on = n == 2 ? parseOnOff(t[1]) : std::nullopt;
        if (!on) {
            return usage("linkel-accept on|off");
        }
        sim_.setLinkelAcceptLogin(*on);
        return {};
    }
    if (cmd == "linkel-query") {
        const auto ms = n == 2 ? parseNumber(t[1]) : std::nullopt;
        if (!ms) {
            return usage("linkel-query <ms>");
        }
        return fromResult(sim_.setLinkelQueryInterval(*ms, &error), error);
    }
    if (cmd == "linkel-out") {
        const auto k = n == 3 ? parseNumber(t[1]) : std::nullopt;
        const auto on = n == 3 ? parseOnOff(t[2]) : std::nullopt;
        if (!k || !on) {
            return usage("linkel-out <n> on|off");
        }
        return fromResult(sim_.setLinkelOutput(*k, *on, &error), error);
    }
    if (cmd == "linkel-adc" || cmd == "linkel-byte") {
        const auto k = n == 3 ? parseNumber(t[1]) : std::nullopt;
        const auto v = n == 3 ? parseNumber(t[2]) : std::nullopt;
        if (!k || !v) {
            return usage(cmd == "linkel-adc" ? "linkel-adc <channel> <raw>"
                                             : "linkel-byte <offset> <value>");
        }
        const bool ok = cmd == "linkel-adc" ? sim_.setLinkelAnalog(*k, *v, &error)
                                            : sim_.setLinkelStatusByte(*k, *v, &error);
        return fromResult(ok, error);
    }
    if (cmd == "stream" || cmd == "turnaround" || cmd == "pause") {
        const auto ms = n == 2 ? parseNumber(t[1]) : std::nullopt;
        if (!ms) {
            return failure(QStringLiteral("usage: %1 <ms>").arg(QString::fromLatin1(cmd)));
        }
        bool ok = false;
        if (cmd == "stream") {
            ok = sim_.setStreamInterval(*ms, &error);
        } else if (cmd == "turnaround") {
            ok = sim_.setTurnaround(*ms, &error);
        } else {
            ok = sim_.setTextPause(*ms, &error);
        }
        return fromResult(ok, error);
    }
    if (cmd == "set") {
        const auto a = address(1);
        if (n < 4 || !a) {
            return usage("set <h>-<l> adc|temp|light|out|in|fast|program|zone|sensel|byte ...");
        }
        const QByteArray& what = t[2];
        if (what == "adc" || what == "byte") {
            const auto k = n == 5 ? parseNumber(t[3]) : std::nullopt;
            const auto v = n == 5 ? parseNumber(t[4]) : std::nullopt;
            if (!k || !v) {
                return usage(what == "adc" ? "set <h>-<l> adc <k> <raw>"
                                           : "set <h>-<l> byte <offset> <value>");
            }
            const bool ok = what == "adc" ? sim_.setAnalog(*a, *k, *v, &error)
                                          : sim_.setStatusByte(*a, *k, *v, &error);
            return fromResult(ok, error);
        }
        if (what == "temp" || what == "light") {
            // A physical value on an analogue channel, as a sensor with the default calibration
            // (5000 mV supply, 10 mV per kelvin) or a light sensor reads it.
            const auto k = n == 5 ? parseNumber(t[3]) : std::nullopt;
            bool okNumber = false;
            const double value = n == 5 ? t[4].toDouble(&okNumber) : 0.0;
            if (!k || !okNumber) {
                return failure(QStringLiteral("usage: set <h>-<l> %1 <k> <%2>")
                                   .arg(QString::fromLatin1(what),
                                        what == "temp" ? QStringLiteral("celsius")
                                                       : QStringLiteral("percent")));
            }
            const int raw = what == "temp" ? rawForTemperature(value) : rawForLight(value);
            return fromResult(sim_.setAnalog(*a, *k, raw, &error), error);
        }
        if (what == "out" || what == "in" || what == "fast") {
            const auto k = n == 5 ? parseNumber(t[3]) : std::nullopt;
            const auto bit = n == 5 ? parseBit(t[4]) : std::nullopt;
            if (!k || !bit) {
                return failure(
                    QStringLiteral("usage: set <h>-<l> %1 <k> 0|1").arg(QString::fromLatin1(what)));
            }
            bool ok = false;
            if (what == "out") {
                ok = sim_.setOutput(*a, *k, *bit, &error);
            } else if (what == "in") {
                ok = sim_.setInput(*a, *k, *bit, &error);
            } else {
                ok = sim_.setFastInput(*a, *k, *bit, &error);
            }
            return fromResult(ok, error);
        }
        if (what == "program" || what == "zone") {
            const auto v = n == 4 ? parseNumber(t[3]) : std::nullopt;
            if (!v) {
                return failure(
                    QStringLiteral("usage: set <h>-<l> %1 <n>").arg(QString::fromLatin1(what)));
            }
            const bool ok =
                what == "program" ? sim_.setProgram(*a, *v, &error) : sim_.setZone(*a, *v, &error);
            return fromResult(ok, error);
        }
        if (what == "sensel") {
            const auto m = n >= 5 ? parseNumber(t[3]) : std::nullopt;
            const auto bytes = n >= 5
                                   ? parseHexTokens(std::vector<QByteArray>(t.begin() + 4, t.end()))
                                   : std::nullopt;
            if (!m || !bytes) {
                return usage("set <h>-<l> sensel <m> <hex bytes>");
            }
            return fromResult(sim_.setSensel(*a, *m, *bytes, &error), error);
        }
        return failure(QStringLiteral("unknown setting '%1'").arg(QString::fromUtf8(what)));
    }
    if (cmd == "status") {
        const auto a = address(1);
        if (n != 2 || !a) {
            return usage("status <h>-<l>");
        }
        const auto message = sim_.statusMessage(*a);
        if (!message) {
            return failure(QStringLiteral("no status frame at %1").arg(a->toString()));
        }
        CommandReply r;
        r.lines.append(hexBytes(*message));
        return r;
    }
    if (n != 1) {
        if (cmd == "frames" || cmd == "clear" || cmd == "termios" || cmd == "help" ||
            cmd == "quit") {
            return failure(QStringLiteral("%1 takes no arguments").arg(QString::fromLatin1(cmd)));
        }
    } else if (cmd == "frames") {
        CommandReply r;
        for (const RecordedFrame& f : sim_.frames()) {
            r.lines.append(f.line());
        }
        return r;
    } else if (cmd == "clear") {
        sim_.clearFrames();
        return {};
    } else if (cmd == "termios") {
        const auto settings = sim_.lineSettings();
        if (!settings) {
            return failure(QStringLiteral("the pseudo-terminal is not open"));
        }
        CommandReply r;
        r.lines.append(formatLineSettings(*settings).toLatin1());
        return r;
    } else if (cmd == "help") {
        CommandReply r;
        r.lines = helpLines();
        return r;
    } else if (cmd == "quit") {
        CommandReply r;
        r.quit = true;
        return r;
    }
    return failure(QStringLiteral("unknown command '%1'").arg(QString::fromUtf8(cmd)));
}

}  // namespace velmar::sim
