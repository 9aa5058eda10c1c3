#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace velmar {

// Windows-1250 text, the code page of every text file the system exchanges. The five byte
// values the code page leaves undefined (0x81, 0x83, 0x88, 0x90, 0x98) map to the C1 control
// characters of the same value, so any byte sequence survives a decode/encode round trip.
QString fromCp1250(QByteArrayView bytes);
// Characters outside the code page become '?'.
QByteArray toCp1250(QStringView text);

}  // namespace velmar
