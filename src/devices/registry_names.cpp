// The name tables of the registry: message aliases, input expander names and masks, security
// zone names.
#include <algorithm>

#include "base/chkint.h"
#include "base/dir_listing.h"
#include "base/names.h"
#include "base/text_file.h"
#include "devices/registry.h"

namespace velmar {

namespace {

const QString kDeviceDir = QStringLiteral("devices aliases");

// Line n (from 1) of a file, empty when the file is shorter.
QString lineAt(const QStringList& lines, int n) {
    return lines.value(n - 1);
}

QString refused(const QString& what, const QString& name) {
    return what + QLatin1String(" \"") + name + QLatin1String("\" fails the naming rule");
}

struct NamedColor {
    const char* name;
    std::uint32_t color;
};

constexpr NamedColor kColors[] = {
    {"Black", 0x000000},  {"Maroon", 0x000080},  {"Green", 0x008000}, {"Olive", 0x008080},
    {"Navy", 0x800000},   {"Purple", 0x800080},  {"Teal", 0x808000},  {"Gray", 0x808080},
    {"Silver", 0xC0C0C0}, {"Red", 0x0000FF},     {"Lime", 0x00FF00},  {"Yellow", 0x00FFFF},
    {"Blue", 0xFF0000},   {"Fuchsia", 0xFF00FF}, {"Aqua", 0xFFFF00},  {"White", 0xFFFFFF},
};

}  // namespace

std::uint32_t aliasColor(const QString& name) {
    for (const NamedColor& c : kColors) {
        if (name.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0)
            return c.color;
    }
    return 0;
}

// ---- aliases ----

void DeviceRegistry::read_aliases() {
    aliasesus.assign(kAliasTableSize, als{});
    alias_max = 0;
    alias_current = 0;
    const QStringList dirs =
        listDir(root_.path(QStringLiteral("aliases")), QStringLiteral("*"), EntryKind::Dirs);
    for (const QString& dir : dirs) {
        const QString dirName = QLatin1String("aliases\\") + dir;
        if (!isValidName(dir)) {
            log_.admem(QLatin1String("Error alias folder: ") + dirName + QLatin1String(" -> ") +
                       refused(QStringLiteral("folder"), dir));
            continue;
        }
        const QStringList files =
            listDir(root_.path(dirName), QStringLiteral("*.txt"), EntryKind::Files);
        for (const QString& file : files) {
            const QString fileName = dirName + QLatin1Char('\\') + file;
            if (alias_max >= kAliasTableSize) {
                log_.admem(QLatin1String("Alias table full: ") + fileName +
                           QLatin1String(" -> not loaded"));
                continue;
            }
            const auto lines = readText(fileName);
            if (!lines)
                continue;
            insertalias(dir, file.chopped(4), lineAt(*lines, 2), lineAt(*lines, 1),
                        lineAt(*lines, 3));
        }
    }
}

bool DeviceRegistry::insertalias(const QString& devtype, const QString& command,
                                 const QString& colorName, const QString& longText,
                                 const QString& shortText) {
    const QString type = devtype.left(kAliasShortWidth);
    const QString key = command.left(kAliasTextWidth);
    if (findAlias(type, key))
        return false;
    if (alias_max >= kAliasTableSize) {
        log_.admem(QLatin1String("Alias table full: ") + type + QLatin1Char('\\') + key +
                   QLatin1String(" -> not loaded"));
        return false;
    }
    als& a = aliasesus[static_cast<std::size_t>(alias_max)];
    a.longcommand = longText.left(kAliasTextWidth);
    a.command = key;
    a.color = aliasColor(colorName);
    a.shortcommand = shortText.left(kAliasShortWidth);
    a.devtype = type;
    ++alias_max;
    ++alias_current;
    return true;
}

// ---- input expanders and zones ----

void DeviceRegistry::load_sensel(int m) {
    if (m < 1 || m > kSenselModules) {
        log_.admem(QLatin1String("Error input expander: module ") + QString::number(m) +
                   QLatin1String(" -> not in 1..") + QString::number(kSenselModules));
        return;
    }
    const auto um = static_cast<std::size_t>(m);
    alnames[um].fill(QString());
    disablealarms[um].fill(false);
    movementadr[um].fill(0);
    movmentopts[um].fill(0);
    movementadr2[um].fill(0);
    movmentopts2[um].fill(0);

    const QString stem = kDeviceDir + QLatin1String("\\Sensel ") + QString::number(m);
    const QString namFile = stem + QLatin1String(".nam");
    if (root_.exists(namFile)) {
        if (const auto lines = readText(namFile)) {
            const int n = std::min<int>(static_cast<int>(lines->size()), kSenselFileLines);
            for (int k = 1; k <= n; ++k) {
                const QString& text = lines->at(k - 1);
                const auto uk = static_cast<std::size_t>(k);
                alnames[um][uk] = text.isEmpty() ? QString::number(k) : text;
                // "@" marks an input that raises no alarm; the name keeps it.
                disablealarms[um][uk] = text.startsWith(QLatin1Char('@'));
            }
        }
    }

    // Movement targets: "address-option address2-option2", the address low of a room controller
    // (0 = none) and an option 0..2.
    const QString movFile = stem + QLatin1String(".mov");
    if (!root_.exists(movFile))
        return;
    const auto lines = readText(movFile);
    if (!lines)
        return;
    const int n = std::min<int>(static_cast<int>(lines->size()), kSenselFileLines);
    for (int k = 1; k <= n; ++k) {
        const QString& text = lines->at(k - 1);
        const auto uk = static_cast<std::size_t>(k);
        const qsizetype dash = text.indexOf(QLatin1Char('-'));
        if (dash >= 0) {
            movementadr[um][uk] = chkint(text.left(dash), 0, 255, 0);
            movmentopts[um][uk] = chkint(text.mid(dash + 1, 1), 0, 2, 0);
        }
        const qsizetype blank = text.indexOf(QLatin1Char(' '));
        if (blank < 0)
            continue;
        const QString rest = text.mid(blank + 1);
        const qsizetype dash2 = rest.indexOf(QLatin1Char('-'));
        if (dash2 >= 0) {
            movementadr2[um][uk] = chkint(rest.left(dash2), 0, 255, 0);
            movmentopts2[um][uk] = chkint(rest.mid(dash2 + 1, 1), 0, 2, 0);
        }
    }
}

void DeviceRegistry::load_zonenames() {
    zonenames.fill(QString());
    const QString name = kDeviceDir + QLatin1String("\\zones.sms");
    if (!root_.exists(name))
        return;
    const auto lines = readText(name);
    if (!lines)
        return;
    const int n = std::min<int>(static_cast<int>(lines->size()), kZoneNamesLoaded);
    for (int i = 0; i < n; ++i)
        zonenames[static_cast<std::size_t>(i)] = lines->at(i);
}

}  // namespace velmar
