// MXF files (SMPTE ST 377-1): a header partition pack within the first 64 KiB (a run-in may come before it), the
// header metadata after it, the essence in the body, an index table in the footer partition. The streams and the
// duration come from the header metadata; the first picture of MPEG-2 video gives its field order and headers; an
// index table gives the duration where the material package states none.
#pragma once

#include "demux/file_demux.h"

namespace md {

// A header partition pack key (any status) within the first 64 KiB of the head.
bool ProbeMxf(const ProbeInput& input);

class MxfDemux final : public FileDemux {
public:
    // One record per picture and sound track of the file packages that has an essence descriptor (stream ids:
    // their TrackIDs). The header metadata is read whole up to 4 MiB (512 KiB when its size is not stated); the
    // duration is the material package's, else the index table's (segments after the header metadata, else those
    // in the last 64 KiB). 1 for an MXF file, even one whose header metadata describes nothing.
    uint32_t Parse(ZPMP::InputStream* input, StreamList* streams) override;

    // The operational pattern after Parse ("OP1a", "OP-Atom", ...): the header partition's, else the Preface's;
    // empty when neither names one.
    const char* Pattern() const { return m_pattern; }

private:
    char m_pattern[16] = {};
};

}  // namespace md
