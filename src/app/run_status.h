#pragma once

#include <QString>
#include <cstdint>

#include "log/runtime.h"

namespace velmar {

// The running program's figures for people and scripts: uptime, frames sent and received, echo
// failures, serial and Linkel reconnects, panels connected, event files waiting and log write
// failures. One log line on request (SIGUSR1), and "logs\manager.status" (key=value lines, LF,
// written atomically) once a minute and on request.
class RunStatus {
  public:
    explicit RunStatus(Runtime& rt);

    struct Figures {
        std::int64_t uptimeS = 0;
        std::int64_t framesSent = 0;
        std::int64_t framesReceived = 0;
        std::int64_t echoFailures = 0;
        std::int64_t serialReconnects = 0;
        std::int64_t linkelReconnects = 0;
        std::int64_t panelsConnected = 0;
        std::int64_t eventFilesWaiting = 0;
        std::int64_t logWriteFailures = 0;
    };
    Figures figures() const;
    static QString line(const Figures& f);
    static QByteArray fileText(const Figures& f);

    // SIGUSR1: the line in the log and the file rewritten.
    void report();
    // Once a minute: the file rewritten; the line only with debugging on.
    void minute();

  private:
    void writeFile(const Figures& f);

    Runtime& rt_;
    std::int64_t startedMs_;
    bool writeFailed_ = false;
};

}  // namespace velmar
