#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <functional>
#include <optional>

#include "config/device_settings.h"
#include "events/event_compiler.h"

namespace velmar {

// What the image is built from besides the record: the loaded device's address, the Bluetooth
// names and the compilation of an event picker's text (`convert_eventc`).
struct ImageSource {
    const DeviceSettings& settings;
    int wasadrh = 55;
    int wasadrl = 55;
    QString bthost;  // 3 characters
    QString btpass;  // 4..7 characters
    std::function<Compiled<EventArray>(const QString& text, const QString& picker)> compile;
    // Logs what the image had to change (a temperature outside the controllers' range).
    std::function<void(const QString& line)> log;
};

// The four blocks `conf` "w", `conf2` "u", `conf3` "W", `conf4` "U": 266-byte frame images,
// count byte 254 (bytes 1..254 go on the bus). `speed` is the bus speed of `RSspeed` when it is
// one the serial line supports (the caller then rewrites "com.cfg"), 0 otherwise.
struct ConfigurationImage {
    std::array<QByteArray, 4> blocks;
    int speed = 0;
};

// The image of a room or external controller. Nothing when an event does not compile (the
// reason in `error`).
std::optional<ConfigurationImage> buildConfigurationImage(const ImageSource& source,
                                                          QString* error);

}  // namespace velmar
