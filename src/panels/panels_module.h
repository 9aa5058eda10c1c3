#pragma once

// panels/: the TCP server of the display panels and of the programs that submit events; its
// sessions run on one network thread. May include base/, log/, lang/, bus/, devices/ and
// events/; heating/ and the folders above may include it.

#include <memory>

#include "base/module.h"
#include "bus/bus_module.h"
#include "devices/devices_module.h"
#include "events/events_module.h"
#include "log/runtime.h"
#include "panels/panel_server.h"

namespace velmar {

// The panel server of the running program: started by "Run" when "tcp.txt" exists and kept
// trying to listen until it can; every accepted status record goes to the panels, every
// submission becomes direct event files; the panel streams are counted in the runtime's
// `panelsConnected`.
class PanelsModule : public Module {
  public:
    // Listens to the accepted status records.
    PanelsModule(Runtime& rt, BusModule& bus, DevicesModule& devices, EventsModule& events);

    void run() override;
    // Deactivates the server; its error text, empty when none.
    QString stop() override;

    PanelServer* panelServer() { return server_.get(); }

    Runtime& rt;
    BusModule& bus;
    DevicesModule& devices;
    EventsModule& events;

  private:
    std::unique_ptr<PanelServer> server_;
};

}  // namespace velmar
