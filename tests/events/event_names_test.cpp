#include "events/event_names.h"

#include <gtest/gtest.h>

#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

class EventNamesTest : public ::testing::Test {
  protected:
    EventNamesTest() {
        t.mkdir("logs");
        log.setSink([this](const QString& text) { logged += text; });
    }
    test::TempRoot t;
    DataRoot root{t.root()};
    test::FakeClock clock;
    EventLog log{root, clock};
    EventNames names{root, log};
    QString logged;
};

TEST_F(EventNamesTest, RegistrationIsIdempotentAndBounded) {
    EXPECT_EQ(names.load_mem_events("Salon", "55", "1"), 1);
    EXPECT_EQ(names.load_mem_events("Hall", "55", "2"), 2);
    EXPECT_EQ(names.load_mem_events("Salon", "55", "9"), 1);
    EXPECT_EQ(names.count(), 2);
    ASSERT_NE(names.entry(1), nullptr);
    EXPECT_EQ(names.entry(1)->adrl, "1");
    ASSERT_NE(names.entry(2), nullptr);
    EXPECT_TRUE(names.entry(2)->eventnamelist.isEmpty());
    const struct {
        QString name;
        int index;
    } lookups[] = {{"Salon", 1}, {"Hall", 2}, {"salon", 0}, {"Salon ", 0}, {"", 0}};
    for (const auto& l : lookups)
        EXPECT_EQ(names.devname_index(l.name), l.index) << l.name.toStdString();
    EXPECT_EQ(names.entry(0), nullptr);
    EXPECT_EQ(names.entry(3), nullptr);

    for (int i = 3; i <= EventNames::capacity; ++i)
        EXPECT_EQ(names.load_mem_events(QString("Room %1").arg(i), "55", QString::number(i)), i);
    EXPECT_EQ(names.load_mem_events("Late", "55", "30"), 0);
    EXPECT_EQ(names.count(), EventNames::capacity);
    EXPECT_TRUE(logged.contains("Event name registry full: Late (55-30) not registered"));
}

TEST_F(EventNamesTest, SecurityZones) {
    names.load_mem_secu();
    EXPECT_EQ(names.count(), 0);  // no zone file, no entry

    t.write("devices aliases/Sensel zones.ext", "Ground floor\r\nGarage\r\n\xA3\xB9ka");
    names.load_mem_secu();
    names.load_mem_secu();
    ASSERT_EQ(names.count(), 1);
    const EventNameEntry& e = *names.entry(names.devname_index("Secu"));
    EXPECT_EQ(e.adrh, "2");
    EXPECT_EQ(e.adrl, "1");
    const QStringList zones = {"Ground floor", "Garage", QStringLiteral("Łąka")};
    EXPECT_EQ(e.eventnamelist, zones);
    EXPECT_EQ(e.signalnamelist, zones);
    EXPECT_EQ(e.EventIdlist, (QStringList{"ZONE0", "ZONE1", "ZONE2"}));
    EXPECT_EQ(e.EventStatelist, (QStringList{"a", "b", "c"}));
}

}  // namespace
}  // namespace velmar
