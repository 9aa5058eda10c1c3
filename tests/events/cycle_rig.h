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

// Records what event requests asked of the parts that are not built here: the actions
// "Schedule", "Batch" and the maintenance commands, registered in the runtime's table.
struct RecordingActions {
    QStringList calls;
    bool available = true;
    void registerIn(ActionTable& actions) {
        actions.add(QStringLiteral("Schedule"), [this](const QStringList& a) {
            calls << QStringLiteral("schedule %1|%2|%3|%4")
                         .arg(a.value(0), a.value(1), a.value(2), a.value(3));
            return available;
        });
        actions.add(QStringLiteral("Batch"), [this](const QStringList& a) {
            calls << QLatin1String("batch ") + a.value(0);
            return available;
        });
        for (const char* c : kRoomMaintenanceCommands) {
            const QString command = QLatin1String(c);
            actions.add(command, [this, command](const QStringList& a) {
                calls << QLatin1String("maintenance ") + a.value(0) + QLatin1Char(' ') + command;
                return available;
            });
        }
    }
};

struct CycleParts {
    TempRoot tmp;
    FakeClock clock;
    CaptureSerial serial;
    RecordingActions actions;
    QStringList logged;
};

// The query cycle and the event files over a fresh data root, with the receive side (for the
// controllers' confirmations) and every frame captured.
class CycleRig : public ::testing::Test, protected CycleParts, public ReceiveRig {
  protected:
    CycleRig()
        : ReceiveRig(tmp.root(), clock, &serial),
          commands(modules.events.commands),
          files(modules.events.files),
          queryCycle(modules.events.queryCycle),
          debug(startup.debugtimer),
          audioext(settings.audioext) {
        actions.registerIn(rt.actions);
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
    // The device scan and what the event engine makes of it (events, maintenance files, a
    // fresh rotation).
    void scan() {
        registry.scanDevices();
        modules.events.tablesBuilt();
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

    Commands& commands;
    EventFiles& files;
    QueryCycle& queryCycle;
    bool& debug;
    QString& audioext;
};

}  // namespace velmar::test
