#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

#include "config/configuration_image.h"
#include "config/device_files.h"
#include "config/device_settings.h"
#include "config/upload_engine.h"
#include "events/event_definitions.h"
#include "log/runtime.h"

namespace velmar {

class BusModule;
class DevicesModule;
class EventsModule;

// What later parts of the configuration form add to loading and saving a device: profiles,
// IR lists, radio remotes and access rights, the Sensel page, the mobile export, the helper
// supervision's timer, the heating controller. Each has a do-nothing default.
class ConfigurationParts {
  public:
    virtual ~ConfigurationParts() = default;
    virtual void selectProgram0() {}
    virtual void readProfiles(const DeviceSettings&) {}
    virtual void saveProfiles(const DeviceSettings&) {}
    virtual void loadIrLists(const DeviceSettings&) {}
    virtual void saveIrCodes(const DeviceSettings&) {}
    virtual void loadIrTimings() {}
    virtual void loadRadioAndAccess(const DeviceSettings&) {}
    // The Outrel's external programs ("extern.evs"): the first events of its set.
    virtual QStringList externalPrograms(const DeviceSettings&) { return {}; }
    virtual void prepareSenselPage() {}
    virtual void writeMobileConfiguration(const DeviceSettings&) {}
    virtual void restartHelperTimer(int /*ms*/) {}
    // The heating controller (address high 1): "heater.dev" and its upload; false while not
    // built.
    virtual bool saveHeating(const DeviceSettings&) { return false; }
};

// The model of the "Quartel Configuration" window: the configured devices, the one loaded with
// all its fields, its event pickers, and the actions of the window. Whatever the window can do,
// a maintenance request or a test does through this model.
class Configuration : public QObject {
    Q_OBJECT
  public:
    Configuration(Runtime& rt, BusModule& bus, DevicesModule& devices, EventsModule& events,
                  UploadEngine& engine);

    // Created once at start-up: the value lists, "btconfig.cfg", the device list and its first
    // device.
    void create();
    // `doinitialstuff`: "fosc.cfg" and the IR timing factors; on the first call the Bluetooth
    // names and the IR timing table.
    void doinitialstuff();

    // `reload(name)`: the device list again, selecting `name` (the first device when empty).
    void reload(const QString& name = QString());
    // Picking a device by name (`DNameChange`): its folder of event requests, then the whole
    // load from the fields' defaults. False when no configured device has that name.
    bool pick(const QString& name);
    // `read_dev_settings`: loads the device at the selected position of the list.
    bool load();

    // "Save Settings and Update": every file, then the upload of the configuration image.
    // False (logged) when the settings are refused or a file cannot be written.
    bool saveSettingsAndUpdate();
    // "Remove Device": deletes the loaded device's file (not the one the address fields name)
    // and reloads the list.
    bool removeDevice();
    // "Set BT Module" and "Reset": commands to the loaded device.
    void setBtModule();
    void reset();
    // "Create Thermel Config": "devices aliases\1-1.dev" from its template, then the program
    // ends. False when the file exists or the template is missing.
    bool createThermelConfig();
    // `GetDevName` and the name-change dialog: a caption of the form ("O3", "ADC1",
    // "DigitalIn2", "IntInp4", "LightContr1", "TempContr2") gets a new name; the events are
    // rebuilt at the next save.
    bool rename(const QString& component, const QString& name);
    // The caption of such a component, empty for an unknown one.
    QString caption(const QString& component) const;
    // `savealiases`: the captions as name files "devices aliases\<stem>\<component>.txt".
    void savealiases();
    // "Update Events": the loaded device's event set rebuilt.
    bool updateEvents();

    // The loaded device (the window edits `settings` and calls the actions).
    DeviceSettings settings;
    int wasadrh = 55;
    int wasadrl = 55;
    DeviceList devices;
    int current = -1;
    ThresholdLists thresholds;
    PickerEvents pickers;
    QString bthost = QStringLiteral("aaa");
    QString btpass = QStringLiteral("1111");
    int FOSC = 40;
    int MUL_IR_TIM = 3;
    int DIV_IR_TIM = 2;
    bool eventsChanged = false;

    ConfigurationParts* parts = &noParts_;
    // Shows the window (a maintenance request runs with it visible); nothing headless.
    std::function<void()> show;
    // What the loaded device's event set is made of, from the fields as they are.
    DeviceEventSource eventSource() const;

  signals:
    void changed();

  private:
    QString stem() const;
    QString editedStem() const;
    void buildThresholdLists();
    bool refuse(const QString& why);

    Runtime& rt_;
    BusModule& bus_;
    DevicesModule& devices_;
    EventsModule& events_;
    UploadEngine& engine_;
    ConfigurationParts noParts_;
    bool initialDone_ = false;
};

}  // namespace velmar
