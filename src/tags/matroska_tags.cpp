#include "tags/matroska_tags.h"

#include "tags/mp4_tags.h"

namespace md {

std::string Iso8601FromMatroskaDate(int64_t nanoseconds)
{
    constexpr int64_t k1904To2001 = 3061152000;  // seconds: 97 years, 24 of them leap years
    constexpr int64_t kNanoseconds = 1000000000;
    // Whole seconds, rounded down (before 2001 too).
    const int64_t seconds = nanoseconds / kNanoseconds - (nanoseconds % kNanoseconds < 0 ? 1 : 0);
    if (seconds < -k1904To2001)
        return {};
    return Iso8601From1904(uint64_t(seconds + k1904To2001));
}

}  // namespace md
