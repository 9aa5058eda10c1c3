#include "config/configuration.h"

#include <QDir>
#include <QFile>

#include "base/chkint.h"
#include "base/names.h"
#include "base/text_file.h"
#include "bus/bus_module.h"
#include "bus/com_config.h"
#include "devices/devices_module.h"
#include "devices/name_forms.h"
#include "events/events_module.h"

namespace velmar {

namespace {

const QString kDir = QStringLiteral("devices aliases\\");

QString normalised(const QString& text, int keep, int atLeast, QChar pad) {
    QString s = text.left(keep);
    while (s.size() < atLeast)
        s += pad;
    return s;
}

}  // namespace

Configuration::Configuration(Runtime& rt, BusModule& bus, DevicesModule& devices,
                             EventsModule& events, UploadEngine& engine)
    : rt_(rt), bus_(bus), devices_(devices), events_(events), engine_(engine) {}

QString Configuration::stem() const {
    return QString::number(wasadrh) + QLatin1Char('-') + QString::number(wasadrl);
}

QString Configuration::editedStem() const {
    return QString::number(chkint(settings.DAddrH.text, 1, 255, 55)) + QLatin1Char('-') +
           QString::number(chkint(settings.DAddrL.text, 1, 255, 55));
}

void Configuration::create() {
    valueLists();
    // The Bluetooth names are known from the start: a save before the initial work must not
    // write the padding of empty fields over the file.
    const BluetoothNames bt = readOrCreateBtconfig(rt_);
    bthost = normalised(bt.host, 3, 3, QLatin1Char('a'));
    btpass = normalised(bt.password, 7, 4, QLatin1Char('a'));
    reload();
}

void Configuration::doinitialstuff() {
    FOSC = readOrCreateFosc(rt_);
    MUL_IR_TIM = 3;
    DIV_IR_TIM = 4 * 24 / FOSC;
    if (initialDone_)
        return;
    initialDone_ = true;
    const BluetoothNames bt = readOrCreateBtconfig(rt_);
    bthost = normalised(bt.host, 3, 3, QLatin1Char('a'));
    btpass = normalised(bt.password, 7, 4, QLatin1Char('a'));
    if (!rt_.flags.linkel_companion)
        parts->loadIrTimings();
    emit changed();
}

void Configuration::reload(const QString& name) {
    devices = readDeviceList(rt_);
    current = -1;
    if (devices.names.isEmpty()) {
        emit changed();
        return;
    }
    const int at = name.isEmpty() ? 0 : devices.indexOf(name);
    pick(devices.names.value(at < 0 ? 0 : at));
}

bool Configuration::pick(const QString& name) {
    const int at = devices.indexOf(name);
    if (at < 0)
        return false;
    current = at;
    if (isValidName(name)) {
        rt_.root.makeDir(QStringLiteral("AllEvents"));
        rt_.root.makeDir(QLatin1String("AllEvents\\") + getascival(name));
    }
    return load();
}

void Configuration::buildThresholdLists() {
    const ValueLists& v = valueLists();
    thresholds.fill(v.voltage);
    // Inputs 2 and (in temperature mode) 3 measure temperatures with the device's calibration;
    // without a state record input 2 has no list (a stored text is kept as it is).
    const an* state = devices_.registry.stateOf(wasadrh, wasadrl);
    thresholds[1] = state ? temperatureCurve(state->RCAL[1], state->vcc) : QStringList();
    if (settings.CheckBox1)
        thresholds[2] = state ? temperatureCurve(state->RCAL[2], state->vcc) : QStringList();
}

bool Configuration::load() {
    pickers.clear();
    settings = DeviceSettings{};
    eventsChanged = false;
    if (current < 0 || current >= devices.files.size())
        return false;
    const QString file = kDir + devices.files[current];
    QString error;
    const auto bytes = readFile(rt_.root.path(file), &error);
    if (!bytes) {
        rt_.log.admem(QLatin1String("Error reading file: ") + file + QLatin1String(" -> ") + error);
        return false;
    }
    readDeviceFileLines(splitLines(*bytes), settings);
    wasadrh = chkint(settings.DAddrH.text, 1, 255, 55);
    wasadrl = chkint(settings.DAddrL.text, 1, 255, 55);
    // The companion files come before the events are rebuilt from their names.
    const QString s = stem();
    Companions::readOex(rt_, s, settings);
    if (settings.CheckBox2) {
        parts->selectProgram0();
        parts->prepareSenselPage();
        // Without ".dex" the names are those of the device file's lines 195-218.
        Companions::readDex(rt_, s, settings);
        parts->loadRadioAndAccess(settings);
    }
    Companions::readAdv(rt_, s, settings);
    Companions::readPgm(rt_, s, settings);
    buildThresholdLists();
    parts->loadIrLists(settings);
    if (recreateevents(rt_, eventSource(), false))
        events_.names.reload(settings.DName);
    pickers = readevents(rt_, QStringLiteral("Quartel"), QString::number(wasadrh),
                         QString::number(wasadrl));
    // The lists are final: every list-bound field chooses its entry now.
    selectFields(settings, thresholds);
    parts->readProfiles(settings);
    emit changed();
    return true;
}

DeviceEventSource Configuration::eventSource() const {
    DeviceEventSource d;
    d.name = settings.DName;
    d.adrh = QString::number(wasadrh);
    d.adrl = QString::number(wasadrl);
    d.outrel = settings.CheckBox2;
    for (int k = 0; k < 24; ++k) {
        d.outputs << settings.O[static_cast<std::size_t>(k)];
        d.outrelOutputs << settings.OutrelName[static_cast<std::size_t>(k)];
        d.outrelActions[static_cast<std::size_t>(k)] = outrelList(k);
    }
    for (const QString& n : settings.LightContr)
        d.lightControllers << n;
    d.programs = settings.programs;
    for (const QString& n : settings.ADC)
        d.adcs << n;
    for (const QString& n : settings.DigitalIn)
        d.digitalInputs << n;
    for (const QString& n : settings.IntInp)
        d.fastInputs << n;
    d.externalPrograms = parts->externalPrograms(settings);
    return d;
}

bool Configuration::refuse(const QString& why) {
    rt_.log.admem(QLatin1String("Save refused: ") + why);
    return false;
}

bool Configuration::saveSettingsAndUpdate() {
    const QString name = settings.DName;
    if (!isValidName(name))
        return refuse(QLatin1String("device name \"") + name +
                      QLatin1String("\" fails the naming rule"));
    if (!settings.DAddrH.selected() || !settings.DAddrL.selected())
        return refuse(QLatin1String("wrong address: ") + settings.DAddrH.text + QLatin1Char('-') +
                      settings.DAddrL.text);
    const QString target = editedStem();
    const QString targetFile = target + QLatin1String(".dev");
    // The name belongs to one device: another file holding it (not the loaded device's, not the
    // one being written) refuses the save.
    const int other = devices.indexOf(name);
    if (other >= 0 && other != current &&
        devices.files[other].compare(targetFile, Qt::CaseInsensitive) != 0)
        return refuse(QLatin1String("device name \"") + name + QLatin1String("\" is the name of ") +
                      kDir + devices.files[other]);

    // The companions go under the address as edited: a changed address is a new device.
    if (!rt_.root.exists(kDir + target + QLatin1String(".pgm")))
        Companions::writePgm(rt_, target, settings);
    Companions::writeAdv(rt_, target, settings);
    parts->writeMobileConfiguration(settings);
    Companions::writeOex(rt_, target, settings);
    if (settings.CheckBox2)
        parts->saveProfiles(settings);

    bthost = normalised(bthost, 3, 3, QLatin1Char('a'));
    btpass = normalised(btpass, 7, 4, QLatin1Char('1'));
    writeBtconfig(rt_, {bthost, btpass});
    parts->restartHelperTimer(60000);

    parts->selectProgram0();
    rt_.log.admem(QLatin1String("Save configuration for device: ") + name);
    bus_.port.AutoQuery.stop();
    parts->saveIrCodes(settings);

    QString error;
    if (!writeLinesAtomic(rt_.root.path(kDir + targetFile), deviceFileLines(settings), &error)) {
        rt_.log.admem(QLatin1String("Error writing file: ") + kDir + targetFile +
                      QLatin1String(" -> ") + error);
        bus_.port.AutoQuery.start();
        return false;
    }
    const bool thermel = chkint(settings.DAddrH.text, 1, 255, 55) == 1;
    if (thermel && chkint(settings.DAddrL.text, 1, 255, 55) == 1)
        parts->saveHeating(settings);
    savealiases();

    bool started = false;
    if (thermel) {
        // The heating controller's image is the heating part's.
        rt_.log.admem(QLatin1String("Heating controller upload not available: ") + name);
        bus_.port.AutoQuery.start();
    } else {
        const auto image = buildConfigurationImage(
            ImageSource{settings, wasadrh, wasadrl, bthost, btpass,
                        [this](const QString& text, const QString& picker) {
                            return convert_eventc(rt_, pickers, text, picker);
                        },
                        [this](const QString& line) { rt_.log.admem(line); }},
            &error);
        if (!image) {
            rt_.log.admem(QLatin1String("Error in event definition (") + error +
                          QLatin1String("): configuration of ") + name +
                          QLatin1String(" not sent"));
            bus_.port.AutoQuery.start();
        } else {
            if (image->speed > 0) {
                ComConfig com = readComConfig(rt_.root);
                com.baudRate = image->speed;
                if (!writeComConfig(rt_.root, com, &error))
                    rt_.log.admem(QLatin1String("Error writing file: com.cfg -> ") + error);
            }
            UploadJob job{UploadJob::Kind::Configuration,
                          name,
                          {image->blocks[0], image->blocks[1], image->blocks[2], image->blocks[3]},
                          {}};
            started = engine_.start(std::move(job));
            if (!started)
                bus_.port.AutoQuery.start();
        }
    }
    reload(name);
    return started || thermel;
}

bool Configuration::removeDevice() {
    if (current < 0 || current >= devices.files.size())
        return false;
    const QString file = kDir + devices.files[current];
    if (!QFile::remove(rt_.root.path(file))) {
        rt_.log.admem(QLatin1String("Error deleting file: ") + file);
        return false;
    }
    rt_.log.admem(QLatin1String("Device removed: ") + devices.names.value(current) +
                  QLatin1String(" (") + file + QLatin1Char(')'));
    reload();
    return true;
}

void Configuration::setBtModule() {
    bus_.port.AutoQuery.pause(120000);
    events_.commands.run_command({wasadrh, wasadrl}, QByteArray("\xF9\xFF\xFF\xFF\xFF", 5));
}

void Configuration::reset() {
    bus_.port.AutoQuery.stop();
    bus_.port.AutoQuery.set(QueryTimer::Branch::Normal, 10000);
    events_.commands.run_command({wasadrh, wasadrl}, QByteArrayLiteral("eRESET"));
    if (!rt_.flags.offline)
        bus_.port.AutoQuery.start();
}

bool Configuration::createThermelConfig() {
    const QString target = kDir + QStringLiteral("1-1.dev");
    const QString source = kDir + QStringLiteral("1-1.de");
    if (rt_.root.exists(target) || !rt_.root.exists(source))
        return false;
    QString error;
    if (!copyFile(rt_.root.path(source), rt_.root.path(target), true, &error)) {
        rt_.log.admem(QLatin1String("Error copying file: ") + source + QLatin1String(" -> ") +
                      error);
        return false;
    }
    rt_.actions.run(QStringLiteral("ApplicationReboot"));
    return true;
}

namespace {

// The captions that have name files, and where they live in the record.
QString* captionOf(DeviceSettings& s, const QString& c) {
    const auto number = [&](const char* prefix, int count) -> int {
        const QLatin1String p(prefix);
        if (!c.startsWith(p))
            return -1;
        const auto n = parseInt32(c.mid(p.size()));
        return n && *n >= 1 && *n <= count && QString::number(*n) == c.mid(p.size()) ? *n - 1 : -1;
    };
    if (int k = number("ADC", 8); k >= 0)
        return &s.ADC[static_cast<std::size_t>(k)];
    if (int k = number("DigitalIn", 8); k >= 0)
        return &s.DigitalIn[static_cast<std::size_t>(k)];
    if (int k = number("IntInp", 8); k >= 0)
        return &s.IntInp[static_cast<std::size_t>(k)];
    if (int k = number("LightContr", 4); k >= 0)
        return &s.LightContr[static_cast<std::size_t>(k)];
    if (int k = number("TempContr", 4); k >= 0)
        return &s.TempContr[static_cast<std::size_t>(k)];
    if (int k = number("O", 24); k >= 0)
        return &s.O[static_cast<std::size_t>(k)];
    return nullptr;
}

QStringList captionComponents() {
    QStringList c;
    for (int k = 1; k <= 8; ++k)
        c << QStringLiteral("ADC%1").arg(k);
    for (int k = 1; k <= 8; ++k)
        c << QStringLiteral("DigitalIn%1").arg(k);
    for (int k = 1; k <= 8; ++k)
        c << QStringLiteral("IntInp%1").arg(k);
    for (int k = 1; k <= 4; ++k)
        c << QStringLiteral("LightContr%1").arg(k);
    for (int k = 1; k <= 4; ++k)
        c << QStringLiteral("TempContr%1").arg(k);
    for (int k = 1; k <= 24; ++k)
        c << QStringLiteral("O%1").arg(k);
    return c;
}

}  // namespace

QString Configuration::caption(const QString& component) const {
    QString* c = captionOf(const_cast<DeviceSettings&>(settings), component);
    return c ? *c : QString();
}

bool Configuration::rename(const QString& component, const QString& name) {
    QString* c = captionOf(settings, component);
    if (!c)
        return false;
    *c = test_naming_rule(rt_.root, rt_.log, name, *c);
    eventsChanged = true;
    emit changed();
    return true;
}

void Configuration::savealiases() {
    if (eventsChanged) {
        updateEvents();
        eventsChanged = false;
    }
    const QString dir = kDir + editedStem();
    rt_.root.makeDir(QStringLiteral("devices aliases"));
    rt_.root.makeDir(dir);
    for (const QString& component : captionComponents()) {
        const QString file = dir + QLatin1Char('\\') + component + QLatin1String(".txt");
        QString error;
        if (!updateLinesAtomic(rt_.root.path(file), {caption(component)}, &error))
            rt_.log.admem(QLatin1String("Error writing file: ") + file + QLatin1String(" -> ") +
                          error);
    }
}

bool Configuration::updateEvents() {
    if (current < 0)
        return false;
    const bool rebuilt = recreateevents(rt_, eventSource(), true);
    if (rebuilt)
        events_.names.reload(settings.DName);
    pickers = readevents(rt_, QStringLiteral("Quartel"), QString::number(wasadrh),
                         QString::number(wasadrl));
    emit changed();
    return rebuilt;
}

}  // namespace velmar
