#include "base/backoff.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmar {
namespace {

TEST(Backoff, DoublesToThirtySecondsAndLogsEveryTenth) {
    Backoff b;
    const int expected[] = {1000, 2000, 4000, 8000, 16000, 30000, 30000};
    for (int d : expected)
        EXPECT_EQ(b.nextDelayMs(), d);
    std::vector<int> logged;
    for (int i = 1; i <= 25; ++i) {
        if (b.failed())
            logged.push_back(i);
    }
    EXPECT_EQ(logged, (std::vector<int>{1, 10, 20}));
    b.reset();
    EXPECT_EQ(b.nextDelayMs(), 1000);
    EXPECT_EQ(b.failures(), 0);
}

}  // namespace
}  // namespace velmar
