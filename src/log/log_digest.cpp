#include "log/log_digest.h"

#include "log/event_log.h"

namespace velmar {

LogDigest::LogDigest(const DataRoot& root, EventLog& log, const Clock& clock)
    : root_(root), log_(log), clock_(clock) {}

void LogDigest::getemailsconfig() {}
void LogDigest::reademailcfg() {}
bool LogDigest::blacklisted(const QString&) const { return false; }
void LogDigest::getlogs() {}
std::int64_t chkint64(const QString&) { return 99999999; }

}  // namespace velmar
