#include "bus/com_config.h"

#include "base/chkint.h"
#include "base/text_file.h"
#include "log/event_log.h"

namespace velmar {

ComConfig readComConfig(const DataRoot& root, EventLog* log) {
    const QString name = QStringLiteral("com.cfg");
    ComConfig cfg;
    auto note = [log](const QString& text) {
        if (log)
            log->admem(text);
    };
    const auto lines = readLines(root.path(name));
    if (!lines) {
        note(QLatin1String("Error reading configuration file: ") + name +
             QLatin1String(" -> not found, opening ") + cfg.portName + QLatin1String(" (") +
             portDevicePath(cfg.portName) + QLatin1String(") at 115200 bit/s"));
        return cfg;
    }
    const QString port = lines->value(0).trimmed();
    if (port.isEmpty()) {
        note(configFallbackText(
            name, 1, lines->value(0),
            cfg.portName + QLatin1String(" (") + portDevicePath(cfg.portName) + QLatin1Char(')')));
    } else {
        cfg.portName = port;
    }
    const QString rate = lines->value(1);
    const auto v = parseInt32(rate);
    if (v && *v >= 1 && *v <= 100000000)
        cfg.baudRate = *v;
    else
        note(configFallbackText(name, 2, rate, QStringLiteral("115200")));
    return cfg;
}

bool writeComConfig(const DataRoot& root, const ComConfig& config, QString* error) {
    return writeLinesAtomic(root.path(QStringLiteral("com.cfg")),
                            {config.portName, QString::number(config.baudRate)}, error);
}

QString portDevicePath(const QString& portName) {
    QString name = portName.trimmed();
    if (name.startsWith(QLatin1String("\\\\.\\")))
        name = name.mid(4);
    if (name.startsWith(QLatin1Char('/')))
        return name;
    if (name.startsWith(QLatin1String("com"), Qt::CaseInsensitive)) {
        const auto n = parseInt32(name.mid(3));
        if (n && *n >= 1)
            return QStringLiteral("/dev/ttyS") + QString::number(*n - 1);
    }
    return QStringLiteral("/dev/") + name;
}

}  // namespace velmar
