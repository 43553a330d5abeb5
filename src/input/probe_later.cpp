#include "input/probe.h"

// The Matroska test is not wired in yet.
int32_t ProbeMatroska(ZPMP::InputStream&) noexcept { return 0; }
