#include "sim/sim_main.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

#include <QFile>
#include <vector>

#include "sim/commands.h"
#include "sim/simulator.h"

namespace velmar::sim {

namespace {

const char kUsage[] =
    "usage: velmar-sim [--record FILE] [--config FILE] [--linkel FILE] [<h>-<l>:<type> ...]\n"
    "  <type>: quartel, outrel, thermel, sensel or linkel, e.g. 55-1:quartel 2-1:outrel "
    "1-1:thermel\n"
    "  --record FILE  write every frame received from the PC to FILE, one a line (ms, hex bytes)\n"
    "  --config FILE  run the commands in FILE (one per line) at start\n"
    "  --linkel FILE  also play the Linkel on 127.0.0.1, with the port and the login key of\n"
    "                 FILE (the linkelnet.cfg format; its address line is not used)\n"
    "Prints \"pty <path>\" first (then \"linkel 127.0.0.1:<port>\" with --linkel), then reads\n"
    "one command per line on standard input (\"help\" lists them) and answers \"ok\" or\n"
    "\"error: ...\".\n";

void writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        done += n;
    }
}

struct Arguments {
    Simulator::Options options;
    QString configPath;
    std::optional<LinkelNetFile> linkel;
    std::vector<std::pair<Address, ControllerType>> controllers;
    bool help = false;
};

std::optional<Arguments> parseArguments(const QStringList& args, QString* error) {
    Arguments parsed;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            parsed.help = true;
        } else if (arg == QLatin1String("--record") || arg == QLatin1String("--config")) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty()) {
                *error = QStringLiteral("%1 needs a file name").arg(arg);
                return std::nullopt;
            }
            (arg == QLatin1String("--record") ? parsed.options.recordPath : parsed.configPath) =
                args[++i];
        } else if (arg == QLatin1String("--linkel")) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty()) {
                *error = QStringLiteral("--linkel needs a file name");
                return std::nullopt;
            }
            parsed.linkel = readLinkelNet(args[++i], error);
            if (!parsed.linkel) {
                return std::nullopt;
            }
        } else if (arg.startsWith(QLatin1Char('-'))) {
            *error = QStringLiteral("unknown option %1").arg(arg);
            return std::nullopt;
        } else {
            const qsizetype colon = arg.indexOf(QLatin1Char(':'));
            const auto address =
                colon > 0 ? parseAddress(arg.left(colon).toLatin1()) : std::nullopt;
            const auto type =
                colon > 0 ? parseControllerType(arg.mid(colon + 1).toLatin1()) : std::nullopt;
            if (!address || !type) {
                *error =
                    QStringLiteral("bad controller '%1' (expected e.g. 55-1:quartel)").arg(arg);
                return std::nullopt;
            }
            parsed.controllers.emplace_back(*address, *type);
        }
    }
    return parsed;
}

}  // namespace

int runSimulator(const QStringList& args, int inFd, int outFd, int errFd, int stopFd) {
    auto complain = [&](const QString& text) {
        writeAll(errFd, "velmar-sim: " + text.toUtf8() + '\n');
    };
    QString error;
    const auto parsed = parseArguments(args, &error);
    if (!parsed) {
        complain(error);
        writeAll(errFd, kUsage);
        return 2;
    }
    if (parsed->help) {
        writeAll(outFd, kUsage);
        return 0;
    }
    Simulator sim(parsed->options);
    for (const auto& [address, type] : parsed->controllers) {
        if (!sim.addController(address, type, &error)) {
            complain(error);
            return 2;
        }
    }
    if (!sim.start(&error)) {
        complain(error);
        return 1;
    }
    if (parsed->linkel && !sim.startLinkel(parsed->linkel->port, parsed->linkel->key, &error)) {
        complain(QStringLiteral("Linkel: %1").arg(error));
        return 1;
    }
    CommandInterpreter interpreter(sim);
    if (!parsed->configPath.isEmpty()) {
        QFile config(parsed->configPath);
        if (!config.open(QIODevice::ReadOnly)) {
            complain(
                QStringLiteral("cannot read %1: %2").arg(parsed->configPath, config.errorString()));
            return 2;
        }
        int lineNumber = 0;
        while (!config.atEnd()) {
            ++lineNumber;
            const CommandReply reply = interpreter.run(config.readLine());
            if (!reply.ok) {
                complain(QStringLiteral("%1:%2: %3")
                             .arg(parsed->configPath)
                             .arg(lineNumber)
                             .arg(reply.error));
                return 2;
            }
            if (reply.quit) {
                return 0;
            }
        }
    }
    writeAll(outFd, "pty " + sim.ptyPath().toLocal8Bit() + '\n');
    if (parsed->linkel) {
        writeAll(outFd, "linkel 127.0.0.1:" + QByteArray::number(sim.linkelPort()) + '\n');
    }

    QByteArray pending;
    bool inputOpen = inFd >= 0;
    char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{inputOpen ? inFd : -1, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (!inputOpen && stopFd < 0) {
            break;
        }
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[1].revents != 0) {
            break;
        }
        if (fds[0].revents == 0) {
            continue;
        }
        const ssize_t n = ::read(inFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            inputOpen = false;
            if (!pending.isEmpty()) {
                writeAll(outFd, interpreter.run(pending).text());
                pending.clear();
            }
            continue;
        }
        pending.append(buffer, n);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const CommandReply reply = interpreter.run(QByteArrayView(pending).first(end));
            pending.remove(0, end + 1);
            writeAll(outFd, reply.text());
            if (reply.quit) {
                return 0;
            }
        }
    }
    return 0;
}

}  // namespace velmar::sim
