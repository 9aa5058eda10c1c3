#include "events/pc_events.h"

#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

#include "base/log_text.h"
#include "events/commands.h"

namespace velmar {

namespace {

const QStringList kColumns = {"Device_Name", "Event_Name", "Signal_Name", "Mi", "Ho",
                              "DOW",         "DOM",        "Mo",          "Ye"};

int atMost(int v, int below, int every) {
    return v < 0 || v >= below ? every : v;
}

int positive(int v) {
    return v <= 0 ? 0 : v;
}

}  // namespace

bool openWithAssociatedProgram(const QString& file) {
    QProcess type;
    type.start(QStringLiteral("xdg-mime"),
               {QStringLiteral("query"), QStringLiteral("filetype"), file});
    if (!type.waitForFinished(3000) || type.exitCode() != 0)
        return false;
    const QString mime = QString::fromUtf8(type.readAllStandardOutput()).trimmed();
    QProcess app;
    app.start(QStringLiteral("xdg-mime"),
              {QStringLiteral("query"), QStringLiteral("default"), mime});
    if (!app.waitForFinished(3000) ||
        QString::fromUtf8(app.readAllStandardOutput()).trimmed().isEmpty())
        return false;
    return QProcess::startDetached(QStringLiteral("xdg-open"), {file},
                                   QFileInfo(file).absolutePath());
}

void PcEvents::update_pc_events() {
    if (rt_.flags.linkel_companion)
        return;
    pc_events.clear();
    PCEventsCount = 0;
    const QString path = rt_.root.path(QStringLiteral("db\\events.db"));
    if (!QFileInfo::exists(path))
        return;
    const QString connection = QLatin1String("pc-events-") + QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            rt_.log.admem(QLatin1String("Error opening the event table: db\\events.db -> ") +
                          db.lastError().text());
        } else {
            const QSqlRecord columns = db.record(QStringLiteral("events"));
            bool complete = !columns.isEmpty();
            for (const QString& c : kColumns)
                complete = complete && columns.indexOf(c) >= 0;
            QSqlQuery q(db);
            if (complete &&
                q.exec(QStringLiteral("SELECT Device_Name, Event_Name, Signal_Name, Mi, "
                                      "Ho, DOW, DOM, Mo, Ye FROM events ORDER BY rowid"))) {
                while (q.next() && PCEventsCount < kMaxEvents) {
                    if (q.value(0).toString() != QLatin1String("PC"))
                        continue;
                    local_event e;
                    e.event_name = q.value(1).toString();
                    e.event_type = q.value(2).toString();
                    e.min = atMost(q.value(3).toInt(), 60, 60);
                    e.hour = atMost(q.value(4).toInt(), 24, 24);
                    e.dayw = positive(q.value(5).toInt());
                    e.daym = positive(q.value(6).toInt());
                    e.month = positive(q.value(7).toInt());
                    e.year = positive(q.value(8).toInt());
                    pc_events.push_back(e);
                    ++PCEventsCount;
                }
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(connection);
}

bool PcEvents::due(const local_event& e, const QDateTime& now) const {
    const QDate d = now.date();
    const QTime t = now.time();
    const int dow = d.dayOfWeek() % 7 + 1;  // 1 = Sunday
    return (e.min == 60 || e.min == t.minute()) && (e.hour == 24 || e.hour == t.hour()) &&
           (e.dayw == 0 || e.dayw == dow) && (e.daym == 0 || e.daym == d.day()) &&
           (e.month == 0 || e.month == d.month()) && (e.year == 0 || e.year + 2000 == d.year());
}

void PcEvents::run(const local_event& e) {
    const bool offline = rt_.flags.offline;
    if (e.event_type == QLatin1String("RESTART")) {
        if (!offline)
            commands_.reset_all_devs();
    } else if (e.event_type == QLatin1String("AUTOEVENT")) {
        if (!offline && !rt_.actions.run(QStringLiteral("AutoEvent")))
            rt_.log.admem(QStringLiteral("Event upload not available: AUTOEVENT"));
    } else if (e.event_type == QLatin1String("EXECUTEF")) {
        rt_.log.admem(QLatin1String("Executing: ") + logText(e.event_name));
        if (open)
            open(e.event_name);
    }
}

void PcEvents::local_events() {
    const QDateTime now = rt_.clock.now();
    const QDateTime minute(now.date(), QTime(now.time().hour(), now.time().minute()));
    // Each minute runs once: not again when the timer fires twice in it, nor when the clock is
    // set back over minutes that have run.
    if (lastMinute_.isValid() && minute <= lastMinute_)
        return;
    lastMinute_ = minute;
    // The time goes out unless a controller is being programmed (its blocks' echo reference
    // must not be replaced).
    if (!rt_.flags.uploading) {
        if (serialOpen && serialOpen() && !rt_.flags.offline)
            commands_.set_time_all_devs();
        if (port_.flags.tcpgatewayenabled)
            commands_.set_time_all_devs();
    }
    for (int i = 0; i < PCEventsCount && i < static_cast<int>(pc_events.size()); ++i) {
        if (due(pc_events[static_cast<std::size_t>(i)], now))
            run(pc_events[static_cast<std::size_t>(i)]);
    }
}

}  // namespace velmar
