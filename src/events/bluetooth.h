#pragma once

#include <QObject>
#include <QTimer>

#include "bus/messages.h"
#include "log/runtime.h"

namespace velmar {

// The commands a Bluetooth module sends (command byte 254): each becomes an event request
// "emails\bt-<time>_<n>.run". After a block the module's commands are ignored for 5 s
// (`disablbluetooth`), so that a repeated block runs once.
class Bluetooth : public QObject {
    Q_OBJECT
  public:
    explicit Bluetooth(Runtime& rt, QObject* parent = nullptr);

    // Throws when a request cannot be written (the decoder logs "Error decoding buffer: ").
    void onCommands(const msg::Bluetooth& commands);

    bool disablebluetooth = false;
    QTimer disablbluetooth;

  private:
    Runtime& rt_;
};

}  // namespace velmar
