// mediadetect seek: the byte offset from which to play a program stream to show
// a given time, read from the file's stored time table (built first when none
// is stored).
#pragma once

#include <string>

namespace md::tool {

struct SeekRequest {
    std::string file;
    std::string seconds;  // as typed; RunSeek checks it
    bool json = false;
};

// Prints the offset (text, or one JSON object {file, seconds, timeSeconds,
// offset}) and returns the exit status: 0, or 2 with the reason on standard
// error. The detector module at modulePath is loaded only to build a table.
int RunSeek(const SeekRequest& request, const std::string& modulePath);

}  // namespace md::tool
