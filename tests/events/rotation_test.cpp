#include "events/rotation.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmar {
namespace {

// The sequence of polled addresses ("h-l") over `polls` polls.
QStringList polls(const std::vector<std::pair<int, int>>& devices, int externIndex,
                  bool disableExtern, int count) {
    std::array<deviceadr, 21> table{};
    for (std::size_t i = 0; i < devices.size(); ++i) {
        table[i].adrh = devices[i].first;
        table[i].adrl = devices[i].second;
    }
    const int max = static_cast<int>(devices.size());
    QueryCycleState s;
    s.current_device = firstRoomIndex(max, externIndex, disableExtern);
    QStringList out;
    for (int i = 0; i < count; ++i) {
        const auto& e = table[static_cast<std::size_t>(s.current_device)];
        out << QStringLiteral("%1-%2").arg(e.adrh).arg(e.adrl);
        rotateAfterPoll(s, table, max, externIndex, disableExtern);
    }
    return out;
}

TEST(Rotation, ExternalControllerTakesEverySecondTurn) {
    struct Case {
        const char* what;
        std::vector<std::pair<int, int>> devices;
        int externIndex;
        bool disableExtern;
        QStringList expected;
    };
    const std::vector<Case> cases = {
        {"external last",
         {{10, 1}, {10, 2}, {2, 1}},
         2,
         false,
         {"10-1", "2-1", "10-2", "2-1", "10-1", "2-1", "10-2"}},
        {"external first, as a sorted table has it",
         {{2, 1}, {10, 1}, {10, 2}},
         0,
         false,
         {"10-1", "2-1", "10-2", "2-1", "10-1", "2-1"}},
        {"plain round",
         {{10, 1}, {10, 2}, {2, 1}},
         2,
         true,
         {"10-1", "10-2", "2-1", "10-1", "10-2", "2-1"}},
        {"no external controller", {{10, 1}, {10, 2}}, -1, false, {"10-1", "10-2", "10-1", "10-2"}},
        {"only the external controller", {{2, 1}}, 0, false, {"2-1", "2-1", "2-1"}},
        {"one room controller", {{10, 1}}, -1, false, {"10-1", "10-1"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            polls(c.devices, c.externIndex, c.disableExtern, static_cast<int>(c.expected.size())),
            c.expected)
            << c.what;
    }
}

TEST(Rotation, EmptyTableStaysPut) {
    std::array<deviceadr, 21> table{};
    QueryCycleState s;
    rotateAfterPoll(s, table, 0, -1, false);
    EXPECT_EQ(s.current_device, 0);
    EXPECT_FALSE(s.extern_notroom);
}

}  // namespace
}  // namespace velmar
