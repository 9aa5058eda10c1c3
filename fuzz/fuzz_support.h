#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

namespace velmar::fuzz {

// The Qt application the code under test needs, made once per process.
inline void application(const char* name) {
    static int argc = 1;
    static char* argv[] = {const_cast<char*>(name), nullptr};
    static QCoreApplication app(argc, argv);
}

// A fresh data root for one input, on tmpfs when the machine has one: each input starts from
// the same files, so that a crash reproduces from its input alone, and what the code under
// test writes (logs, status files, requests) is written for real.
inline QString tempBase() {
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    if (shm.isDir() && shm.isWritable())
        return shm.absoluteFilePath();
    return QDir::tempPath();
}

class TempRoot {
  public:
    TempRoot() : dir_(tempBase() + QStringLiteral("/velmar-fuzz-XXXXXX")) {}
    QString root() const { return dir_.path() + QLatin1Char('/'); }
    bool valid() const { return dir_.isValid(); }

  private:
    QTemporaryDir dir_;
};

}  // namespace velmar::fuzz
