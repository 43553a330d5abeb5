// The Matroska values that become tags as they are: the DateUTC of a segment's Info as an ISO 8601 time. The
// Matroska code (src/mkv) reads the elements; this is what the other tag readers share with it.
#pragma once

#include <cstdint>
#include <string>

namespace md {

// "2024-05-01T10:20:30Z" for DateUTC (nanoseconds since 2001-01-01T00:00:00 UTC, rounded down to the second);
// empty before 1904.
std::string Iso8601FromMatroskaDate(int64_t nanoseconds);

}  // namespace md
