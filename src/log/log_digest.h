#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <cstdint>

#include "base/clock.h"
#include "base/data_root.h"

namespace velmar {

class EventLog;

// The log digest handed to the e-mail gateway once a minute ("emailsout\logs.txt"), with its
// header ("emsubmittion.cfg") and blacklist ("emailblacklist.cfg").
class LogDigest {
  public:
    static constexpr int kBlacklistCapacity = 50;

    LogDigest(const DataRoot& root, EventLog& log, const Clock& clock);

    // Reads "emailblacklist.cfg" and then "emsubmittion.cfg" (`reademailcfg`).
    void getemailsconfig();
    void reademailcfg();
    bool blacklisted(const QString& line) const;
    // Builds "logs\logs.txtt" and copies it over "emailsout\logs.txt".
    void getlogs();

    const QStringList& blacklist() const { return blacklist_; }
    int blacklistcount() const { return blacklistcount_; }
    const QString& emsubmisionsettings() const { return emsubmisionsettings_; }

  private:
    // Copies "logs\" + name into `folder` + name through the date filter (`cpy`).
    void cpy(const QString& name, const QString& folder, std::int64_t today);
    // One section of the digest body for a collected file.
    QByteArray section(const QString& name, const QStringList& lines, bool isLog,
                       const QString& stamp) const;
    void ioError(const QString& message);

    const DataRoot& root_;
    EventLog& log_;
    const Clock& clock_;
    QStringList blacklist_;
    int blacklistcount_ = 0;
    QString emsubmisionsettings_;
};

// The number a dated log line carries at characters 1-4, 6-7 and 9-10 (yyyymmdd), or
// 99999999 when those characters are not a number.
std::int64_t chkint64(const QString& text);

}  // namespace velmar
