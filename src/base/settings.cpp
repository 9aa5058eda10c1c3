#include "base/settings.h"

namespace velmar {

TimingSettings TimingSettings::adminSet() {
    TimingSettings t;
    t.QUERY_DEV = 2000;
    t.EMAIL_RUN = 1000;
    t.WAIT_FOR_RESET_DEV = 15000;
    t.TEMP_QUERY_DEV = 4500;
    t.AFTER_CONFIRMATION = 100;
    t.AFTER_RECEPTION = 100;
    t.TRANSLATE_EVENT_TO_DIRECT = 200;
    t.SECU_RECEPTION = 500;
    t.OTHER_RECEPTION = 500;
    t.AFTER_ALARM_RECEPTION = 3000;
    return t;
}

}  // namespace velmar
