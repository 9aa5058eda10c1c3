#pragma once

#include <QString>

namespace velmar {

// Text that came from outside (a file, the bus, a TCP client) as it may go into a log line: cut
// at `max` characters with "..." after the cut, and every control character (C0, DEL, C1) shown as
// "\xNN", so that a hostile request can neither flood the log nor break its lines.
QString logText(const QString& text, int max = 200);
QString logText(const QByteArray& bytes, int max = 200);

}  // namespace velmar
