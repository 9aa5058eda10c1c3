#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <mutex>

#include "base/clock.h"
#include "base/data_root.h"

namespace velmar {

// The event log: every part of the program reports through admem(). A line is stamped
// "yyyy-MM-dd HH:mm:ss :    text", appended to "logs\all.logs" and to each class file whose
// keyword the upper-cased line contains, each append followed by an atomic refresh of the
// ".log" copy that other programs read, and handed to the Results sink. Safe to call from any
// thread: lines never interleave and reach the sink in the order they were written.
class EventLog {
  public:
    // Receives text exactly as it is to be appended to the Results pane: each log line followed
    // by "\n", the help text as it stands.
    using Sink = std::function<void(const QString& text)>;

    EventLog(const DataRoot& root, const Clock& clock);

    void admem(const QString& text);

    // The Results pane. Called with the log's lock held, so calls arrive in log order; a sink
    // that crosses threads must queue, never block on the caller's thread.
    void setSink(Sink sink);
    // Hands text to the sink without writing it to any file (the help text).
    void toSink(const QString& text);

    // `setChkLog`: the next admem() checks every ".logs" file against the size limit first,
    // also those the line does not go to. A file a line goes to is always checked.
    void armCheck();
    bool checkArmed() const;
    void setLogSize(std::int32_t bytes);
    std::int32_t logSize() const;

    // The line as it is written: time stamp, separator, text with CR, LF and NUL escaped so
    // that received bytes never break a line.
    static QString formatLine(const QDateTime& when, const QString& text);
    // Backup name of a rotated file: the time stamp with every ":" replaced by "_", "-", name.
    static QString backupName(const QDateTime& when, const QString& fileName);

  private:
    void writeLocked(const QString& text, QStringList& notes);
    void rotateFile(const QString& name, const QDateTime& now, QStringList& notes);
    // Appends to a ".logs" file and refreshes its ".log" copy; returns the failure, if any.
    QString appendAndCopy(const QString& logsName, const QByteArray& bytes);
    void rotateLocked(QStringList& notes);

    const DataRoot& root_;
    const Clock& clock_;
    mutable std::mutex mutex_;
    Sink sink_;
    bool armed_ = false;
    std::int32_t logSize_ = 100000;
    bool writeFailed_ = false;
};

}  // namespace velmar
