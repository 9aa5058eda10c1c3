#include "bus/receive_path.h"

#include <gtest/gtest.h>

#include <QDir>
#include <vector>

#include "bus/message_decoder.h"
#include "support/bus_helpers.h"
#include "support/fake_clock.h"
#include "support/receive_rig.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

using test::bytes;
using test::CaptureSerial;

QByteArray message(int h, int l, const QByteArray& text) {
    return bytes({h, l}) + text + QByteArray(1, '\0');
}

// Records the messages the bus hands on, beside the modules' own subscribers.
struct RecordingHandlers {
    QStringList calls;
    std::vector<std::array<std::uint8_t, 5>> events;
    void subscribe(MessageDispatcher& m) {
        m.subscribe<msg::StatusBlock>(
            [this](const msg::StatusBlock& b) { calls << "set_ql " + b.bytes.toHex(' '); });
        m.subscribe<msg::IrCode>([this](const msg::IrCode&) { calls << "ired"; });
        m.subscribe<msg::RadioCode>([this](const msg::RadioCode&) { calls << "learnrf"; });
        m.subscribe<msg::MemoryBank>(
            [this](const msg::MemoryBank& b) { calls << QStringLiteral("bank %1").arg(b.bank); });
        m.subscribe<msg::ExternalEvent>([this](const msg::ExternalEvent& e) {
            if (!e.target)
                return;
            calls << QStringLiteral("extern %1,%2").arg(e.target->adrh).arg(e.target->adrl);
            events.push_back(e.event);
        });
        m.subscribe<msg::MediaCommand>([this](const msg::MediaCommand& c) {
            calls << QStringLiteral("media %1").arg(c.winamp_cmd);
        });
    }
};

struct RecordingProgramming {
    QStringList calls;
    void subscribe(MessageDispatcher& m) {
        m.subscribe<msg::BlockWritten>(
            [this](const msg::BlockWritten& w) { calls << (w.tcp ? "written tcp" : "written"); });
        m.subscribe<msg::BlockRefused>([this](const msg::BlockRefused&) { calls << "refused"; });
        m.subscribe<msg::RestartNotice>([this](const msg::RestartNotice& n) {
            calls << QStringLiteral("restart %1,%2").arg(n.from.adrh).arg(n.from.adrl);
        });
    }
};

// What the rig refers to, constructed before it.
struct ReceiveParts {
    test::TempRoot tmp;
    test::FakeClock clock;
    CaptureSerial serial;
    RecordingHandlers handlers;
    RecordingProgramming programming;
    QStringList commands;
};

// A data root with two room controllers, an alias and a sound, and the whole receive side
// over a captured serial output.
class ReceiveTest : public ::testing::Test, protected ReceiveParts, public test::ReceiveRig {
  protected:
    ReceiveTest() : ReceiveRig(tmp.root(), clock, &serial) {
        handlers.subscribe(messages);
        programming.subscribe(messages);
        receive.runCommand = [this](DeviceAddress to, const QByteArray& t) {
            commands << QStringLiteral("%1,%2 %3").arg(to.adrh).arg(to.adrl).arg(QString(t));
        };
        for (const char* d : {"logs", "emails", "audios", "audio to play"})
            tmp.mkdir(d);
        addDevice(55, 1, "Kitchen");
        addDevice(55, 2, "Hall");
        tmp.write("aliases/Quartel/lDOOR.txt", "Front door opened\r\nRed\r\nDoor\r\n");
        tmp.write("audios/Door.mp3", "sound");
        tmp.write("devices aliases/zones.sms", "Night\r\nDay\r\n");
        registry.scanDevices();
        registry.read_aliases();
        registry.load_zonenames();
        settings.smsadmins = QStringList{"+48111"};
        settings.smsreports = QStringList{"+48222"};
    }

    // The SMS requests waiting in "smsout\", as "<number>: <text>", in name order.
    QStringList sms() const {
        QStringList out;
        for (const QString& f : QDir(tmp.path("smsout")).entryList(QDir::Files, QDir::Name)) {
            const QList<QByteArray> lines = tmp.read("smsout/" + f).split('\n');
            out << QString::fromLatin1(lines.value(0).trimmed() + ": " + lines.value(1).trimmed());
        }
        return out;
    }

    QString logText() const { return QString::fromLatin1(tmp.read("logs/all.logs")); }
};

TEST_F(ReceiveTest, EchoIsConfirmedOnlyWhenItMatches) {
    struct Case {
        bool linkel;
        QByteArray image;
        QByteArray echo;
        QByteArray confirmation;  // empty: nothing is written
    };
    const std::vector<Case> cases = {
        {false, bytes({8, 0, 0, 'e', 'R', 'E', 'S', 'E', 'T'}),
         bytes({0, 0, 'e', 'R', 'E', 'S', 'E', 'T'}), bytes({2, 0, 0, 'O', 'K'})},
        {false, bytes({8, 0, 0, 'e', 'R', 'E', 'S', 'E', 'T'}),
         bytes({0, 0, 'e', 'R', 'E', 'S', 'E', 'X'}), QByteArray()},
        {true, bytes({10, 0, 0, 254, 254, 'e', 'R', 'E', 'S', 'E', 'T'}),
         bytes({8, 254, 254, 0, 0, 'e', 'R', 'E', 'S', 'E', 'T'}),
         bytes({4, 0, 0, 254, 254, 'O', 'K'})},
        {true, bytes({10, 0, 0, 254, 254, 'e', 'R', 'E', 'S', 'E', 'T'}),
         bytes({8, 254, 254, 0, 0, 'e', 'R', 'E', 'S', 'E', 'X'}), QByteArray()},
    };
    for (const Case& c : cases) {
        flags.linkel_addressing = c.linkel;
        serial.frames.clear();
        ASSERT_TRUE(writer.Write_rs232(c.image));
        receive.processSerialBlock(c.echo);
        if (c.confirmation.isEmpty()) {
            EXPECT_EQ(serial.frames.size(), 1u);
            EXPECT_EQ(receive.cmd_stat, 0);
        } else {
            ASSERT_EQ(serial.frames.size(), 2u);
            EXPECT_EQ(serial.frames[1].toHex(' '), c.confirmation.toHex(' '));
            EXPECT_EQ(receive.cmd_stat, 1);
        }
        EXPECT_FALSE(writer.was_send());
    }
}

TEST_F(ReceiveTest, TcpEchoConfirmsThroughRunCommand) {
    writer.Write_rs232(bytes({8, 55, 1, 'e', 'R', 'E', 'S', 'E', 'T'}));
    receive.ReadFromEthernet(bytes({55, 1, 'e', 'R', 'E', 'S', 'E', 'T'}));
    EXPECT_EQ(commands, QStringList{"55,1 OK"});
}

TEST_F(ReceiveTest, RelayBlocks) {
    QByteArray toRoom(29, '\x07');
    toRoom[0] = 26;
    toRoom[1] = 55;
    toRoom[2] = 1;
    toRoom[5] = 'b';
    toRoom[19] = 'b';
    receive.processSerialBlock(toRoom);
    ASSERT_EQ(serial.frames.size(), 1u);
    EXPECT_EQ(serial.frames[0], toRoom);

    QByteArray toPc = toRoom;
    toPc[1] = static_cast<char>(254);
    toPc[2] = static_cast<char>(254);
    receive.processSerialBlock(toPc);
    ASSERT_EQ(serial.frames.size(), 2u);
    QByteArray expected = toPc.left(27);
    expected[0] = 24;
    expected[5] = 'f';
    expected[19] = 'f';
    EXPECT_EQ(serial.frames[1].toHex(' '), expected.toHex(' '));
    EXPECT_TRUE(handlers.calls.isEmpty());
}

TEST_F(ReceiveTest, TextMessagesByRegisteredAndUnknownSenders) {
    struct Case {
        int h, l;
        bool admin;
        const char* logged;  // nullptr: dropped
    };
    const std::vector<Case> cases = {
        {55, 1, false, "Kitchen ->    Front door opened"},
        {3, 7, false, nullptr},
        {3, 7, true, "(3,7) ->    lDOOR"},
        {55, 55, false, "(55,55) ->    lDOOR"},
    };
    for (const Case& c : cases) {
        startup.admins = c.admin;
        QFile::remove(tmp.path("logs/all.logs"));
        receive.processSerialBlock(message(c.h, c.l, "lDOOR"));
        if (c.logged)
            EXPECT_TRUE(logText().contains(QLatin1String(c.logged))) << c.logged;
        else
            EXPECT_FALSE(logText().contains(QLatin1String("lDOOR")));
    }
    // The alias's sound was copied once, under its short name.
    EXPECT_EQ(tmp.read("audio to play/Door.mp3"), "sound");
}

// A registered device is known by its address, whatever its name holds: a name with brackets
// once read like the "(h,l)" of an unknown sender, and its messages were dropped.
TEST_F(ReceiveTest, RegisteredNameWithBracketsIsKnown) {
    addDevice(55, 3, "Hall (upstairs)");
    registry.scanDevices();
    receive.processSerialBlock(message(55, 3, "lDOOR"));
    EXPECT_TRUE(logText().contains("Hall (upstairs) ->    Front door opened"))
        << logText().toStdString();
}

TEST_F(ReceiveTest, BlockWithSeveralMessages) {
    receive.processSerialBlock(message(55, 1, "lDOOR") + bytes({0, 0}) + message(55, 2, "lWINDOW"));
    EXPECT_TRUE(logText().contains("Kitchen ->    Front door opened"));
    EXPECT_TRUE(logText().contains("Hall ->    lWINDOW"));

    const QByteArray status = bytes({55, 1, 's', 1, 2, 3});
    receive.processSerialBlock(status + bytes({0}) + message(55, 2, "lLATER"));
    ASSERT_EQ(handlers.calls.size(), 1);
    EXPECT_TRUE(handlers.calls[0].startsWith("set_ql 37 01 73 01 02 03"));
    EXPECT_FALSE(logText().contains("lLATER"));
}

TEST_F(ReceiveTest, BinaryKindsAreDispatched) {
    struct Case {
        int command;
        const char* call;
    };
    const std::vector<Case> cases = {{'r', "ired"},  {14, "learnrf"}, {8, "bank 0"},
                                     {12, "bank 4"}, {'q', nullptr},  {'A', nullptr}};
    for (const Case& c : cases) {
        handlers.calls.clear();
        writer.Write_rs232(bytes({8, 55, 2, 'e', 'R', 'E', 'S', 'E', 'T'}));
        receive.processSerialBlock(bytes({55, 1, c.command, 9, 9}));
        if (c.call)
            EXPECT_EQ(handlers.calls, QStringList{c.call});
        else
            EXPECT_TRUE(handlers.calls.isEmpty());
    }
}

TEST_F(ReceiveTest, EventConfirmationRepositionsTheRotation) {
    struct Case {
        int l;
        const char* event;
        int current;
        int interval;
    };
    const std::vector<Case> cases = {
        {1, "Kitchen, Light on", 1, 100},  // index 0: the last index; SECU_RECEPTION
        {2, "Alarm secu armed", 0, 50},    // index 1: index 0; OTHER_RECEPTION
    };
    for (const Case& c : cases) {
        cycle.current_device = 7;
        cycle.extern_notroom = true;
        cycle.autoquerycnter = 1;
        cycle.evntname = QString::fromLatin1(c.event);
        tmp.write("emails/ev.run", "x");
        cycle.autoexec = tmp.path("emails/ev.run");
        receive.processSerialBlock(message(55, c.l, "lEXEC"));
        EXPECT_EQ(cycle.current_device, c.current);
        EXPECT_FALSE(cycle.extern_notroom);
        EXPECT_EQ(cycle.autoquerycnter, 0);
        EXPECT_FALSE(tmp.exists("emails/ev.run"));
        EXPECT_TRUE(cycle.autoexec.isEmpty());
        EXPECT_EQ(AutoQuery.interval(), c.interval);
        EXPECT_TRUE(AutoQuery.isActive());
        EXPECT_TRUE(logText().contains(QLatin1String(c.event)));
    }
}

TEST_F(ReceiveTest, ZoneChangeQueuesSms) {
    alarms.wasalarm = true;
    receive.processSerialBlock(message(55, 1, "lZONE-1"));
    receive.processSerialBlock(message(55, 1, "lZONE-45"));
    // The requests are files: listed by name, not in the order they were queued.
    EXPECT_EQ(sms(),
              QStringList({"+48111: Day -> Zmiana Zabezpieczen.",
                           "+48111: Night -> Zmiana Zabezpieczen.", "+48222: Odwolanie Alarmu."}));
    EXPECT_FALSE(alarms.wasalarm);
}

TEST_F(ReceiveTest, MediaCommand) {
    receive.processSerialBlock(message(55, 1, "kired-402"));
    receive.processSerialBlock(message(55, 1, "kired-99999"));
    EXPECT_EQ(handlers.calls, QStringList({"media 402", "media 0"}));
}

TEST_F(ReceiveTest, BluetoothCommandsWriteOneFileEachAndPauseFiveSeconds) {
    const QByteArray block = bytes({55, 1, 254}) + "open; \tclose; \trest" + bytes({0});
    receive.processSerialBlock(block);
    const QStringList files = QDir(tmp.path("emails")).entryList({"bt-*.run"});
    ASSERT_EQ(files.size(), 2) << files.join(' ').toStdString();
    // Named by the time and the block offset of each command's ";".
    EXPECT_EQ(files[0], QStringLiteral("bt-2026-12-09 10, 11, 12_15.run"));
    EXPECT_EQ(files[1], QStringLiteral("bt-2026-12-09 10, 11, 12_7.run"));
    EXPECT_EQ(tmp.read("emails/" + files[0]), "close\r\n");
    EXPECT_EQ(tmp.read("emails/" + files[1]), "open\r\n");
    EXPECT_TRUE(logText().contains("BlueTooth command: open"));
    receive.processSerialBlock(block);
    EXPECT_EQ(QDir(tmp.path("emails")).entryList({"bt-*.run"}).size(), 2);
    EXPECT_TRUE(modules.events.bluetooth.disablbluetooth.isActive());
}

TEST_F(ReceiveTest, ExternalEvents) {
    struct Case {
        const char* text;
        int adrl;
        std::array<std::uint8_t, 5> event;
    };
    const std::vector<Case> cases = {
        {"lExt-5-O-12-1", 5, {1, 12, 1, 1, 1}},
        {"lExt-5-I-3-n", 5, {39, 3, 2, 2, 2}},
        {"lExt-7-X-300-z", 7, {0, 255, 255, 255, 255}},
    };
    for (const Case& c : cases) {
        handlers.events.clear();
        receive.processSerialBlock(message(55, 1, c.text));
        ASSERT_EQ(handlers.events.size(), 1u) << c.text;
        EXPECT_EQ(handlers.events[0], c.event) << c.text;
        EXPECT_EQ(handlers.calls.last(), QStringLiteral("extern 55,%1").arg(c.adrl));
    }
    handlers.events.clear();
    receive.processSerialBlock(message(55, 1, "lExt-x-O-1-1"));
    EXPECT_TRUE(handlers.events.empty());
}

TEST_F(ReceiveTest, MarkersAlarmsAndRestarts) {
    startup.notstart = false;
    AutoQuery.setPause(1000);
    AutoQuery.start();
    receive.processSerialBlock(message(55, 1, "lRESTART"));
    EXPECT_TRUE(programming.calls.isEmpty());
    EXPECT_EQ(AutoQuery.interval(), 1000);

    startup.notstart = true;
    receive.processSerialBlock(message(55, 2, "lRESTART"));
    // "lRESTART" also holds "lRES": two notices; the after-restart timer starts with the first.
    EXPECT_EQ(programming.calls, QStringList({"restart 55,2", "restart 55,2"}));
    EXPECT_TRUE(modules.events.afterRestart.isActive());
    EXPECT_EQ(modules.events.afterRestart.timer.interval(), 3100);
    EXPECT_FALSE(AutoQuery.isActive());
    EXPECT_EQ(AutoQuery.interval(), timing.WAIT_FOR_RESET_DEV);

    programming.calls.clear();
    receive.processSerialBlock(message(55, 1, "lALARM"));
    EXPECT_EQ(AutoQuery.interval(), 3000);
    EXPECT_TRUE(AutoQuery.isActive());
    receive.processSerialBlock(message(55, 1, "lOKWRROM") + message(55, 1, "lERWRROM"));
    EXPECT_EQ(programming.calls, QStringList({"written", "refused"}));
    EXPECT_TRUE(logText().contains("error write mem"));
}

TEST_F(ReceiveTest, EchoedEventFrameHasNoEffect) {
    receive.processSerialBlock(message(55, 1, QByteArray("eEV") + bytes({1, 2, 3, 4, 5})));
    EXPECT_FALSE(logText().contains("Kitchen"));
    EXPECT_TRUE(handlers.calls.isEmpty());
}

TEST_F(ReceiveTest, LinkelBlocksAreDecodedOnlyAfterAFrameWithThePcAddress) {
    flags.linkel_addressing = true;
    startup.TCP_INDEX_INC = 3;
    const QByteArray block = bytes({9, 254, 254, 55, 1}) + "lDOOR" + bytes({0});
    receive.processSerialBlock(block);
    EXPECT_FALSE(logText().contains("Kitchen"));
    writer.Write_rs232(bytes({5, 55, 1, 254, 254, 'q'}));
    receive.processSerialBlock(block);
    EXPECT_TRUE(logText().contains("Kitchen ->    Front door opened"));
}

}  // namespace
}  // namespace velmar
