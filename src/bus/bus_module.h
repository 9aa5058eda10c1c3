#pragma once

// bus/: the transport. Frame writers and the echo reference, the serial port and its reader
// thread, the receive path and the message decoder, the Linkel link, the query timer and the
// message dispatcher. It splits and classifies what arrives and hands each message on, typed;
// it holds no policy of the folders above. May include base/, log/ and lang/ only; every folder
// above may include it.

#include <QTimer>

#include "base/module.h"
#include "bus/bus_port.h"
#include "bus/linkel_config.h"
#include "bus/linkel_link.h"
#include "bus/message_decoder.h"
#include "bus/messages.h"
#include "bus/receive_path.h"
#include "bus/serial_link.h"
#include "log/runtime.h"

namespace velmar {

// The bus of the running program: one port (writers, flags, query timer), the dispatcher the
// folders above subscribe to, the receive side, the serial link and the Linkel link.
class BusModule : public Module {
  public:
    // `autoQueryTimer`: the main window's `AutoQuery`.
    BusModule(Runtime& rt, QTimer& autoQueryTimer);
    ~BusModule() override;

    // "linkelnet.cfg": the Linkel's address and the login key (created on the first run).
    void load() override;
    // The switches have set the flags the writers read.
    void tablesBuilt() override;
    // Connects to the Linkel when the switches asked for it.
    void initialWork() override;
    QString stop() override;

    // The reader thread opens the port of "com.cfg".
    void startSerialThread();
    // Ends the reader thread within `waitMs`.
    void joinThreads(int waitMs);

    Runtime& rt;
    BusPort port;
    MessageDispatcher messages;
    MessageDecoder decoder;
    ReceivePath receive;
    SerialLink serial;
    LinkelLink linkel;
    LinkelNetConfig linkelNet;

  private:
    void syncFlags();
};

}  // namespace velmar
