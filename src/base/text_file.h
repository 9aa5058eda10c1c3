#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace velmar {

// Text files are Windows-1250 with CR LF line ends. Readers accept CR LF, LF and a missing
// final line break; a final line break does not make an extra empty line.
QStringList splitLines(const QByteArray& bytes);
std::optional<QStringList> readLines(const QString& path);
// Each line followed by CR LF.
QByteArray joinLines(const QStringList& lines);

// Raw file helpers. Every function reports failure through its result and, when `error` is not
// null, a message naming the cause.
std::optional<QByteArray> readFile(const QString& path, QString* error = nullptr);

// What lstat() or fstat() told of a directory entry.
struct FileFacts {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    std::uint32_t mode = 0;  // st_mode: the type and the permissions
    std::int64_t size = 0;
    std::int64_t mtimeNs = 0;  // modification time, nanoseconds since the epoch

    // The same entry (device, inode and type).
    bool sameEntry(const FileFacts& o) const {
        return dev == o.dev && ino == o.ino && (mode & 0170000) == (o.mode & 0170000);
    }
    // The same entry, neither resized nor modified.
    bool unchanged(const FileFacts& o) const {
        return sameEntry(o) && size == o.size && mtimeNs == o.mtimeNs;
    }
};

// What an entry of type `mode` is, for log lines: "regular file", "symbolic link", "FIFO",
// "folder", "socket", "character device", "block device".
QString fileKindName(std::uint32_t mode);

// A file that other programs may have put anywhere, read without trusting it: a symbolic link,
// FIFO, folder or device is never opened (the type is checked with lstat, the file opened with
// O_NOFOLLOW | O_NONBLOCK and checked again through its descriptor, so that neither a link nor
// a FIFO swapped in meanwhile is followed or waited on), and a file larger than `maxBytes` is
// not read at all (nor a file that grows past it while being read).
struct BoundedRead {
    enum class Result { Read, Missing, NotRegular, TooLarge, Failed };
    Result result = Result::Failed;
    FileFacts facts;   // of the entry as last seen (the descriptor's once it was opened)
    QByteArray bytes;  // Read: the whole file
    QString error;     // Failed: the cause (the system's message)
};
BoundedRead readRegularFile(const QString& path, std::int64_t maxBytes);

// Replaces `path` atomically: the bytes go to a temporary file in the same directory (a hidden
// name that matches no reader's pattern) that is then renamed over the target.
bool writeFileAtomic(const QString& path, const QByteArray& bytes, QString* error = nullptr);
// Puts the complete file `tmp` in place of `target` in one step (the target may be missing);
// the temporary file is gone afterwards. `shownName` names the target in the error.
bool replaceWith(const QByteArray& tmp, const QByteArray& target, QString* error,
                 const QString& shownName);
bool writeLinesAtomic(const QString& path, const QStringList& lines, QString* error = nullptr);
// The same, but a file that already holds exactly these lines is left as it is (neither
// rewritten nor touched).
bool updateLinesAtomic(const QString& path, const QStringList& lines, QString* error = nullptr);

// Appends bytes at the end of `path`, creating it when missing.
bool appendFile(const QString& path, const QByteArray& bytes, QString* error = nullptr);

// Copies `source` to `target` atomically (the target is never seen half written). With
// `failIfExists` an existing target stays untouched and the result is false.
bool copyFile(const QString& source, const QString& target, bool failIfExists,
              QString* error = nullptr);

// Writes a new file in `dir` named stem + zero or more "_" + suffix, taking the first name that
// is free. The content is complete before the name appears, and two writers can never take the
// same name. Returns the full path taken, or nothing after `maxTries` names or on an I/O error.
std::optional<QString> createUnique(const QString& dir, const QString& stem, const QString& suffix,
                                    const QByteArray& bytes, QString* error = nullptr,
                                    int maxTries = 1000);

// Moves the file `from` to `dir` under stem + zero or more "_" + suffix, taking the first name
// that is free, in one step: the file never exists under both names or under neither.
std::optional<QString> renameUnique(const QString& from, const QString& dir, const QString& stem,
                                    const QString& suffix, QString* error = nullptr,
                                    int maxTries = 1000);

// Writes all `size` bytes to a blocking descriptor, again after an interruption; false with
// errno set when the descriptor takes no more.
bool writeAll(int fd, const char* data, qsizetype size);

// Prefix of the temporary files made by the writers above; listings skip them.
inline constexpr const char* kTempPrefix = ".~velmar-";

}  // namespace velmar
