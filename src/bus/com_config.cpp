#include "bus/com_config.h"

#include "base/chkint.h"
#include "base/text_file.h"

namespace velmar {

ComConfig readComConfig(const DataRoot& root) {
    ComConfig cfg;
    const auto lines = readLines(root.path(QStringLiteral("com.cfg")));
    if (!lines)
        return cfg;
    cfg.portName = lines->value(0).trimmed();
    cfg.baudRate = chkint(lines->value(1), 1, 100000000, 115200);
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
