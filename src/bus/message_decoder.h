#pragma once

#include <QByteArray>
#include <QString>

#include "bus/bus_port.h"
#include "bus/messages.h"
#include "log/runtime.h"

namespace velmar {

// Splits a received block into messages and classifies each: text messages, Bluetooth
// commands, status frames, IR and radio codes, memory banks and external events. Each message
// goes to the dispatcher as its kind; the reactions belong to the folders that subscribe.
class MessageDecoder {
  public:
    MessageDecoder(Runtime& rt, BusPort& port, MessageDispatcher& messages)
        : rt_(rt), port_(port), messages_(messages) {}

    // Decodes the first `size` bytes of `block` (the whole block when -1). Never throws: a
    // subscriber's failure is logged as "Error decoding buffer: ".
    void DecodeMessageBuff(const QByteArray& block, int size = -1);

  private:
    void decode(const QByteArray& block, int size);
    void textMessage(DeviceAddress sender, const SenderInfo& info, const QString& command);
    void bluetooth(const QByteArray& block, int size);
    void externalEvent(const QString& first);

    Runtime& rt_;
    BusPort& port_;
    MessageDispatcher& messages_;
};

}  // namespace velmar
