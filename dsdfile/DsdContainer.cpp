#include "dsdfile/DsdContainer.h"

bool BytePositionOfTime(double milliseconds, uint32_t bytesPerSecond, uint32_t alignment, double limit,
                        int64_t& position) {
    const double exact = static_cast<double>(bytesPerSecond) * milliseconds / 1000.0 + 0.5;
    if (!(exact > 0.0)) {  // negative times and NaN go to the start
        position = 0;
        return true;
    }
    if (exact >= limit) return false;
    position = static_cast<int64_t>(exact);
    if (alignment > 1) position -= position % alignment;
    return true;
}
