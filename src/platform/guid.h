// The registry text form of a GUID: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "mediadetect/com.h"

// Writes the 38-character braced upper-case form and its terminator into out;
// returns the characters written including the terminator, or 0 when max < 39.
int StringFromGUID2(const GUID& guid, wchar_t* out, int max);

namespace md {
std::string GuidToString(const GUID& guid);
// Parses the braced form (either case); nullopt when malformed.
std::optional<GUID> GuidFromString(std::string_view text);
}  // namespace md
