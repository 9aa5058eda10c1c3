#include "app/core_services.h"

#include "app/manager.h"
#include "bus/com_config.h"
#include "lang/locale_number.h"

namespace velmar {

namespace {

// Status frames go to the status decoder, events other devices ask for to the event files.
class CoreHandlers : public StatusFrameHandlers {
  public:
    CoreHandlers(StatusDecoder& decoder, std::function<EventFiles&()> files)
        : StatusFrameHandlers(decoder), files_(std::move(files)) {}
    void execeventextern(int adrh, int adrl, const std::array<std::uint8_t, 5>& event) override {
        files_().execeventextern(static_cast<std::uint8_t>(adrh), static_cast<std::uint8_t>(adrl),
                                 event);
    }

  private:
    std::function<EventFiles&()> files_;
};

// The actions of event requests that the program has so far: the shutdown.
class CoreActions : public EventActions {
  public:
    explicit CoreActions(Manager& m) : manager_(m) {}
    bool applicationReboot() override {
        QTimer::singleShot(0, &manager_, [this] { manager_.shutdown(); });
        return true;
    }

  private:
    Manager& manager_;
};

}  // namespace

CoreServices::CoreServices(Manager& m)
    : manager_(m),
      writer_(m.log(), busFlags_),
      serial_(m.log()),
      eventNames_(m.dataRoot(), m.log()),
      registry_(m.dataRoot(), m.log(), m.clock(), eventNames_),
      handlers_(nullptr) {
    writer_.setSerialOutput(&serial_);
    commands_ = std::make_unique<Commands>(Commands::Context{m.log(), m.clock(), writer_,
                                                             m.queryTimer, m.settings().timing,
                                                             busFlags_, m.flags().debugtimer});
    status_ = std::make_unique<StatusDecoder>(StatusDecoderContext{
        m.dataRoot(), m.log(), m.logFiles(), m.clock(), registry_, writer_, m.queryTimer,
        m.settings().timing, m.settings(), busFlags_, m.flags().TCP_INDEX_INC,
        m.flags().linkel_companion, m.audioext(), wasalarm_, alarmextender_,
        [this](std::uint8_t h, std::uint8_t l, const QByteArray& text) {
            commands_->run_command(h, l, text);
        }});
    linkelStatus_ = std::make_unique<LinkelStatus>(m.dataRoot(), m.log(), m.clock(), registry_);
    // The Linkel's address and key come from "linkelnet.cfg" when the program is started.
    linkel_ = std::make_unique<LinkelLink>(
        LinkelLink::Context{
            m.log(), busFlags_, m.queryTimer, m.Timertcp, m.flags().tcpqueryen,
            [this](const QByteArray& block) { receive_->ReadFromEthernet(block); },
            [this, &m](const QByteArray& record) {
                m.setTcpIndexInc(1);
                status_->set_ql_record(record);
            },
            [this](const QByteArray& record) { linkelStatus_->set_status_linkel(record); }},
        LinkelNetConfig{});
    writer_.setTcpOutput(linkel_.get());
    // Every accepted status record goes to the panels.
    status_->onStatus = [this] {
        if (!panels_)
            return;
        const auto cache = status_->panelSnapshot();
        if (cache[0] > 0)
            panels_->publish(QByteArray(reinterpret_cast<const char*>(cache.data()), cache[0] + 1));
    };
    statusHandlers_ =
        std::make_unique<CoreHandlers>(*status_, [this]() -> EventFiles& { return *files_; });
    statusHandlers_->log = &m.log();
    handlers_ = statusHandlers_.get();
    buildReceivePath();
    actions_ = std::make_unique<CoreActions>(m);
    files_ = std::make_unique<EventFiles>(
        EventFiles::Context{m.dataRoot(), m.log(), m.clock(), eventNames_, writer_, cycle_,
                            m.queryTimer, m.settings().timing, busFlags_, m.flags().debugtimer},
        *actions_);
    queryCycle_ = std::make_unique<QueryCycle>(QueryCycle::Context{
        m.dataRoot(), m.log(), m.logFiles(), m.clock(), registry_, *commands_, *files_, *actions_,
        cycle_, m.queryTimer, m.settings().timing, m.settings(), m.flags(), m.audioext()});
    update_ = std::make_unique<UpdateSequence>(UpdateSequence::Context{
        m.log(), *commands_, registry_, m.UpdateAfterReset, m.queryTimer, m.options(),
        m.flags().debugtimer, [&m](bool v) { m.setNotstart(v); }, nullptr, nullptr});
    afterRestart_ = std::make_unique<AfterRestart>(AfterRestart::Context{
        m.log(), *commands_, m.queryTimer, m.options(), m.flags().debugtimer, nullptr});
    QObject::connect(
        &serial_, &SerialLink::blockReceived, &m,
        [this](const QByteArray& block) { receive_->processSerialBlock(block); },
        Qt::QueuedConnection);
}

CoreServices::~CoreServices() {
    serial_.stop(1000);
}

void CoreServices::setHandlers(ReceivedMessageHandlers* handlers) {
    handlers_ = handlers ? handlers : statusHandlers_.get();
    buildReceivePath();
}

// The decoder keeps its handlers by reference, so new handlers mean a new decoder and a new
// receive path over it.
void CoreServices::buildReceivePath() {
    Manager& m = manager_;
    decoder_ = std::make_unique<MessageDecoder>(
        DecoderContext{m.dataRoot(), m.log(), m.logFiles(), m.clock(), registry_, writer_, cycle_,
                       m.queryTimer, m.settings().timing, m.settings(), m.audioext(),
                       m.flags().admins, m.flags().TCP_INDEX_INC, m.flags().debugtimer, wasalarm_,
                       alarmextender_},
        *handlers_);
    receive_ = std::make_unique<ReceivePath>(ReceivePath::Context{
        m.log(), writer_, *decoder_, *this, m.queryTimer, m.settings().timing, busFlags_,
        m.flags().debugtimer, m.notstartRef(), &serial_, linkel_.get(),
        [this](std::uint8_t h, std::uint8_t l, const QByteArray& text) {
            commands_->run_command(h, l, text);
        }});
}

void CoreServices::syncFlags() {
    busFlags_.offline = manager_.flags().offline;
    busFlags_.linkel_addressing = manager_.settings().linkel_addressing;
    statusHandlers_->debugEnabled = manager_.flags().debugtimer;
}

void CoreServices::startSerialThread() {
    syncFlags();
    serial_.start(readComConfig(manager_.dataRoot()));
}

void CoreServices::registerSecurityZoneNames() {
    eventNames_.load_mem_secu();
}

void CoreServices::loadExpanderAndZoneNames() {
    for (int m = 1; m <= DeviceRegistry::kSenselModules; ++m)
        registry_.load_sensel(m);
    registry_.load_zonenames();
}

void CoreServices::buildDeviceTables() {
    syncFlags();
    registry_.scanDevices();
    for (const QString& name : registry_.scannedNames)
        files_->createmaintanance(name);
    cycle_ = QueryCycleState{};
    queryCycle_->restart();
}

void CoreServices::loadCommandAliases() {
    registry_.read_aliases();
}

void CoreServices::createConfigurationWindow() {
    linkelNet_ = readOrCreateLinkelNet(manager_.dataRoot(), manager_.log());
    registry_.loadnames_ql();
    registry_.readethernetdevs();
    // The heating window: the forwarding table ("temperatures.cfg") and the labels.
    loadHeatingTables(manager_.dataRoot(), manager_.log(), QString::number(localeNumber()),
                      status_->heating);
}

void CoreServices::configWindowInitialWork() {
    const StartupFlags& f = manager_.flags();
    if (!f.via_linkel || busFlags_.tcpgatewayenabled)
        return;
    manager_.log().admem(QStringLiteral("Connect Via Linkel"));
    linkel_->setConfig(linkelNet_);
    linkel_->sendsoc(f.linkel_companion ? 1 : 3);
}

void CoreServices::startPanelServer() {
    Manager& m = manager_;
    if (panels_ || !m.dataRoot().exists(QStringLiteral("tcp.txt")))
        return;
    const PanelServerOptions options = readTcpTxt(m.dataRoot(), m.log());
    panels_ = std::make_unique<PanelServer>(m.log(), m.clock(), linkelNet_.H);
    // Submissions arrive from the network thread; the files are written on the main thread.
    QObject::connect(
        panels_.get(), &PanelServer::eventsSubmitted, &m,
        [this](const QList<QByteArray>& records, const QString&) {
            files_->writeTcpEvents(records);
        },
        Qt::QueuedConnection);
    QString error;
    if (!panels_->start(options, &error)) {
        m.log().admem(QLatin1String("Error Initializing server socket: ") + error);
        panels_.reset();
    }
}

QString CoreServices::stopPanelServer() {
    return panels_ ? panels_->stop() : QString();
}

bool CoreServices::updateAfterResetTick() {
    update_->tick();
    return true;
}

void CoreServices::stopConfigurationTimers() {
    afterRestart_->timer.stop();
    decoder_->disablbluetooth.stop();
}

void CoreServices::closeSerialPort() {
    serial_.stop(1000);
}

void CoreServices::joinThreads(int waitMs) {
    serial_.stop(waitMs);
}

bool CoreServices::queryCycleTick() {
    queryCycle_->tick();
    return true;
}

void CoreServices::minuteClock() {
    queryCycle_->requestScheduled();
}

bool CoreServices::afterRestartActive() const {
    return afterRestart_->isActive();
}

void CoreServices::startAfterRestart(int ms, int adrh, int adrl) {
    afterRestart_->start(ms, adrh, adrl);
}

}  // namespace velmar
