#pragma once

#include <QTimer>

namespace velmar {

// The query cycle's timer (`AutoQuery`) with the branch its next tick takes. The intervals are
// the configured ones, but the branch is stored beside them, so equal configured values (an
// unreadable "autoquery.cfg" makes them all 1200) cannot make one branch shadow another.
//
// Everyone who wants the bus quiet for a while uses `pause`; the next tick then resumes the
// normal cycle. A pause of 3000 ms is the delay branch: 3000 ms, then 2500 ms, then normal.
class QueryTimer {
  public:
    enum class Branch {
        Normal,  // the interval rule picks the next state (after a pause or a taken file)
        Delay,   // 3000 ms, then 2500 ms
        Wait,    // wait after a reset (WAIT_FOR_RESET_DEV)
        Poll,    // poll the next controller (QUERY_DEV)
    };
    static constexpr int kDelayMs = 3000;
    static constexpr int kAfterDelayMs = 2500;

    explicit QueryTimer(QTimer& timer) : timer_(timer) {}

    // The pause interface: stop, keep the bus quiet for `ms`, then the normal cycle.
    void pause(int ms) {
        timer_.stop();
        setPause(ms);
        timer_.start();
    }
    // The same without starting a stopped timer (a running one restarts).
    void setPause(int ms) { set(ms == kDelayMs ? Branch::Delay : Branch::Normal, ms); }
    // Sets the next branch and its interval (a running timer restarts, a stopped one stays).
    void set(Branch branch, int ms) {
        branch_ = branch;
        timer_.setInterval(ms);
    }

    void start() { timer_.start(); }
    void stop() { timer_.stop(); }
    bool isActive() const { return timer_.isActive(); }
    int interval() const { return timer_.interval(); }
    Branch branch() const { return branch_; }
    QTimer& timer() { return timer_; }

  private:
    QTimer& timer_;
    Branch branch_ = Branch::Normal;
};

}  // namespace velmar
