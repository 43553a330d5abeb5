// The container families beyond MPEG, MP4 and Matroska, one row each: the kind, the extension bit that turns it on,
// its name, its probe test and its demultiplexer. The probe runs the tests and the detector makes the
// demultiplexers through this table alone, as libavformat's list of input formats serves its probe and its readers.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "demux/file_demux.h"

namespace md {

// When the probe runs a family's test.
enum class ProbePhase {
    Signature,  // before the base tests: a signature at the start of the file that no base kind can start with
    Sync,       // after every base test declined: frames found by a sync search
};

struct ContainerFamily {
    MediaKind kind;
    uint32_t extension;  // the MD_EXT_* bit that turns the family on
    const char* name;    // the kind's name, as the tool prints it
    ProbePhase phase;
    bool afterTags;      // the family's files may open with ID3v2 tags: the test sees what follows them
    bool (*probe)(const ProbeInput& input);
    std::unique_ptr<FileDemux> (*make)();
};

// Every family, in the order the probe tries them (the order is the tie-break within a phase).
std::span<const ContainerFamily> ContainerFamilies();

// The family of a kind, or null for the base kinds and those of the other extensions.
const ContainerFamily* FamilyOf(uint32_t kind);

// The extension bits of every family.
uint32_t FamilyExtensions();

}  // namespace md
