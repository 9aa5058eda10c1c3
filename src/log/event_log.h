#pragma once

#include <sys/types.h>

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>

#include "base/clock.h"
#include "base/data_root.h"
#include "base/run_counters.h"
#include "base/settings.h"

namespace velmar {

// The event log: every part of the program reports through admem(). A line is stamped
// "yyyy-MM-dd HH:mm:ss :    text", appended to "logs\all.logs" and to each class file whose
// keyword the upper-cased line contains, and handed to the Results sink. Safe to call from any
// thread: lines never interleave and reach the sink in the order they were written.
//
// The ".log" copies that other programs read take the same bytes as their ".logs" files, one
// append each, so the two stay identical byte for byte and a reader only ever sees whole lines
// added. The files stay open between lines. Before each line both names are looked up again:
// a file deleted, replaced or truncated by hand, a ".log" whose size is not its ".logs" file's,
// a rotation or a failed write makes the next line refresh the ".log" copy in full, through a
// temporary file renamed into place. The first line of a run does so too, as does the first
// line after resync().
//
// Repeated failures are summarised. A failure is a text whose upper-cased form contains
// "ERROR", "WARNING", "FAIL" or "EXCEPTION", or begins with "CANT" or "CAN'T"; every other
// line is written every time, and so is every line given to admemEvent() (what a controller
// says, an event confirmed), whatever words it holds: "Kitchen ->    Water leak warning" twice is
// two events. The first
// occurrence of a failure text is written; the same text again within a minute of the last
// line written for it is only counted. The count comes out as "<text> (repeated N times)",
// N being how many times the text came since its last line, when the text comes again after
// the minute (that occurrence included) or when flushRepeats() runs (a single pending
// occurrence is written as the plain text). The note "Error writing log file: " that the
// Results pane gets when a log file cannot be written follows the same rule.
class EventLog {
  public:
    // Receives text exactly as it is to be appended to the Results pane: each log line followed
    // by "\n", the help text as it stands.
    using Sink = std::function<void(const QString& text)>;

    // A failure text repeated within this time of its last line is counted, not written.
    static constexpr std::int64_t kRepeatWindowMs = 60000;

    // `counters` (may be null) counts the lines a log file did not take.
    EventLog(const DataRoot& root, const Clock& clock, RunCounters* counters = nullptr);
    // Writes the pending repeat summaries to the files (not to the sink, whose owner may be
    // gone), stamped with the last time the log read its clock.
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    void admem(const QString& text);
    // A line about something that happened on the bus: never folded into a repeat summary.
    void admemEvent(const QString& text);

    // Writes the summary of every failure text counted but not written since its last line;
    // forgets the texts that did not come for a minute. Called once a minute.
    void flushRepeats();
    // Writes the pending summaries and closes the files; the next line opens them again.
    void close();
    // The next line of each file refreshes its ".log" copy in full.
    void resync();

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

    // After each rotation the oldest files of "backup-logs\" (by name, which begins with the
    // time stamp) are deleted until the folder holds at most `bytes`, each deletion logged with
    // the file's name and size. 0 or less: no limit.
    void setBackupLimit(std::int64_t bytes);
    std::int64_t backupLimit() const;

    void setCounters(RunCounters* counters);

    // The line as it is written: time stamp, separator, text with CR, LF and NUL escaped so
    // that received bytes never break a line.
    static QString formatLine(const QDateTime& when, const QString& text);
    // Backup name of a rotated file: the time stamp with every ":" replaced by "_", "-", name.
    static QString backupName(const QDateTime& when, const QString& fileName);
    // Whether a text is a failure whose repeats are summarised (see above).
    static bool isFailure(const QString& text);

  private:
    // One ".logs" file and its ".log" copy, both kept open for appending.
    struct LogFile {
        const char* name = nullptr;  // "all.logs"
        QByteArray logsPath;         // resolved when opened
        QByteArray copyPath;
        int logsFd = -1;
        int copyFd = -1;
        dev_t logsDev = 0;
        ino_t logsIno = 0;
        dev_t copyDev = 0;
        ino_t copyIno = 0;
        // The ".log" copy holds exactly the ".logs" file's bytes, so a line is simply appended.
        bool inStep = false;
    };
    // A failure text seen within the last minute.
    struct Repeat {
        std::int64_t sinceMs = 0;  // when its last line was written (monotonic)
        std::int64_t pending = 0;  // occurrences since then, not written
    };
    using Repeats = QHash<QString, Repeat>;
    struct Moment {
        QDateTime wall;
        std::int64_t mono = 0;
    };

    Moment nowLocked();
    // The line or note through the repeat rule; `sinkOnly` for notes that go to the pane only.
    void write(const QString& text, bool foldRepeats);
    void logLocked(const QString& text, bool sinkOnly, const Moment& now, QStringList& notes);
    void emitLocked(const QString& text, bool sinkOnly, const Moment& now, QStringList& notes);
    void flushLocked(const Moment& now, QStringList& notes);
    void flushMap(Repeats& map, bool sinkOnly, const Moment& now, QStringList& notes);
    void writeNotes(QStringList& notes, const Moment& now);
    void writeLocked(const QString& text, const Moment& now, QStringList& notes);
    // Appends to a ".logs" file and its ".log" copy; returns the failure, if any.
    QString append(LogFile& f, const QByteArray& bytes, const QDateTime& now, QStringList& notes);
    QString refreshCopy(LogFile& f);
    void closeFile(LogFile& f);
    void rotateLocked(const QDateTime& now, QStringList& notes);
    // `size`: the file's size when the caller has just looked, -1 to look here.
    void rotateFile(LogFile& f, const QDateTime& now, QStringList& notes, std::int64_t size = -1);
    void trimBackups(QStringList& notes, const QByteArray& justMade);
    LogFile& file(const char* name);

    const DataRoot& root_;
    const Clock& clock_;
    RunCounters* counters_;
    mutable std::mutex mutex_;
    Sink sink_;
    bool armed_ = false;
    std::int32_t logSize_ = 100000;
    std::int64_t backupLimit_ = Settings::kBackupLogsDefault;  // until setBackupLimit()
    std::array<LogFile, 6> files_;
    Repeats repeats_;      // lines for the files and the pane
    Repeats sinkRepeats_;  // notes for the pane only
    Moment last_;          // the clock's last reading
};

}  // namespace velmar
