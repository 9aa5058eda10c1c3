#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "sim/bus_frames.h"

namespace velmar::sim {

// Quartel: room controller. Outrel: external controller (2-1), whose status frame also carries
// the bits of the Sensel expanders behind it. Thermel: heating controller (1-1). Sensel: an
// expander (85-1..85-5); it confirms frames addressed to it but has no status frame of its own.
// Linkel (0-254): for now a plain controller with the room controller's status frame.
enum class ControllerType { Quartel, Outrel, Thermel, Sensel, Linkel };

// How the addressed controller acknowledges a programming block once the PC has confirmed its
// echo: "lOKWRROM", "lERWRROM" or not at all.
enum class ProgramAnswer { Ok, Refuse, None };

// Raw 10-bit channel values of physical readings: a temperature sensor of 10 mV per kelvin on
// a 5000 mV supply, and a light sensor whose value falls as the light rises. Clamped to 0..1023.
int rawForTemperature(double celsius);
int rawForLight(double percent);

std::optional<ControllerType> parseControllerType(QByteArrayView name);
QString controllerTypeName(ControllerType type);

// One controller on the bus: its address, type, status contents and scripted behaviour.
//
// Status message layouts (offsets from the sender address; [0] address high, [1] address low,
// [2] 's'):
//   room controller, 52 bytes: 3..18 analogue channels 1..8 (channel k at 2k+1 high byte,
//     2k+2 low byte), 19/20/21 outputs 1..8/9..16/17..24 (bit 0 = lowest), 22 digital inputs
//     1..8, 23 fast inputs 1..8, 24 outputs 25..32, 29 current program;
//   external controller, 72 bytes: the same, plus 28 current zone, 30..41 group B of Sensel
//     modules 1..3 (4 bytes each), 42..71 group A of modules 1..3 (10 bytes each);
//   heating controller, 52 bytes: 3..34 temperature channels 1..16 (two bytes each, high
//     first), 35/36/37 outputs 1..8/9..16/17..24, 38 current program, 39..51 mode and flags.
// Bytes not named are zero unless set with setByte.
class Controller {
  public:
    Controller(Address address, ControllerType type);

    Address address() const { return address_; }
    ControllerType type() const { return type_; }
    bool hasStatus() const { return type_ != ControllerType::Sensel; }

    // One status message (52 or 72 bytes); empty for a Sensel.
    QByteArray statusMessage() const;
    // What the controller writes in answer to a query: its status message twice in a row.
    // Direct addressing: message, message. Linkel addressing, 52-byte messages:
    // ([52][254][254] message) twice, so the copy repeats 55 bytes after the block start.
    // Linkel addressing, 72-byte message: [144][254][254] message message, so the copy repeats
    // 72 bytes after the sender address. The length byte counts the bytes after the destination.
    QByteArray statusBlock(bool linkelAddressing) const;

    // Setters; each checks its arguments and the controller type first and changes nothing
    // when it fails.
    bool setAnalog(int channel, int raw, QString* error = nullptr);
    bool setOutput(int output, bool on, QString* error = nullptr);
    bool setInput(int input, bool on, QString* error = nullptr);
    bool setFastInput(int input, bool on, QString* error = nullptr);
    bool setProgram(int program, QString* error = nullptr);
    bool setZone(int zone, QString* error = nullptr);
    // Sensel module 1..3 (the external controller's frame has room for three): up to 14 bytes,
    // the 10 bytes of group A (warning bits of inputs 1..40, then alarm bits of inputs 1..40)
    // followed by the 4 bytes of group B (active bits of inputs 1..32).
    bool setSensel(int module, const QByteArray& bytes, QString* error = nullptr);
    // Any data byte of the status message (offset 3 up to the message length - 1).
    bool setByte(int offset, int value, QString* error = nullptr);

    bool silent = false;     // answers nothing at all
    bool noConfirm = false;  // never echoes
    // Payload of the last frame echoed and not yet confirmed with "OK".
    std::optional<QByteArray> awaitingConfirmation;
    // The direct events executed ("eEV" payloads confirmed with "OK"), oldest first.
    std::vector<QByteArray> executed;
    // This controller's answer to programming blocks instead of the bus-wide one: for the next
    // `programBlocks` blocks (for every block while 0).
    std::optional<ProgramAnswer> programAnswer;
    int programBlocks = 0;
    // The programming blocks acknowledged with "lOKWRROM", by command letter: the payload as
    // it came (letter first).
    std::map<char, QByteArray> memory;

  private:
    int messageLength() const;
    bool fail(QString* error, const QString& why) const;
    bool setBit(int offset, int bit, bool on);

    Address address_;
    ControllerType type_;
    std::array<std::uint8_t, 72> data_{};
};

}  // namespace velmar::sim
