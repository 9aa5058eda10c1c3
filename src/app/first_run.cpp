#include "app/first_run.h"

#include <QFileInfo>

#include "base/dir_listing.h"
#include "base/text_file.h"
#include "log/event_log.h"

namespace velmar {

std::vector<std::pair<QString, QStringList>> firstRunFiles(const QString& root) {
    return {
        {QStringLiteral("ir\\winamp.usr"),
         {"Play/Pause{$2#399}",
          "Stop{$1#5CC2}",
          "File{$2#3E8}",
          "Next Track{$2#3D6}",
          "Previous Track{$2#3D7}",
          "Next Program{$2#390}",
          "Previous Program{$2#391}",
          "Forward{$2#39C}",
          "Backward{$2#39B}",
          "Menu Left{$2#3E2}",
          "Menu Right{$2#3E1}",
          "Menu Top{$2#3C2}",
          "Menu Bottom{$2#3C3}",
          "Display{$2#3C1}",
          "Timer{$2#3E0}",
          "Menu{$2#3CD}",
          "Volume +{$2#92}",
          "Volume -{$2#93}",
          "Eject{$2#396}",
          "Shuffle{$2#3D8}",
          "Repeat{$1#523D}",
          ""}},
        {QStringLiteral("killexec\\velmar.runs"),
         {"Velmar Manager", "velmar.exe", "/ne /nd /nr /nt", "100000", "120",
          root + QStringLiteral("external.stp"), ""}},
        {QStringLiteral("exec\\email.runs"),
         {"Email Gateway for Velmar", "PostRelay.exe", "", "120", "120", ""}},
        {QStringLiteral("exec\\sms.runs"),
         {"Sms Gateway for Velmar", "TextRelay.exe", "", "90", "30", ""}},
        {QStringLiteral("exec\\wdt.runs"),
         {"System Monitor for Velmar", "Watchman.exe", "", "200000", "40",
          root + QStringLiteral("wdt.blk"), ""}},
        {QStringLiteral("killexec\\ftp.runs_"),
         {"Ftp Gateway for Velmar", "FileRelay.exe",
          "/U:user /P:kiwi /W:server /D:directory  /Interval:30 /RecreateDirs /Incremental "
          "/CP:UTF8 /CPF:UTF8",
          "1000", "120", root + QStringLiteral("FileRelay.stp"), ""}},
        {QStringLiteral("killexec\\bluetooth.runs_"),
         {"BlueTooth Gateway for Velmar", "RadioRelay.exe", "", "10000000", "100", ""}},
        {QStringLiteral("killexec\\Soundbox.runs"),
         {"Soundbox for Velmar", "Soundbox.exe", "", "10000000", "110", ""}},
    };
}

void runFirstRunInstallation(const DataRoot& root, EventLog& log) {
    if (root.exists(QStringLiteral("preinstalled.txt")))
        return;
    bool all = true;
    for (const auto& [name, lines] : firstRunFiles(root.root())) {
        const int sep = name.lastIndexOf(QLatin1Char('\\'));
        if (sep > 0)
            root.makeDir(name.left(sep));
        QString error;
        if (!writeLinesAtomic(root.path(name), lines, &error)) {
            log.admem(QLatin1String("Error writing file: ") + name + QLatin1String(" -> ") + error);
            all = false;
        }
    }
    if (!all)
        return;  // the next start tries again
    QString error;
    if (!writeLinesAtomic(root.path(QStringLiteral("preinstalled.txt")), {QStringLiteral("1")},
                          &error)) {
        log.admem(QLatin1String("Error writing file: preinstalled.txt -> ") + error);
    }
}

void writeAudioNameLists(const DataRoot& root, EventLog& log) {
    QStringList names{QStringLiteral("[NAMES]")};
    const QString quartel = root.path(QStringLiteral("aliases\\Quartel"));
    int n = 0;
    for (const QString& file : listDir(quartel, QStringLiteral("*.txt"), EntryKind::Files)) {
        const auto lines = readLines(quartel + QLatin1Char('/') + file);
        const QString third = lines ? lines->value(2) : QString();
        if (third.isEmpty())
            continue;
        if (root.exists(QLatin1String("Audios\\") + third + QLatin1String(".wma")) ||
            root.exists(QLatin1String("Audios\\") + third + QLatin1String(".mp3")))
            continue;
        ++n;
        names.append(QLatin1String("Track ") + QString::number(n) + QLatin1Char('=') + third);
    }
    QString error;
    if (!writeLinesAtomic(root.path(QStringLiteral("audios.nam")), names, &error))
        log.admem(QLatin1String("Error writing file: audios.nam -> ") + error);

    for (int k = 1; k <= 5; ++k) {
        const QString source =
            QLatin1String("devices aliases\\Sensel ") + QString::number(k) + QLatin1String(".nam");
        if (!root.exists(source))
            continue;
        const auto lines = readLines(root.path(source));
        QStringList out{QStringLiteral("[NAMES]")};
        int m = 0;
        for (const QString& line : lines.value_or(QStringList())) {
            ++m;
            out.append(QLatin1String("Track ") + QString::number(m) + QLatin1Char('=') + line);
        }
        const QString target = QLatin1String("inext") + QString::number(k) + QLatin1String(".nam");
        if (!writeLinesAtomic(root.path(target), out, &error))
            log.admem(QLatin1String("Error writing file: ") + target + QLatin1String(" -> ") +
                      error);
    }
}

}  // namespace velmar
