#include "bus/linkel_config.h"

#include <QFile>
#include <QRandomGenerator>

#include "base/chkint.h"
#include "base/data_root.h"
#include "base/log_text.h"
#include "base/text_file.h"
#include "log/event_log.h"

namespace velmar {

namespace {

const QString kFile = QStringLiteral("linkelnet.cfg");

// Four dotted decimal numbers 0..255, nothing else (no short forms, no blanks inside).
bool isIpv4(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3)
            return false;
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        }
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

LinkelNetConfig create(const QString& path, EventLog& log) {
    LinkelNetConfig c;
    QRandomGenerator* random = QRandomGenerator::system();
    QStringList lines{c.address, QString::number(c.port)};
    for (int i = 1; i <= 8; ++i) {
        c.H[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(random->bounded(256));
        lines << QString::number(c.H[static_cast<std::size_t>(i)]);
    }
    QString error;
    if (!writeLinesAtomic(path, lines, &error))
        log.admem(QLatin1String("Error writing file: ") + error);
    else
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return c;
}

}  // namespace

LinkelNetConfig readOrCreateLinkelNet(const DataRoot& root, EventLog& log) {
    const QString path = root.path(kFile);
    if (!root.exists(kFile))
        return create(path, log);

    // From here on the file is only read: a damaged key is never replaced by a new one, which
    // would lock out every panel that holds the real key.
    LinkelNetConfig c;
    auto fail = [&](const QString& fault) {
        c = LinkelNetConfig{};
        c.keyValid = false;
        c.fault = kFile + QLatin1String(" -> ") + fault;
        log.admem(QLatin1String("Error reading configuration file: ") + c.fault +
                  QLatin1String(", the Linkel link and panel logins are disabled until the file "
                                "is mended"));
        return c;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(file.errorString());
    // A line that is missing (a file of fewer than 10 lines) reads as empty.
    const QStringList lines = splitLines(bytes);
    auto value = [&](int line) { return lines.value(line - 1).trimmed(); };
    auto badLine = [&](int line) {
        return fail(QLatin1String("line ") + QString::number(line) + QLatin1String(": \"") +
                    logText(lines.value(line - 1)) + QLatin1Char('"'));
    };

    if (!isIpv4(value(1)))
        return badLine(1);
    c.address = value(1);
    const auto port = parseInt32(value(2));
    if (!port || *port < 1 || *port > 65535)
        return badLine(2);
    c.port = static_cast<std::uint16_t>(*port);
    for (int i = 1; i <= 8; ++i) {
        const int line = 2 + i;
        const auto byte = parseInt32(value(line));
        if (!byte || *byte < 0 || *byte > 255)
            return badLine(line);
        c.H[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(*byte);
    }
    return c;
}

std::array<std::uint8_t, 13> CalculateChalangeResponse(const std::uint8_t* c, const LoginKey& H) {
    std::array<std::uint8_t, 13> r{};
    for (int i = 0; i < 6; ++i)
        r[static_cast<std::size_t>(i)] = c[i];
    r[6] = c[0] ^ H[8] ^ H[3];
    r[7] = c[1] ^ H[7] ^ H[1];
    r[8] = c[2] ^ H[6] ^ H[2];
    r[9] = c[3] ^ H[5] ^ H[4];
    r[10] = c[4] ^ H[1] ^ H[6];
    r[11] = c[5] ^ H[7] ^ H[3];
    r[12] = 13;
    return r;
}

bool CheckChalangeResponse(const std::uint8_t* challenge, const std::uint8_t* response,
                           const LoginKey& H) {
    const auto expected = CalculateChalangeResponse(challenge, H);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (response[i] != expected[i])
            return false;
    }
    return true;
}

}  // namespace velmar
