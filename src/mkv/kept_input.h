// An input stream that keeps the bytes it has read from another stream, so that
// a reader coming back to a part of the file gets that part from memory. The
// frame searches of one Matroska open start at the same clusters (both tracks'
// end searches read from the last cue to the end of the file, both tracks' bit
// rates sample the same cue points) and the element walk reads parts they read
// too; through this stream each byte of the file is read from the underlying
// stream once. Bytes read after the limit of kept bytes is reached are handed
// out but not kept.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "input/input_stream.h"

namespace md {

class KeptInput : public ZPMP::InputStream {
public:
    KeptInput(ZPMP::InputStream& input, uint64_t limit) : m_input(input), m_limit(limit) {}
    KeptInput(const KeptInput&) = delete;
    KeptInput& operator=(const KeptInput&) = delete;

    // Fills the whole count from kept runs and from the underlying stream, which is
    // read only for the gaps between kept runs; fewer bytes only at its end, which
    // is not read for again.
    uint64_t Read(void* buffer, uint32_t count) override;
    // Only records the position. A position that is negative as a signed value is
    // passed on, and the reads up to the next seek go straight to the underlying
    // stream, which then reads on from where it was, as it would without this one.
    int32_t Seek(uint64_t position) override;
    uint64_t Size() override { return m_input.Size(); }
    void GetPath(std::string& path) override { m_input.GetPath(path); }

private:
    void Keep(uint64_t position, const uint8_t* bytes, uint32_t count);

    ZPMP::InputStream& m_input;
    uint64_t m_limit;
    uint64_t m_kept = 0;
    uint64_t m_position = 0;
    uint64_t m_end = UINT64_MAX;  // where a read of the underlying stream came up short
    bool m_direct = false;
    std::map<uint64_t, std::vector<uint8_t>> m_runs;  // disjoint runs of file bytes by their offset
};

}  // namespace md
