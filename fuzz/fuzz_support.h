#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QString>

namespace velmar::fuzz {

// The Qt application the code under test needs, made once per process.
inline void application(const char* name) {
    static int argc = 1;
    static char* argv[] = {const_cast<char*>(name), nullptr};
    static QCoreApplication app(argc, argv);
}

// The log goes nowhere: a file stands where the data root's "logs" folder would be, so every
// line fails fast instead of filling the disk.
inline void silenceLog(const QString& root) {
    QFile logs(root + "/logs");
    logs.open(QIODevice::WriteOnly);
}

}  // namespace velmar::fuzz
