#include "sim/bus.h"

namespace velmar::sim {

namespace {

constexpr int kMinimumMemoryBlockPayload = 37;
constexpr qsizetype kShortestEchoedFrame = 6;

}  // namespace

bool isProgrammingBlock(const QByteArray& payload) {
    if (payload.isEmpty()) {
        return false;
    }
    if (payload.size() >= kMinimumMemoryBlockPayload) {
        return true;
    }
    const char letter = payload[0];
    return letter == 'w' || letter == 'W' || letter == 'u' || letter == 'U' ||
           (letter >= '0' && letter <= ':') || (letter >= 'A' && letter <= 'K');
}

bool Bus::add(Address address, ControllerType type, QString* error) {
    auto fail = [&](const QString& why) {
        if (error) {
            *error = why;
        }
        return false;
    };
    if (address == kBroadcast) {
        return fail(QStringLiteral("0-0 is the broadcast address"));
    }
    if (address == kPcAddress) {
        return fail(QStringLiteral("254-254 is the PC's address"));
    }
    if (find(address)) {
        return fail(QStringLiteral("%1 is already on the bus").arg(address.toString()));
    }
    controllers_.emplace_back(address, type);
    return true;
}

Controller* Bus::find(Address address) {
    for (Controller& c : controllers_) {
        if (c.address() == address) {
            return &c;
        }
    }
    return nullptr;
}

const Controller* Bus::find(Address address) const {
    for (const Controller& c : controllers_) {
        if (c.address() == address) {
            return &c;
        }
    }
    return nullptr;
}

Controller* Bus::target(Address destination) {
    if (destination == kBroadcast) {
        for (Controller& c : controllers_) {
            if (!c.silent) {
                return &c;
            }
        }
        return nullptr;
    }
    Controller* c = find(destination);
    return c && !c->silent ? c : nullptr;
}

std::vector<Transmission> Bus::onFrame(const QByteArray& frame, bool complete) {
    const bool linkel = settings.linkelAddressing;
    if (!complete) {
        const bool insertedForm =
            linkel && !frame.isEmpty() && frame.size() == static_cast<std::uint8_t>(frame[0]) + 1;
        if (!insertedForm) {
            return {};
        }
    }
    const auto parsed = parsePcFrame(frame, linkel);
    if (!parsed || parsed->payload.isEmpty()) {
        return {};
    }
    Controller* c = target(parsed->destination);
    if (!c) {
        return {};
    }
    const QByteArray& payload = parsed->payload;
    std::vector<Transmission> out;
    if (payload == "q") {
        if (c->hasStatus()) {
            out.push_back({settings.turnaroundMs, c->statusBlock(linkel)});
        }
        return out;
    }
    if (payload == "OK") {
        const std::optional<QByteArray> confirmed = std::move(c->awaitingConfirmation);
        c->awaitingConfirmation.reset();
        if (!confirmed) {
            return out;
        }
        QByteArray text;
        if (confirmed->startsWith("eEV")) {
            c->executed.push_back(*confirmed);
            text = "lEXEC";
        } else if (isProgrammingBlock(*confirmed)) {
            const ProgramAnswer answer = c->programAnswer.value_or(settings.programAnswer);
            if (c->programAnswer && c->programBlocks > 0 && --c->programBlocks == 0)
                c->programAnswer.reset();
            if (answer == ProgramAnswer::Ok) {
                text = "lOKWRROM";
                c->memory[confirmed->at(0)] = *confirmed;
            } else if (answer == ProgramAnswer::Refuse) {
                text = "lERWRROM";
            }
        }
        if (!text.isEmpty()) {
            out.push_back({settings.textPauseMs, *textMessage(c->address(), text, linkel)});
        }
        return out;
    }
    if (frame.size() >= kShortestEchoedFrame && !c->noConfirm) {
        out.push_back({settings.turnaroundMs, echoOf(frame, linkel)});
        c->awaitingConfirmation = payload;
    }
    return out;
}

}  // namespace velmar::sim
