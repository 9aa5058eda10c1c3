#include "config/upload_engine.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include "events/event_definitions.h"
#include "support/bus_helpers.h"
#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

// The engine over a captured writer; the controller's answers are the bus's messages, the
// timers' ticks are called by hand.
class UploadEngineTest : public ::testing::Test {
  protected:
    UploadEngineTest() {
        tmp.mkdir("logs");
        port.writer.setSerialOutput(&serial);
        rt.log.setSink([this](const QString& l) { logged << l; });
    }
    // The frames sent since the last call, as their first `n` bytes in hexadecimal.
    QStringList sent(int n = 4) {
        QStringList out;
        for (const QByteArray& f : serial.frames)
            out << QString::fromLatin1(f.left(n).toHex(' '));
        serial.frames.clear();
        return out;
    }
    // The controller confirms every block until the upload ends.
    void confirmAll() {
        for (int i = 0; i < 40 && engine.busy(); ++i) {
            engine.SendCfgTick();
            if (!engine.flash_buff_next)  // a block is on its way
                messages.dispatch(msg::BlockWritten{false});
        }
    }
    static UploadJob config(const QString& device = QStringLiteral("Kitchen")) {
        UploadJob job{UploadJob::Kind::Configuration, device, {}, {}};
        for (char letter : {'w', 'u', 'W', 'U'}) {
            QByteArray b(266, '\0');
            b[0] = static_cast<char>(254);
            b[1] = 55;
            b[2] = 1;
            b[3] = letter;
            job.blocks.push_back(b);
        }
        return job;
    }

    test::TempRoot tmp;
    test::FakeClock clock;
    Runtime rt{tmp.root(), clock};
    QTimer autoQuery;
    BusPort port{rt, autoQuery};
    MessageDispatcher messages{rt};
    test::CaptureSerial serial;
    UploadEngine engine{rt, port, messages};
    QStringList logged;
};

TEST_F(UploadEngineTest, ConfigurationConfirmedBlockByBlock) {
    autoQuery.start();
    ASSERT_TRUE(engine.start(config()));
    EXPECT_FALSE(autoQuery.isActive());
    EXPECT_TRUE(rt.flags.uploading);
    EXPECT_EQ(sent(), QStringList{"fc 37 01 77"});  // the bus is quiet: at once
    confirmAll();
    EXPECT_EQ(sent(), (QStringList{"fc 37 01 75", "fc 37 01 57", "fc 37 01 55"}));
    EXPECT_FALSE(engine.busy());
    EXPECT_TRUE(engine.sent_all_bytes());
    EXPECT_FALSE(rt.flags.uploading);
    EXPECT_TRUE(autoQuery.isActive());
    EXPECT_FALSE(engine.SendCfg.isActive());
    EXPECT_FALSE(engine.TimeOut.isActive());
    EXPECT_TRUE(logged.filter("Error").isEmpty());
}

TEST_F(UploadEngineTest, TheFirstBlockWaitsForTheAnswerToAPoll) {
    port.writer.Write_rs232(QByteArray("\x03\x37\x01q", 4));
    sent();
    clock.advanceMs(30);
    ASSERT_TRUE(engine.start(config()));
    EXPECT_TRUE(sent().isEmpty());
    EXPECT_TRUE(engine.SendCfg.isActive());
    EXPECT_EQ(engine.SendCfg.interval(), 70);  // 100 ms after the poll
    confirmAll();
    EXPECT_EQ(sent(), (QStringList{"fc 37 01 77", "fc 37 01 75", "fc 37 01 57", "fc 37 01 55"}));
}

TEST_F(UploadEngineTest, EventTablesThenRamTables) {
    const auto tables = clear_events_ram(55, 1);
    UploadJob job{UploadJob::Kind::FlashEvents,
                  "Kitchen",
                  {tables.begin(), tables.begin() + 11},
                  {tables.begin() + 11, tables.end()}};
    ASSERT_TRUE(engine.start(job));
    confirmAll();
    QStringList expected;
    for (int i = 0; i < 11; ++i)
        expected << QStringLiteral("fc 37 01 %1").arg(0x30 + i, 2, 16, QChar('0'));
    for (int i = 0; i < 11; ++i)
        expected << QStringLiteral("fc 37 01 %1").arg(0x41 + i, 2, 16, QChar('0'));
    EXPECT_EQ(sent(), expected);
    EXPECT_EQ(logged.filter("Write Events Complete").size(), 1);

    // Alarm events: the first seven flash tables, 40 bytes each on the wire.
    const auto alarm = clear_events_ram(55, 1, true);
    ASSERT_TRUE(engine.start(
        {UploadJob::Kind::FlashEvents, "Siren", {alarm.begin(), alarm.begin() + 7}, {}}));
    confirmAll();
    const QStringList frames = sent(40);
    ASSERT_EQ(frames.size(), 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_TRUE(
            frames[i].startsWith(QStringLiteral("25 37 01 %1").arg(0x30 + i, 2, 16, QChar('0'))));
        EXPECT_EQ(frames[i].size(), 40 * 3 - 1);
    }
}

TEST_F(UploadEngineTest, SilenceRetriesThenAbortsAndTheNextUploadStartsClean) {
    ASSERT_TRUE(engine.start(config()));
    for (int i = 0; i < 20 && engine.busy(); ++i) {
        engine.SendCfgTick();
        engine.TimeOutTick();
    }
    EXPECT_EQ(sent(), QStringList(14, "fc 37 01 77"));
    // The line names the device and the address, after the log's stamp and its own.
    const QString stamp = QStringLiteral("2026-12-09 10:11:12 :    ");
    EXPECT_EQ(logged
                  .filter(stamp + stamp +
                          "Kitchen ->    Error Writing config to Device at Address (55,1)")
                  .size(),
              1)
        << logged.join('\n').toStdString();
    // An acknowledgement nobody waits for changes nothing.
    messages.dispatch(msg::BlockWritten{false});
    EXPECT_EQ(engine.index_flash_buff, 0);
    // The EEPROM upload that follows starts at its first block, without the old errors.
    UploadJob eeprom{UploadJob::Kind::Eeprom, "Kitchen", {}, {}};
    for (int k = 1; k <= 5; ++k) {
        QByteArray b(259, '\0');
        b[0] = static_cast<char>(254);
        b[1] = 55;
        b[2] = 1;
        b[3] = 7;
        b[4] = static_cast<char>(k);
        eeprom.blocks.push_back(b);
    }
    ASSERT_TRUE(engine.start(eeprom));
    confirmAll();
    EXPECT_EQ(sent(5), (QStringList{"fc 37 01 07 01", "fc 37 01 07 02", "fc 37 01 07 03",
                                    "fc 37 01 07 04", "fc 37 01 07 05"}));
    EXPECT_EQ(logged.filter("Write EEPROM Complete").size(), 1);
    EXPECT_EQ(autoQuery.interval(), 1200);
}

TEST_F(UploadEngineTest, RefusalsCountUntilAConfirmationAndOneUploadAtATime) {
    ASSERT_TRUE(engine.start(config()));
    EXPECT_FALSE(engine.start(config("Hall")));
    EXPECT_EQ(logged.filter("Upload refused while another runs: configuration for Hall").size(), 1);
    for (int i = 0; i < 13; ++i) {
        engine.SendCfgTick();
        messages.dispatch(msg::BlockRefused{});
    }
    EXPECT_EQ(engine.errors_events, 13);
    EXPECT_EQ(engine.SendCfg.interval(), 500);
    // A late acknowledgement of the refused block, which waits to be sent again, skips nothing.
    messages.dispatch(msg::BlockWritten{false});
    EXPECT_EQ(engine.index_flash_buff, 0);
    confirmAll();
    const QStringList frames = sent();
    EXPECT_EQ(frames.size(), 17);
    EXPECT_EQ(frames.mid(13),
              (QStringList{"fc 37 01 77", "fc 37 01 75", "fc 37 01 57", "fc 37 01 55"}));
    EXPECT_TRUE(logged.filter("Error Writing").isEmpty());
    EXPECT_EQ(engine.errors_events, 0);
}

TEST_F(UploadEngineTest, ThroughALinkelACutBlockIsLoggedWhenItLosesData) {
    port.flags.linkel_addressing = true;
    UploadJob job = config();
    job.blocks[0][253] = 0x42;  // data where the frame is cut
    ASSERT_TRUE(engine.start(job));
    confirmAll();
    EXPECT_EQ(sent().size(), 4);
    EXPECT_EQ(
        logged.filter("Block cut through the Linkel: w to Kitchen loses bytes 252-254").size(), 1);
    EXPECT_EQ(logged.filter("Block cut through the Linkel").size(), 1);
}

}  // namespace
}  // namespace velmar
