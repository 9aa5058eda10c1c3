#pragma once

#include <algorithm>

namespace velmar {

// The retry rhythm of a link that went away (the serial port, the Linkel, the panel server's
// listening socket): the first try again after 1 s, then 2, 4, 8 ... at most 30 s apart, for
// ever. Failed tries are logged the first time and every tenth time only, so that an outage of a
// week costs a handful of lines.
class Backoff {
  public:
    static constexpr int kFirstMs = 1000;
    static constexpr int kMaxMs = 30000;
    static constexpr int kLogEvery = 10;

    // The delay before the next try; each call doubles the one after it.
    int nextDelayMs() {
        const int delay = delay_;
        delay_ = std::min(kMaxMs, delay_ * 2);
        return delay;
    }
    // A try failed; true when this failure is to be logged (the first, the 10th, the 20th ...).
    bool failed() {
        ++failures_;
        return failures_ == 1 || failures_ % kLogEvery == 0;
    }
    // The link is up again: the next outage starts from 1 s.
    void reset() {
        delay_ = kFirstMs;
        failures_ = 0;
    }
    int failures() const { return failures_; }

  private:
    int delay_ = kFirstMs;
    int failures_ = 0;
};

}  // namespace velmar
