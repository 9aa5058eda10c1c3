#include "sim/controller.h"

#include <algorithm>
#include <cmath>

namespace velmar::sim {

namespace {

constexpr int kRoomMessageLength = 52;
constexpr int kExternalMessageLength = 72;

// Offsets in the room and external controllers' status messages.
constexpr int kAnalogOffset = 3;
constexpr int kOutputs1to8 = 19;
constexpr int kOutputs9to16 = 20;
constexpr int kOutputs17to24 = 21;
constexpr int kDigitalInputs = 22;
constexpr int kFastInputs = 23;
constexpr int kOutputs25to32 = 24;
constexpr int kZone = 28;
constexpr int kProgram = 29;
constexpr int kSenselGroupB = 30;
constexpr int kSenselGroupA = 42;

// Offsets in the heating controller's status message.
constexpr int kHeatingChannels = 16;
constexpr int kHeatingOutputs = 35;
constexpr int kHeatingProgram = 38;

constexpr int kSenselModulesInFrame = 3;
constexpr int kSenselGroupALength = 10;
constexpr int kSenselGroupBLength = 4;

}  // namespace

std::optional<ControllerType> parseControllerType(QByteArrayView name) {
    if (name == "quartel") {
        return ControllerType::Quartel;
    }
    if (name == "outrel") {
        return ControllerType::Outrel;
    }
    if (name == "thermel") {
        return ControllerType::Thermel;
    }
    if (name == "sensel") {
        return ControllerType::Sensel;
    }
    if (name == "linkel") {
        return ControllerType::Linkel;
    }
    return std::nullopt;
}

QString controllerTypeName(ControllerType type) {
    switch (type) {
        case ControllerType::Quartel:
            return QStringLiteral("quartel");
        case ControllerType::Outrel:
            return QStringLiteral("outrel");
        case ControllerType::Thermel:
            return QStringLiteral("thermel");
        case ControllerType::Sensel:
            return QStringLiteral("sensel");
        case ControllerType::Linkel:
            return QStringLiteral("linkel");
    }
    return {};
}

Controller::Controller(Address address, ControllerType type) : address_(address), type_(type) {
    data_[0] = address.high;
    data_[1] = address.low;
    data_[2] = 's';
}

int Controller::messageLength() const {
    switch (type_) {
        case ControllerType::Sensel:
            return 0;
        case ControllerType::Outrel:
            return kExternalMessageLength;
        default:
            return kRoomMessageLength;
    }
}

QByteArray Controller::statusMessage() const {
    return QByteArray(reinterpret_cast<const char*>(data_.data()), messageLength());
}

QByteArray Controller::statusBlock(bool linkelAddressing) const {
    const QByteArray message = statusMessage();
    if (message.isEmpty()) {
        return {};
    }
    if (!linkelAddressing) {
        return message + message;
    }
    auto prefix = [](int length) {
        QByteArray p;
        p.append(static_cast<char>(length));
        p.append(static_cast<char>(kPcAddress.high));
        p.append(static_cast<char>(kPcAddress.low));
        return p;
    };
    if (message.size() == kExternalMessageLength) {
        return prefix(2 * kExternalMessageLength) + message + message;
    }
    const QByteArray one = prefix(static_cast<int>(message.size())) + message;
    return one + one;
}

bool Controller::fail(QString* error, const QString& why) const {
    if (error) {
        *error = why;
    }
    return false;
}

bool Controller::setBit(int offset, int bit, bool on) {
    if (on) {
        data_[offset] = static_cast<std::uint8_t>(data_[offset] | (1u << bit));
    } else {
        data_[offset] = static_cast<std::uint8_t>(data_[offset] & ~(1u << bit));
    }
    return true;
}

bool Controller::setAnalog(int channel, int raw, QString* error) {
    if (!hasStatus()) {
        return fail(error, QStringLiteral("a Sensel has no status frame"));
    }
    const int channels = type_ == ControllerType::Thermel ? kHeatingChannels : 8;
    if (channel < 1 || channel > channels) {
        return fail(error, QStringLiteral("channel must be 1..%1").arg(channels));
    }
    if (raw < 0 || raw > 0xFFFF) {
        return fail(error, QStringLiteral("raw value must be 0..65535"));
    }
    const int offset = kAnalogOffset + 2 * (channel - 1);
    data_[offset] = static_cast<std::uint8_t>(raw >> 8);
    data_[offset + 1] = static_cast<std::uint8_t>(raw & 0xFF);
    return true;
}

bool Controller::setOutput(int output, bool on, QString* error) {
    if (!hasStatus()) {
        return fail(error, QStringLiteral("a Sensel has no status frame"));
    }
    if (type_ == ControllerType::Thermel) {
        if (output < 1 || output > 24) {
            return fail(error, QStringLiteral("output must be 1..24"));
        }
        return setBit(kHeatingOutputs + (output - 1) / 8, (output - 1) % 8, on);
    }
    if (output < 1 || output > 32) {
        return fail(error, QStringLiteral("output must be 1..32"));
    }
    static constexpr int kOutputBytes[] = {kOutputs1to8, kOutputs9to16, kOutputs17to24,
                                           kOutputs25to32};
    return setBit(kOutputBytes[(output - 1) / 8], (output - 1) % 8, on);
}

bool Controller::setInput(int input, bool on, QString* error) {
    if (!hasStatus() || type_ == ControllerType::Thermel) {
        return fail(error,
                    QStringLiteral("%1 has no digital inputs").arg(controllerTypeName(type_)));
    }
    if (input < 1 || input > 8) {
        return fail(error, QStringLiteral("input must be 1..8"));
    }
    return setBit(kDigitalInputs, input - 1, on);
}

bool Controller::setFastInput(int input, bool on, QString* error) {
    if (!hasStatus() || type_ == ControllerType::Thermel) {
        return fail(error, QStringLiteral("%1 has no fast inputs").arg(controllerTypeName(type_)));
    }
    if (input < 1 || input > 8) {
        return fail(error, QStringLiteral("input must be 1..8"));
    }
    return setBit(kFastInputs, input - 1, on);
}

bool Controller::setProgram(int program, QString* error) {
    if (!hasStatus()) {
        return fail(error, QStringLiteral("a Sensel has no status frame"));
    }
    if (program < 0 || program > 255) {
        return fail(error, QStringLiteral("program must be 0..255"));
    }
    data_[type_ == ControllerType::Thermel ? kHeatingProgram : kProgram] =
        static_cast<std::uint8_t>(program);
    return true;
}

bool Controller::setZone(int zone, QString* error) {
    if (type_ != ControllerType::Outrel) {
        return fail(error, QStringLiteral("only the Outrel reports a zone"));
    }
    if (zone < 0 || zone > 255) {
        return fail(error, QStringLiteral("zone must be 0..255"));
    }
    data_[kZone] = static_cast<std::uint8_t>(zone);
    return true;
}

bool Controller::setSensel(int module, const QByteArray& bytes, QString* error) {
    if (type_ != ControllerType::Outrel) {
        return fail(error, QStringLiteral("Sensel bits are part of the Outrel's frame"));
    }
    if (module < 1 || module > kSenselModulesInFrame) {
        return fail(error, QStringLiteral("module must be 1..%1").arg(kSenselModulesInFrame));
    }
    if (bytes.isEmpty() || bytes.size() > kSenselGroupALength + kSenselGroupBLength) {
        return fail(error, QStringLiteral("give 1..14 bytes (group A, then group B)"));
    }
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const int offset =
            i < kSenselGroupALength
                ? kSenselGroupA + (module - 1) * kSenselGroupALength + static_cast<int>(i)
                : kSenselGroupB + (module - 1) * kSenselGroupBLength +
                      static_cast<int>(i - kSenselGroupALength);
        data_[offset] = static_cast<std::uint8_t>(bytes[i]);
    }
    return true;
}

bool Controller::setByte(int offset, int value, QString* error) {
    if (!hasStatus()) {
        return fail(error, QStringLiteral("a Sensel has no status frame"));
    }
    if (offset < 3 || offset >= messageLength()) {
        return fail(error, QStringLiteral("offset must be 3..%1").arg(messageLength() - 1));
    }
    if (value < 0 || value > 255) {
        return fail(error, QStringLiteral("value must be 0..255"));
    }
    data_[offset] = static_cast<std::uint8_t>(value);
    return true;
}

int rawForTemperature(double celsius) {
    const double raw = std::nearbyint((celsius + 273.15) * 10.0 * 1023.0 / 5000.0);
    return static_cast<int>(std::clamp(raw, 0.0, 1023.0));
}

int rawForLight(double percent) {
    const double raw = std::nearbyint(1023.0 * (1.0 - percent / 100.0));
    return static_cast<int>(std::clamp(raw, 0.0, 1023.0));
}

}  // namespace velmar::sim
