#pragma once

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QStringList>

#include "events/commands.h"
#include "events/event_files.h"
#include "events/query_cycle.h"
#include "support/bus_helpers.h"
#include "support/fake_clock.h"
#include "support/receive_rig.h"
#include "support/temp_root.h"

namespace velmar::test {

// Records what event requests asked of the parts that are not built here.
struct RecordingActions : EventActions {
    QStringList calls;
    bool available = true;
    bool encodeschedule(const QString& d, const QString& e, int k, const QString& s) override {
        calls << QStringLiteral("schedule %1|%2|%3|%4").arg(d, e).arg(k).arg(s);
        return available;
    }
    bool runBatch(const QString& macro) override {
        calls << QLatin1String("batch ") + macro;
        return available;
    }
    bool runMaintenance(const QString& d, const QString& c) override {
        calls << QLatin1String("maintenance ") + d + QLatin1Char(' ') + c;
        return available;
    }
};

struct CycleParts {
    TempRoot tmp;
    FakeClock clock;
    CaptureSerial serial;
    ReceivedMessageHandlers handlers;
    ProgrammingEvents programming;
    RecordingActions actions;
    StartupFlags startup;
    QStringList logged;
};

// The query cycle and the event files over a fresh data root, with the receive side (for the
// controllers' confirmations) and every frame captured.
class CycleRig : public ::testing::Test, protected CycleParts, public ReceiveRig {
  protected:
    CycleRig()
        : ReceiveRig(tmp.root(), clock, serial, handlers, programming),
          commands(Commands::Context{log, clock, writer, AutoQuery, timing, flags, debug}),
          files(EventFiles::Context{root, log, clock, names, writer, cycle, AutoQuery, timing,
                                    flags, debug},
                actions),
          queryCycle(QueryCycle::Context{root, log, logFiles, clock, registry, commands, files,
                                         actions, cycle, AutoQuery, timing, settings, startup,
                                         audioext}) {
        tmp.mkdir("logs");
        tmp.mkdir("emails");
        log.setSink([this](const QString& line) { logged << line; });
    }

    // A controller with the events "Lights On" (output 1 on) and "Lights Off".
    void addController(int h, int l, const QString& name) {
        addDevice(h, l, name);
        const QString stem = QStringLiteral("events/Quartel/%1-%2").arg(h).arg(l);
        tmp.write(stem + ".iev", "O1\r\nO1\r\n");
        tmp.write(stem + ".lev", "Lights On\r\nLights Off\r\n");
        tmp.write(stem + ".nev", "Lights On\r\nLights Off\r\n");
        tmp.write(stem + ".sev", "1\r\n0\r\n");
    }
    void scan() {
        registry.scanDevices();
        queryCycle.restart();
    }
    QStringList emails() const {
        QStringList names;
        for (const QString& n : QDir(tmp.path("emails")).entryList(QDir::Files, QDir::Name))
            names << n;
        return names;
    }
    // The frames sent since the last call, as hexadecimal text.
    QStringList takeFrames() {
        QStringList out;
        for (const QByteArray& f : serial.frames)
            out << QString::fromLatin1(f.toHex(' '));
        serial.frames.clear();
        return out;
    }
    bool loggedLine(const QString& part) const {
        for (const QString& l : logged) {
            if (l.contains(part))
                return true;
        }
        return false;
    }
    // A controller reports an executed event.
    void confirm(int h, int l) {
        receive.processSerialBlock(bytes({h, l}) + "lEXEC" + QByteArray(1, '\0'));
    }

    Commands commands;
    EventFiles files;
    QueryCycle queryCycle;
};

}  // namespace velmar::test
