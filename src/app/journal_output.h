#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace velmar {

// Headless output when standard output is the systemd journal: the journal stamps every record
// itself, so the log's own "yyyy-MM-dd HH:mm:ss :    " prefix is dropped there.

// True when `journalStream` (the value of JOURNAL_STREAM, "device:inode" in decimal) names the
// file with that device and inode number.
bool journalStreamMatches(const QByteArray& journalStream, std::uint64_t device,
                          std::uint64_t inode);

// True when standard output is the stream systemd connected to the journal.
bool stdoutIsJournal();

// `text` with the log's time stamp and separator removed from the start of every line that
// has one; other lines (the help text) are left as they are.
QString withoutLogStamps(const QString& text);

}  // namespace velmar
