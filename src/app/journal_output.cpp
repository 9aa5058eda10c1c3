#include "app/journal_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace velmar {

namespace {

// "yyyy-MM-dd HH:mm:ss :    ": '9' stands for a digit, every other character for itself.
constexpr char kStampShape[] = "9999-99-99 99:99:99 :    ";
constexpr qsizetype kStampLength = sizeof kStampShape - 1;

bool stampAt(const QString& text, qsizetype at) {
    if (text.size() - at < kStampLength)
        return false;
    for (qsizetype i = 0; i < kStampLength; ++i) {
        const QChar c = text.at(at + i);
        const bool ok = kStampShape[i] == '9' ? (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                                              : c == QLatin1Char(kStampShape[i]);
        if (!ok)
            return false;
    }
    return true;
}

bool parseDecimal(const QByteArray& text, std::uint64_t* value) {
    bool ok = false;
    *value = text.toULongLong(&ok, 10);
    return ok && !text.isEmpty() && text.front() != '+' && text.front() != '-';
}

}  // namespace

bool journalStreamMatches(const QByteArray& journalStream, std::uint64_t device,
                          std::uint64_t inode) {
    const qsizetype colon = journalStream.indexOf(':');
    if (colon < 0)
        return false;
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    return parseDecimal(journalStream.left(colon), &dev) &&
           parseDecimal(journalStream.mid(colon + 1), &ino) && dev == device && ino == inode;
}

bool stdoutIsJournal() {
    const char* value = std::getenv("JOURNAL_STREAM");
    if (value == nullptr)
        return false;
    struct stat st {};
    if (::fstat(STDOUT_FILENO, &st) != 0)
        return false;
    return journalStreamMatches(QByteArray(value), static_cast<std::uint64_t>(st.st_dev),
                                static_cast<std::uint64_t>(st.st_ino));
}

QString withoutLogStamps(const QString& text) {
    QString out;
    out.reserve(text.size());
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        end = end < 0 ? text.size() : end + 1;
        const qsizetype from = stampAt(text, start) ? start + kStampLength : start;
        out += QStringView(text).mid(from, end - from);
        start = end;
    }
    return out;
}

}  // namespace velmar
