#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QString>

namespace velmar::fuzz {

// The Qt application the code under test needs, made once per process.
inline void application(const char* name) {
    static int argc = 1;
    static char* argv[] = {const_cast<char*>(name), nullptr};
    static QCoreApplication app(argc, argv);
}

// A fresh data root for one input, on tmpfs when the machine has one: each input starts from
// the same files, so that a crash reproduces from its input alone, and what the code under
// test writes (logs, status files, requests) is written for real. The folder's path is the same
// for every input of a process (it is emptied in between): caches keyed by path are then
// replaced rather than grown, which keeps libFuzzer's per-input leak check quiet and cheap.
inline QString tempBase() {
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    if (shm.isDir() && shm.isWritable())
        return shm.absoluteFilePath();
    return QDir::tempPath();
}

class TempRoot {
  public:
    TempRoot()
        : path_(tempBase() + QStringLiteral("/velmar-fuzz-") +
                QString::number(QCoreApplication::applicationPid()) + QLatin1Char('/')) {
        QDir(path_).removeRecursively();
        QDir().mkpath(path_);
    }
    ~TempRoot() { QDir(path_).removeRecursively(); }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;
    const QString& root() const { return path_; }

  private:
    QString path_;
};

}  // namespace velmar::fuzz
