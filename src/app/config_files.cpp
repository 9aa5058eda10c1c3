#include "app/config_files.h"

#include <QFileInfo>

#include "base/chkint.h"
#include "base/names.h"
#include "base/text_file.h"
#include "log/event_log.h"

namespace velmar {

QStringList autoqueryDefaultLines() {
    const TimingSettings d = TimingSettings::builtIn();
    return {
        QStringLiteral(";Altering this file may affect performance of whole system. In case of "
                       "problems delete this file, it will be recreated with default values. All "
                       "Times in mSec."),
        QString::number(d.QUERY_DEV),
        QStringLiteral(";Querying devices interval"),
        QString::number(d.EMAIL_RUN),
        QStringLiteral(";Querying events in email directory interval"),
        QString::number(d.WAIT_FOR_RESET_DEV),
        QStringLiteral(";Waiting after sending reset command to device"),
        QString::number(d.TEMP_QUERY_DEV),
        QStringLiteral(";Waiting for query devices"),
        QString::number(d.AFTER_CONFIRMATION),
        QStringLiteral(";Waiting for Confirmation from devices"),
        QString::number(d.AFTER_RECEPTION),
        QStringLiteral(";Waiting for reception from OL,TL,QL"),
        QString::number(d.TRANSLATE_EVENT_TO_DIRECT),
        QStringLiteral(";Translating event to direct interval"),
        QString::number(d.SECU_RECEPTION),
        QStringLiteral(";Delaying after security command reception"),
        QString::number(d.OTHER_RECEPTION),
        QStringLiteral(";Delaying after reception of data"),
        QString::number(d.AFTER_ALARM_RECEPTION),
        QStringLiteral(";Delaying after reception of Alarm data"),
    };
}

TimingSettings parseAutoquery(const QStringList& lines, QStringList* notes) {
    auto value = [&lines, notes](int lineNumber) {
        const QString text = lineNumber - 1 < lines.size() ? lines[lineNumber - 1] : QString();
        const auto v = parseInt32(text);
        if (v && *v >= 1 && *v <= 10000)
            return *v;
        if (notes) {
            notes->append(configFallbackText(QStringLiteral("autoquery.cfg"), lineNumber, text,
                                             QStringLiteral("1200")));
        }
        return 1200;
    };
    TimingSettings t;
    t.QUERY_DEV = value(2);
    t.EMAIL_RUN = value(4);
    t.WAIT_FOR_RESET_DEV = value(6);
    t.TEMP_QUERY_DEV = value(8);
    t.AFTER_CONFIRMATION = value(10);
    t.AFTER_RECEPTION = value(12);
    t.TRANSLATE_EVENT_TO_DIRECT = value(14);
    t.SECU_RECEPTION = value(16);
    t.OTHER_RECEPTION = value(18);
    t.AFTER_ALARM_RECEPTION = value(20);
    return t;
}

bool writeDefaultFile(const DataRoot& root, EventLog& log, const QString& name,
                      const QStringList& lines) {
    const QString file = root.path(name);
    if (QFileInfo::exists(file))
        return true;
    QString error;
    if (!writeLinesAtomic(file, lines, &error)) {
        log.admem(QLatin1String("Error writing configuration file: ") + name +
                  QLatin1String(" -> ") + error);
        return false;
    }
    return true;
}

TimingSettings readOrCreateAutoquery(const DataRoot& root, EventLog& log) {
    const QString name = QStringLiteral("autoquery.cfg");
    if (!root.exists(name)) {
        writeDefaultFile(root, log, name, autoqueryDefaultLines());
        return TimingSettings::builtIn();
    }
    const auto lines = readLines(root.path(name));
    if (!lines) {
        log.admem(QLatin1String("Error reading configuration file: ") + name);
        return TimingSettings::builtIn();
    }
    QStringList notes;
    const TimingSettings t = parseAutoquery(*lines, &notes);
    for (const QString& note : notes)
        log.admem(note);
    return t;
}

void readOrCreateCharset(const DataRoot& root, EventLog& log, Settings& settings) {
    const QString name = QStringLiteral("charset.cfg");
    if (!root.exists(name)) {
        writeDefaultFile(root, log, name, {QStringLiteral("windows-1250"), QStringLiteral("PL")});
    }
    const auto lines = readLines(root.path(name));
    if (!lines) {
        log.admem(QLatin1String("Error reading configuration file: ") + name);
        return;  // the defaults stand
    }
    settings.charset = lines->value(0);
    settings.language = lines->value(1);
}

LogsizeConfig readOrCreateLogsize(const DataRoot& root, EventLog& log) {
    const QString name = QStringLiteral("logsize.cfg");
    LogsizeConfig config;
    if (!root.exists(name)) {
        writeDefaultFile(root, log, name, {QStringLiteral("100000")});
        return config;
    }
    const auto lines = readLines(root.path(name));
    if (!lines) {
        log.admem(QLatin1String("Error reading configuration file: ") + name +
                  QLatin1String(", using 100000"));
        return config;
    }
    const QString text = lines->value(0);
    if (const auto v = parseInt32(text); v && *v >= 0 && *v <= 1000000)
        config.logsize = *v;
    else
        log.admem(configFallbackText(name, 1, text, QString::number(config.logsize)));
    if (lines->size() < 2 || lines->at(1).trimmed().isEmpty())
        return config;
    const QString limit = lines->at(1);
    if (const auto v = parseInt64(limit); v && *v >= 0)
        config.backupLogs = *v;
    else
        log.admem(configFallbackText(name, 2, limit, QString::number(config.backupLogs)));
    return config;
}

QStringList readRecipients(const DataRoot& root, const QString& name) {
    const auto lines = readLines(root.path(name));
    return lines ? *lines : QStringList();
}

TcpEventLauncher readOrCreateTcpEventCfg(const DataRoot& root, EventLog& log) {
    const QString name = QStringLiteral("bin\\tcpevent.cfg");
    root.makeDir(QStringLiteral("bin"));
    if (!root.exists(name)) {
        writeDefaultFile(root, log, name,
                         {QStringLiteral("PushEvent.exe"), QStringLiteral("/EventsOnly")});
    }
    const auto lines = readLines(root.path(name));
    if (!lines)
        log.admem(QLatin1String("Error reading configuration file: ") + name);
    const QString bin = root.path(QStringLiteral("bin")) + QLatin1Char('/');
    TcpEventLauncher launcher;
    const QString program = lines ? lines->value(0) : QString();
    // The program must lie in "bin": a name with a path in it is refused.
    if (isValidName(program)) {
        launcher.program = bin + program;
    } else if (lines) {
        log.admem(QLatin1String("Error in configuration file: ") + name +
                  QLatin1String(" -> invalid program name \"") + program + QLatin1Char('"'));
    }
    launcher.workingDirectory = bin;
    launcher.parameters = lines ? lines->value(1) : QString();
    return launcher;
}

}  // namespace velmar
