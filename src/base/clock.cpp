#include "base/clock.h"

#include <chrono>

namespace velmar {

QDateTime SystemClock::now() const {
    return QDateTime::currentDateTime();
}

std::int64_t SystemClock::monotonicMs() const {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QString dateTimeText(const QDateTime& t) {
    return t.toString(QLatin1String(kDateTimeFormat));
}

}  // namespace velmar
