#include "events/rotation.h"

namespace velmar {

int firstRoomIndex(int quartelMax, int externIndex, bool disableExtern) {
    if (!disableExtern && externIndex == 0 && quartelMax > 1)
        return 1;
    return 0;
}

}  // namespace velmar
