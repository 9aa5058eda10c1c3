#include "bus/linkel_config.h"

#include <QFile>
#include <QHostAddress>
#include <QRandomGenerator>

#include "base/chkint.h"
#include "base/data_root.h"
#include "base/text_file.h"
#include "log/event_log.h"

namespace velmar {

namespace {

const QString kFile = QStringLiteral("linkelnet.cfg");

}  // namespace

LinkelNetConfig readOrCreateLinkelNet(const DataRoot& root, EventLog& log) {
    LinkelNetConfig c;
    const QString path = root.path(kFile);
    if (!root.exists(kFile)) {
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
    const auto lines = readLines(path);
    if (!lines) {
        log.admem(QLatin1String("Error reading file: ") + kFile);
        return c;
    }
    auto bad = [&](int line) {
        log.admem(QLatin1String("Error reading file: ") + kFile + QLatin1String(" -> line ") +
                  QString::number(line));
    };
    const QString address = lines->value(0).trimmed();
    if (QHostAddress a; a.setAddress(address) && a.protocol() == QAbstractSocket::IPv4Protocol)
        c.address = address;
    else
        bad(1);
    const int port = chkint(lines->value(1).trimmed(), 1, 65535, -1);
    if (port > 0)
        c.port = static_cast<std::uint16_t>(port);
    else
        bad(2);
    for (int i = 1; i <= 8; ++i) {
        const int v = chkint(lines->value(1 + i).trimmed(), 0, 255, -1);
        if (v < 0)
            bad(2 + i);
        c.H[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v < 0 ? 0 : v);
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
