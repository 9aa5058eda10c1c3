#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/clock.h"
#include "base/data_root.h"
#include "devices/device_state.h"
#include "devices/name_forms.h"
#include "log/event_log.h"

namespace velmar {

// A device message alias: how a message a device sends is shown and announced.
struct als {
    QString longcommand;      // up to 255 characters
    QString command;          // the message as the device sends it, up to 255 characters
    std::uint32_t color = 0;  // 0x00BBGGRR
    QString shortcommand;     // up to 50 characters; also the sound file name
    QString devtype;          // "Quartel", "Alarm", "all": the folder the alias came from
};

// Colour of a colour name ("Red", "navy", ...; case ignored), 0 (black) for unknown names.
std::uint32_t aliasColor(const QString& name);

// The device tables: which devices exist, where they are polled, what their inputs, outputs and
// messages are called. Filled at start-up from the files under the data root; every operation
// rebuilds its tables from scratch, so running one again never registers anything twice.
// Lookups go by address, never by a shared index: the poll table counts registered room
// controllers only, `devstate` every device file.
class DeviceRegistry {
  public:
    // Poll table: room controllers and the external controller, plus the end marker (0-0).
    static constexpr int kPollTableSize = 21;
    static constexpr int kMaxPolled = kPollTableSize - 1;
    // Alarm table; the end marker follows the last entry while there is room for it.
    static constexpr int kAlarmTableSize = 3;
    // Device configuration files read into `devstate`.
    static constexpr int kMaxDeviceFiles = 21;
    // Ethernet device list files.
    static constexpr int kMaxEthernetDevices = 21;
    static constexpr int kAliasTableSize = 1001;
    static constexpr int kAliasTextWidth = 255;
    static constexpr int kAliasShortWidth = 50;
    // Input expanders 1..5 with inputs 1..40; the name files hold inputs 1..39.
    static constexpr int kSenselModules = 5;
    static constexpr int kSenselInputs = 40;
    static constexpr int kSenselFileLines = 39;
    static constexpr int kZoneNamesSize = 51;
    static constexpr int kZoneNamesLoaded = 49;

    // Fixed addresses.
    static constexpr std::int32_t kExternAdrh = 2, kExternAdrl = 1;
    static constexpr std::int32_t kLinkelAdrh = 0, kLinkelAdrl = 254;

    DeviceRegistry(const DataRoot& root, EventLog& log, const Clock& clock);

    // The device scan: fills the poll table and the alarm table from "devices aliases\*.dev".
    // The event engine registers the polled controllers' events afterwards.
    void scanDevices();
    // Fills `devstate` from the device configuration files, creating each device's log folders
    // and missing calibration files.
    void loadnames_ql();
    // Fills `eth` and the names and channel scaling of `ethstate` from "devs\*.cfg".
    void readethernetdevs();
    // Rebuilds the alias table from "aliases\<type>\<message>.txt".
    void read_aliases();
    // Adds an alias unless the pair (devtype, command) is known; false when not added.
    bool insertalias(const QString& devtype, const QString& command, const QString& colorName,
                     const QString& longText, const QString& shortText);
    // Input names, alarm masks and movement targets of input expander m (1..5).
    void load_sensel(int m);
    void load_zonenames();

    // Poll-table index of a registered device, 0..quartel_max - 1, or -1.
    int pollIndexOf(std::int32_t adrh, std::int32_t adrl) const;
    // Alarm-table index, 0..alarm_max - 1, or -1.
    int alarmIndexOf(std::int32_t adrh, std::int32_t adrl) const;
    // `eth` index, 0..ethernetdevscount - 1, or -1.
    int ethIndexOf(std::int32_t adrh, std::int32_t adrl) const;
    // The alias for a message of a device type; both compared without regard to case.
    const als* findAlias(const QString& devtype, const QString& command) const;
    // The state record of a loaded device file, or nullptr.
    an* stateOf(std::int32_t adrh, std::int32_t adrl);
    const an* stateOf(std::int32_t adrh, std::int32_t adrl) const;

    // Poll table; rms[quartel_max] is the end marker.
    std::array<deviceadr, kPollTableSize> rms;
    int quartel_max = 0;
    // Poll-table index of the external controller (2-1); -1 when there is none (a sorted scan
    // puts "2-1" first, so 0 is a real index).
    int extern_device_index = -1;
    // Names of the devices the last scan registered (polled and alarm), in scan order.
    QStringList scannedNames;

    // Alarm table; when alarm_max < 3, alrm[alarm_max] is the end marker.
    std::array<deviceadr, kAlarmTableSize> alrm;
    int alarm_max = 0;

    std::array<deviceadr, kMaxEthernetDevices> eth;
    int ethernetdevscount = 0;
    // `eth` index of the Linkel (0-254); -1 when there is none.
    int linkelIndex = -1;

    // One record per device file, at the position of the file in the listing.
    std::array<an, kMaxDeviceFiles> devstate;
    // Number of positions of `devstate` taken by `loadnames_ql`.
    int devstateCount = 0;
    // One record per `eth` entry (kept on the heap: the name tables are large).
    std::vector<ethan> ethstate;

    std::vector<als> aliasesus;
    int alias_max = 0;
    int alias_current = 0;

    // Input expander tables, [module 1..5][input 1..40]; index 0 is unused in both dimensions.
    template <typename T>
    using SenselTable = std::array<std::array<T, kSenselInputs + 1>, kSenselModules + 1>;
    SenselTable<QString> alnames;
    SenselTable<bool> disablealarms{};
    SenselTable<std::int32_t> movementadr{};
    SenselTable<std::int32_t> movementadr2{};
    SenselTable<std::int32_t> movmentopts{};
    SenselTable<std::int32_t> movmentopts2{};
    // Security zone names 0..50 (0..48 loaded).
    std::array<QString, kZoneNamesSize> zonenames;

  private:
    // Reads a text file by its system name; logs and returns nothing when it cannot be read.
    std::optional<QStringList> readText(const QString& name);
    // Creates a directory level by its system name; logs a failure.
    bool makeDirLogged(const QString& name);
    // Creates "logs\<name>" and its subfolders.
    void makeLogFolders(const QString& name, const QStringList& subfolders);
    // Reads (or creates) the calibration file of the device with this file stem.
    void loadCalibration(const QString& stem, an& state);
    void loadDeviceFile(const QString& fileName, an& state);
    void loadEthernetNames(const QString& folder, int n);
    void loadAdcScaling(const QString& folder, ethan& state);

    const DataRoot& root_;
    EventLog& log_;
    const Clock& clock_;
};

}  // namespace velmar
