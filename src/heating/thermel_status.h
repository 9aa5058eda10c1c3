#pragma once

#include <QString>
#include <array>
#include <cstdint>

#include "bus/bus_port.h"
#include "devices/device_state.h"
#include "devices/status_change.h"
#include "devices/status_publisher.h"
#include "heating/heating_tables.h"
#include "log/runtime.h"

namespace velmar {

// Heating controller state (one per system).
struct ThermelState {
    // Temperatures of channels 0..15 in degrees, and of the frame before.
    std::array<double, 16> HADC{}, HADCPrev{};
    std::int32_t CURRENT_PGM = 0;
    std::int32_t current_program = 0;
    std::int32_t recu_speed = 0;        // ventilation level 0..3
    std::int32_t recu_temperature = 0;  // set temperature 0..31
    std::int32_t kom_level = 0;         // fireplace level 0..7
    QString _recu_mode;
    // Ventilation, boiler, solar and fireplace texts.
    QString went, koci, sola, komi;
};

// The heating controller's side of every accepted status frame: the readings of the channels the
// forwarding table names are kept for it; its own frame is decoded into its state (mode,
// ventilation, boiler, solar and fireplace flags, the sixteen temperatures) and its files, and
// the forwarded readings go back to it in a "T" frame. Through the Linkel, as its companion,
// nothing is sent: the flag "Linkel.stp" asks the Linkel to do it.
class ThermelStatus {
  public:
    ThermelStatus(Runtime& rt, BusPort& port, StatusFiles& files, HeatingTables& tables)
        : rt_(rt), port_(port), files_(files), tables_(tables) {}

    // A status listener: called after the devices' own publication of each accepted frame.
    void statusAccepted(const StatusChange& change);

    ThermelState thermel;

  private:
    void decodeThermel(const StatusFrame& f, const an& d);
    void sendTemperatures();
    void retimeAfterReception();
    void writeThermelFiles(const an& d);

    Runtime& rt_;
    BusPort& port_;
    StatusFiles& files_;
    HeatingTables& tables_;
};

}  // namespace velmar
