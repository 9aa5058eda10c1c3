#pragma once

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

#include "base/data_root.h"

namespace velmar {

class EventLog;

// The files written on the first run: (relative name, lines). `root` is the data root with
// its trailing "/", substituted where the files name it.
std::vector<std::pair<QString, QStringList>> firstRunFiles(const QString& root);

// Writes the first-run files and then "preinstalled.txt", unless "preinstalled.txt" exists.
// Each file's directory is created (one level) first. Failures are logged and the rest is
// still written; "preinstalled.txt" is written only when every file was.
void runFirstRunInstallation(const DataRoot& root, EventLog& log);

// "/adl": "audios.nam" from the third lines of "aliases\Quartel\*.txt" and "inext<k>.nam"
// from each "devices aliases\Sensel <k>.nam".
void writeAudioNameLists(const DataRoot& root, EventLog& log);

}  // namespace velmar
