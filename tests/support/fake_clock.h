#pragma once

#include <QDateTime>

#include "base/clock.h"

namespace velmar::test {

// A clock that stands still until a test moves it.
class FakeClock final : public Clock {
  public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2026, 12, 9), QTime(10, 11, 12)))
        : now_(std::move(start)) {}
    QDateTime now() const override { return now_; }
    std::int64_t monotonicMs() const override { return mono_; }
    void set(const QDateTime& t) { now_ = t; }
    void advanceMs(std::int64_t ms) {
        now_ = now_.addMSecs(ms);
        mono_ += ms;
    }

  private:
    QDateTime now_;
    std::int64_t mono_ = 1000000;
};

}  // namespace velmar::test
