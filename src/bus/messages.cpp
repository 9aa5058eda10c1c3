#include "bus/messages.h"

#include "log/runtime.h"

namespace velmar {

SenderInfo MessageDispatcher::sender(DeviceAddress a) const {
    if (senderLookup_)
        return senderLookup_(a);
    return {QStringLiteral("(%1,%2)").arg(a.adrh).arg(a.adrl), QStringLiteral("all"), false};
}

void MessageDispatcher::unhandled(const char* kind, const QByteArray& bytes) const {
    if (rt_.flags.debugtimer) {
        rt_.log.admem(QLatin1String(kind) + QLatin1String(" received: ") +
                      QString::fromLatin1(bytes.left(16).toHex(' ')));
    }
}

}  // namespace velmar
