// Builds the time table of a program stream through the detector's
// ITimeTableInfo, waits for the worker's callback and reads the stored table
// back from the time-index store.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "mediadetect/mediadetect.h"

namespace md::tool {

struct TimeTable {
    std::string error;  // empty when the table was built and read
    // (presentation time in 100-ns units from the first video picture, byte
    // position of the pack holding it), in time order.
    std::vector<std::pair<int64_t, int64_t>> entries;
};

TimeTable BuildTimeTable(IMediaDetect5& detector, const std::string& file);

// Whether BuildTimeTable keeps a progress line ("... 42%") on standard error while
// the walk runs, cleared at the end; for a terminal. Off until set.
void ShowTimeTableProgress(bool show);

}  // namespace md::tool
