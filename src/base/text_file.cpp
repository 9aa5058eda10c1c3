#include "base/text_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "base/cp1250.h"

namespace velmar {

namespace {

void setError(QString* error, const QString& text) {
    if (error)
        *error = text;
}

QString errnoText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

QString tempPathFor(const QString& target) {
    static std::atomic<unsigned> counter{0};
    const int slash = target.lastIndexOf(QLatin1Char('/'));
    const QString dir = slash >= 0 ? target.left(slash + 1) : QString();
    return dir + QLatin1String(kTempPrefix) + QString::number(::getpid()) + QLatin1Char('-') +
           QString::number(counter.fetch_add(1)) + QLatin1String(".tmp");
}

// Writes `bytes` into a new temporary file next to `target`; returns its path.
std::optional<QString> writeTemp(const QString& target, const QByteArray& bytes, QString* error) {
    const QString tmp = tempPathFor(target);
    const QByteArray native = QFile::encodeName(tmp);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        setError(error, target + QLatin1String(": ") + errnoText());
        return std::nullopt;
    }
    const bool ok = writeAll(fd, bytes.constData(), bytes.size());
    const QString why = ok ? QString() : errnoText();
    if (::close(fd) != 0 || !ok) {
        setError(error, target + QLatin1String(": ") + (why.isEmpty() ? errnoText() : why));
        ::unlink(native.constData());
        return std::nullopt;
    }
    return tmp;
}

}  // namespace

QStringList splitLines(const QByteArray& bytes) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = bytes.size();
    while (start < n) {
        qsizetype end = bytes.indexOf('\n', start);
        const bool last = end < 0;
        if (last)
            end = n;
        qsizetype stop = end;
        if (stop > start && bytes[stop - 1] == '\r')
            --stop;
        lines.append(fromCp1250(QByteArrayView(bytes.constData() + start, stop - start)));
        start = end + 1;
    }
    return lines;
}

std::optional<QByteArray> readFile(const QString& path, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        setError(error, path + QLatin1String(": ") + f.errorString());
        return std::nullopt;
    }
    QByteArray data = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        setError(error, path + QLatin1String(": ") + f.errorString());
        return std::nullopt;
    }
    return data;
}

QString fileKindName(std::uint32_t mode) {
    switch (mode & S_IFMT) {
        case S_IFREG:
            return QStringLiteral("regular file");
        case S_IFLNK:
            return QStringLiteral("symbolic link");
        case S_IFIFO:
            return QStringLiteral("FIFO");
        case S_IFDIR:
            return QStringLiteral("folder");
        case S_IFSOCK:
            return QStringLiteral("socket");
        case S_IFCHR:
            return QStringLiteral("character device");
        case S_IFBLK:
            return QStringLiteral("block device");
        default:
            return QStringLiteral("special file");
    }
}

namespace {

FileFacts factsOf(const struct stat& st) {
    FileFacts f;
    f.dev = static_cast<std::uint64_t>(st.st_dev);
    f.ino = static_cast<std::uint64_t>(st.st_ino);
    f.mode = static_cast<std::uint32_t>(st.st_mode);
    f.size = static_cast<std::int64_t>(st.st_size);
    f.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return f;
}

}  // namespace

BoundedRead readRegularFile(const QString& path, std::int64_t maxBytes) {
    using R = BoundedRead::Result;
    BoundedRead out;
    const QByteArray native = QFile::encodeName(path);
    auto done = [&](R result) {
        out.result = result;
        return out;
    };
    auto failed = [&](const QString& cause) {
        out.result = R::Failed;
        out.error = cause;
        return out;
    };
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0) {
        if (errno == ENOENT)
            return done(R::Missing);
        return failed(errnoText());
    }
    out.facts = factsOf(st);
    if (!S_ISREG(st.st_mode))
        return done(R::NotRegular);
    if (out.facts.size > maxBytes)
        return done(R::TooLarge);

    const int fd =
        ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int openErrno = errno;
        if (openErrno == ENOENT)
            return done(R::Missing);
        // Replaced by a symbolic link since the lstat.
        if (openErrno == ELOOP && ::lstat(native.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
            out.facts = factsOf(st);
            return done(R::NotRegular);
        }
        errno = openErrno;
        return failed(errnoText());
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::fstat(fd, &st) != 0)
        return failed(errnoText());
    out.facts = factsOf(st);
    if (!S_ISREG(st.st_mode))
        return done(R::NotRegular);
    if (out.facts.size > maxBytes)
        return done(R::TooLarge);

    // Reading goes on to one byte more than allowed, which tells a file that grew meanwhile.
    QByteArray data(static_cast<qsizetype>(std::min(out.facts.size, maxBytes) + 1),
                    Qt::Uninitialized);
    qsizetype got = 0;
    for (;;) {
        if (got == data.size()) {
            if (got > maxBytes)
                break;
            data.resize(static_cast<qsizetype>(std::min<std::int64_t>(2 * got, maxBytes + 1)));
        }
        const ssize_t n = ::read(fd, data.data() + got, static_cast<size_t>(data.size() - got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return failed(errnoText());
        }
        if (n == 0)
            break;
        got += n;
    }
    if (got > maxBytes) {
        out.facts.size = std::max<std::int64_t>(out.facts.size, got);
        return done(R::TooLarge);
    }
    out.bytes = QByteArray(data.constData(), got);
    return done(R::Read);
}

std::optional<QStringList> readLines(const QString& path) {
    const auto bytes = readFile(path);
    if (!bytes)
        return std::nullopt;
    return splitLines(*bytes);
}

QByteArray joinLines(const QStringList& lines) {
    QByteArray out;
    for (const QString& line : lines) {
        out += toCp1250(line);
        out += "\r\n";
    }
    return out;
}

bool replaceWith(const QByteArray& tmp, const QByteArray& target, QString* error,
                 const QString& shownName) {
    // Exchanging the names is as atomic as renaming over the target, and on ext4 it does not
    // force the new data to disk the way replacing a file by rename does (a disk write for
    // every flag or log file refreshed). The old content, now under the temporary name, goes.
    // Only a regular file is exchanged: anything else (a folder) must make the write fail.
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::renameat2(AT_FDCWD, tmp.constData(), AT_FDCWD, target.constData(), RENAME_EXCHANGE) ==
            0) {
        ::unlink(tmp.constData());
        return true;
    }
    if (::rename(tmp.constData(), target.constData()) == 0)
        return true;
    setError(error, shownName + QLatin1String(": ") + errnoText());
    ::unlink(tmp.constData());
    return false;
}

bool writeFileAtomic(const QString& path, const QByteArray& bytes, QString* error) {
    const auto tmp = writeTemp(path, bytes, error);
    if (!tmp)
        return false;
    return replaceWith(QFile::encodeName(*tmp), QFile::encodeName(path), error, path);
}

bool writeLinesAtomic(const QString& path, const QStringList& lines, QString* error) {
    return writeFileAtomic(path, joinLines(lines), error);
}

bool updateLinesAtomic(const QString& path, const QStringList& lines, QString* error) {
    const QByteArray bytes = joinLines(lines);
    QFile f(path);
    if (f.size() == bytes.size() && f.open(QIODevice::ReadOnly) && f.readAll() == bytes)
        return true;
    return writeFileAtomic(path, bytes, error);
}

bool appendFile(const QString& path, const QByteArray& bytes, QString* error) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        setError(error, path + QLatin1String(": ") + errnoText());
        return false;
    }
    const bool ok = writeAll(fd, bytes.constData(), bytes.size());
    const QString why = ok ? QString() : errnoText();
    if (::close(fd) != 0 || !ok) {
        setError(error, path + QLatin1String(": ") + (why.isEmpty() ? errnoText() : why));
        return false;
    }
    return true;
}

bool copyFile(const QString& source, const QString& target, bool failIfExists, QString* error) {
    if (failIfExists && QFile::exists(target)) {
        setError(error, target + QLatin1String(": exists"));
        return false;
    }
    const auto bytes = readFile(source, error);
    if (!bytes)
        return false;
    if (!failIfExists)
        return writeFileAtomic(target, *bytes, error);
    const auto tmp = writeTemp(target, *bytes, error);
    if (!tmp)
        return false;
    // link() fails when the target exists, so a target that appeared meanwhile is kept.
    const QByteArray tmpName = QFile::encodeName(*tmp);
    const int rc = ::link(tmpName.constData(), QFile::encodeName(target).constData());
    if (rc != 0)
        setError(error, target + QLatin1String(": ") + errnoText());
    ::unlink(tmpName.constData());
    return rc == 0;
}

std::optional<QString> createUnique(const QString& dir, const QString& stem, const QString& suffix,
                                    const QByteArray& bytes, QString* error, int maxTries) {
    QString base = dir;
    if (!base.isEmpty() && !base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    const auto tmp = writeTemp(base + stem + suffix, bytes, error);
    if (!tmp)
        return std::nullopt;
    const QByteArray tmpName = QFile::encodeName(*tmp);
    QString name = stem;
    std::optional<QString> taken;
    for (int i = 0; i < maxTries; ++i, name += QLatin1Char('_')) {
        const QString candidate = base + name + suffix;
        if (::link(tmpName.constData(), QFile::encodeName(candidate).constData()) == 0) {
            taken = candidate;
            break;
        }
        if (errno != EEXIST) {
            setError(error, candidate + QLatin1String(": ") + errnoText());
            break;
        }
    }
    if (!taken && error && error->isEmpty())
        setError(error, base + stem + suffix + QLatin1String(": no free name"));
    ::unlink(tmpName.constData());
    return taken;
}

bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

std::optional<QString> renameUnique(const QString& from, const QString& dir, const QString& stem,
                                    const QString& suffix, QString* error, int maxTries) {
    QString base = dir;
    if (!base.isEmpty() && !base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    const QByteArray source = QFile::encodeName(from);
    QString name = stem;
    for (int i = 0; i < maxTries; ++i, name += QLatin1Char('_')) {
        const QString candidate = base + name + suffix;
        if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD,
                        QFile::encodeName(candidate).constData(), RENAME_NOREPLACE) == 0)
            return candidate;
        if (errno != EEXIST) {
            setError(error,
                     from + QLatin1String(" -> ") + candidate + QLatin1String(": ") + errnoText());
            return std::nullopt;
        }
    }
    setError(error, base + stem + suffix + QLatin1String(": no free name"));
    return std::nullopt;
}

}  // namespace velmar
