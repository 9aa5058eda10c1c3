#pragma once

#include <memory>

#include "app/subsystems.h"
#include "bus/frame_writer.h"
#include "bus/linkel_link.h"
#include "bus/message_decoder.h"
#include "bus/receive_path.h"
#include "bus/serial_link.h"
#include "devices/linkel_status.h"
#include "devices/registry.h"
#include "devices/status_decoder.h"
#include "events/commands.h"
#include "events/cycle_state.h"
#include "events/event_files.h"
#include "events/event_names.h"
#include "events/query_cycle.h"
#include "events/update_sequence.h"
#include "panels/panel_server.h"

namespace velmar {

class Manager;

// The subsystems of the running program, owned in one place and wired to the manager: the
// bus (writers, serial link, receive path, decoder), the device registry, the command
// primitives and the update sequence.
class CoreServices : public Subsystems, public ProgrammingEvents {
  public:
    explicit CoreServices(Manager& manager);
    ~CoreServices() override;

    // Subsystems
    void startSerialThread() override;
    void registerSecurityZoneNames() override;
    void loadExpanderAndZoneNames() override;
    void buildDeviceTables() override;
    void loadCommandAliases() override;
    void createConfigurationWindow() override;
    void configWindowInitialWork() override;
    void startPanelServer() override;
    QString stopPanelServer() override;
    bool updateAfterResetTick() override;
    bool queryCycleTick() override;
    void minuteClock() override;
    void stopConfigurationTimers() override;
    void closeSerialPort() override;
    void joinThreads(int waitMs) override;

    // ProgrammingEvents
    bool afterRestartActive() const override;
    void startAfterRestart(int ms, int adrh, int adrl) override;

    BusFlags& busFlags() { return busFlags_; }
    FrameWriter& writer() { return writer_; }
    SerialLink& serialLink() { return serial_; }
    ReceivePath& receivePath() { return *receive_; }
    MessageDecoder& decoder() { return *decoder_; }
    DeviceRegistry& registry() { return registry_; }
    EventNames& eventNames() { return eventNames_; }
    Commands& commands() { return *commands_; }
    QueryCycleState& cycle() { return cycle_; }
    StatusDecoder& statusDecoder() { return *status_; }
    EventFiles& eventFiles() { return *files_; }
    LinkelLink& linkel() { return *linkel_; }
    PanelServer* panelServer() { return panels_.get(); }
    QueryCycle& queryCycle() { return *queryCycle_; }
    // Replaces the handlers of decoded messages (status frames, IR codes, ...).
    void setHandlers(ReceivedMessageHandlers* handlers);

  private:
    void syncFlags();
    void buildReceivePath();

    Manager& manager_;
    BusFlags busFlags_;
    FrameWriter writer_;
    SerialLink serial_;
    EventNames eventNames_;
    DeviceRegistry registry_;
    QueryCycleState cycle_;
    ReceivedMessageHandlers* handlers_;
    bool wasalarm_ = false;
    int alarmextender_ = 0;
    std::unique_ptr<Commands> commands_;
    std::unique_ptr<StatusDecoder> status_;
    std::unique_ptr<StatusFrameHandlers> statusHandlers_;
    std::unique_ptr<MessageDecoder> decoder_;
    std::unique_ptr<ReceivePath> receive_;
    LinkelNetConfig linkelNet_;
    std::unique_ptr<LinkelStatus> linkelStatus_;
    std::unique_ptr<LinkelLink> linkel_;
    std::unique_ptr<EventActions> actions_;
    std::unique_ptr<EventFiles> files_;
    std::unique_ptr<QueryCycle> queryCycle_;
    std::unique_ptr<PanelServer> panels_;
    std::unique_ptr<UpdateSequence> update_;
    std::unique_ptr<AfterRestart> afterRestart_;
};

}  // namespace velmar
