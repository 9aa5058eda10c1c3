#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>

namespace velmar {

// Wall clock and monotonic clock, faked in tests.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    virtual std::int64_t monotonicMs() const = 0;
};

class SystemClock final : public Clock {
  public:
    QDateTime now() const override;
    std::int64_t monotonicMs() const override;
};

// "System short date + long time", the one date-time text format of the system.
inline constexpr const char* kDateTimeFormat = "yyyy-MM-dd HH:mm:ss";
QString dateTimeText(const QDateTime& t);

}  // namespace velmar
