#include "sim/linkel.h"

#include "sim/bus_frames.h"

#include <QFile>
#include <QList>
#include <algorithm>

namespace velmar::sim {

namespace {

constexpr int kAddressByte = 1;
constexpr std::uint8_t kLinkelLowAddress = 254;
constexpr int kAnalogOffset = 72;
constexpr int kChannels = 16;
constexpr int kOutputOffset = 104;
constexpr int kOutputs = 160;
constexpr int kMaxRaw = 1023;
constexpr int kResponseLength = 13;

bool failWith(QString* error, const QString& why) {
    if (error) {
        *error = why;
    }
    return false;
}

}  // namespace

std::array<std::uint8_t, 13> linkelResponse(const LinkelChallenge& c, const LinkelKey& H) {
    std::array<std::uint8_t, 13> r{};
    std::copy(c.begin(), c.end(), r.begin());
    r[6] = c[0] ^ H[8] ^ H[3];
    r[7] = c[1] ^ H[7] ^ H[1];
    r[8] = c[2] ^ H[6] ^ H[2];
    r[9] = c[3] ^ H[5] ^ H[4];
    r[10] = c[4] ^ H[1] ^ H[6];
    r[11] = c[5] ^ H[7] ^ H[3];
    r[12] = kResponseLength;
    return r;
}

LinkelRecord::LinkelRecord() {
    data_[0] = kSize - 1;
    data_[kAddressByte] = kLinkelLowAddress;
}

QByteArray LinkelRecord::bytes() const {
    return QByteArray(reinterpret_cast<const char*>(data_.data()), kSize);
}

bool LinkelRecord::setOutput(int output, bool on, QString* error) {
    if (output < 1 || output > kOutputs) {
        return failWith(error, QStringLiteral("output must be 1..%1").arg(kOutputs));
    }
    std::uint8_t& byte = data_[kOutputOffset + (output - 1) / 8];
    const auto mask = static_cast<std::uint8_t>(1u << ((output - 1) % 8));
    byte = static_cast<std::uint8_t>(on ? (byte | mask) : (byte & ~mask));
    return true;
}

bool LinkelRecord::setAnalog(int channel, int raw, QString* error) {
    if (channel < 1 || channel > kChannels) {
        return failWith(error, QStringLiteral("channel must be 1..%1").arg(kChannels));
    }
    if (raw < 0 || raw > kMaxRaw) {
        return failWith(error, QStringLiteral("raw value must be 0..%1").arg(kMaxRaw));
    }
    const int offset = kAnalogOffset + 2 * (channel - 1);
    data_[offset] = static_cast<std::uint8_t>(raw >> 8);
    data_[offset + 1] = static_cast<std::uint8_t>(raw & 0xFF);
    return true;
}

bool LinkelRecord::setByte(int offset, int value, QString* error) {
    if (offset < 1 || offset >= kSize) {
        return failWith(error, QStringLiteral("offset must be 1..%1").arg(kSize - 1));
    }
    if (value < 0 || value > 255) {
        return failWith(error, QStringLiteral("value must be 0..255"));
    }
    data_[offset] = static_cast<std::uint8_t>(value);
    return true;
}

LinkelSession::LinkelSession(const LinkelChallenge& challenge, const LinkelKey& key) {
    const auto response = linkelResponse(challenge, key);
    expected_ = QByteArray(reinterpret_cast<const char*>(response.data()), kResponseLength);
}

int LinkelSession::mode() const {
    switch (state_) {
        case State::Query:
            return kQueryMode;
        case State::Transparent:
            return kTransparentMode;
        default:
            return 0;
    }
}

LinkelSession::Step LinkelSession::feed(QByteArrayView data, bool acceptLogin) {
    Step step;
    while (!data.isEmpty() && !step.close) {
        switch (state_) {
            case State::Login: {
                const qsizetype take = std::min(data.size(), kResponseLength - response_.size());
                response_.append(data.first(take));
                data = data.sliced(take);
                if (response_.size() < kResponseLength) {
                    break;
                }
                if (response_ != expected_) {
                    step.close = true;
                } else if (acceptLogin) {
                    step.reply.append(static_cast<char>(kAccepted));
                    state_ = State::AwaitMode;
                } else {
                    state_ = State::Refused;
                }
                break;
            }
            case State::AwaitMode: {
                const auto mode = static_cast<std::uint8_t>(data.front());
                data = data.sliced(1);
                if (mode == kQueryMode) {
                    state_ = State::Query;
                } else if (mode == kTransparentMode) {
                    state_ = State::Transparent;
                } else {
                    step.close = true;
                }
                break;
            }
            case State::Transparent:
                step.busBytes.append(data);
                data = {};
                break;
            case State::Refused:
            case State::Query:
                data = {};
                break;
        }
    }
    return step;
}

std::optional<LinkelNetFile> parseLinkelNet(const QByteArray& text, QString* error) {
    QList<QByteArray> lines = text.split('\n');
    constexpr int kLines = 10;
    if (lines.size() < kLines) {
        failWith(error, QStringLiteral("%1 lines needed, %2 found").arg(kLines).arg(lines.size()));
        return std::nullopt;
    }
    LinkelNetFile file;
    const auto port = parseDecimal(lines[1], 65535);
    if (!port) {
        failWith(error, QStringLiteral("line 2: port 0..65535 expected"));
        return std::nullopt;
    }
    file.port = static_cast<std::uint16_t>(*port);
    for (int i = 1; i <= 8; ++i) {
        const auto byte = parseDecimal(lines[1 + i], 255);
        if (!byte) {
            failWith(error, QStringLiteral("line %1: key byte 0..255 expected").arg(2 + i));
            return std::nullopt;
        }
        file.key[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(*byte);
    }
    return file;
}

std::optional<LinkelNetFile> readLinkelNet(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        failWith(error, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    QString why;
    auto parsed = parseLinkelNet(file.readAll(), &why);
    if (!parsed) {
        failWith(error, QStringLiteral("%1: %2").arg(path, why));
    }
    return parsed;
}

}  // namespace velmar::sim
