// An input stream that keeps the bytes it has read from another stream, so that
// a reader coming back to a part of the file gets that part from memory and the
// underlying stream is read once for each byte: the Matroska element walk and
// the frame searches of one open read some parts of the file in turn. Everything
// read is kept until the reader names the ranges that will be read again; bytes
// read once the kept bytes reach the limit are handed out but not kept.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "input/input_stream.h"

namespace md {

class KeptInput : public ZPMP::InputStream {
public:
    struct Range {
        uint64_t begin;
        uint64_t end;
    };

    KeptInput(ZPMP::InputStream& input, uint64_t limit) : m_input(input), m_limit(limit) {}
    KeptInput(const KeptInput&) = delete;
    KeptInput& operator=(const KeptInput&) = delete;

    // Takes what it can from kept runs and reads the gaps between them from the
    // underlying stream, one read per gap; a short read there ends the count. The
    // end of the file, once a read there came back empty, is not read again.
    uint64_t Read(void* buffer, uint32_t count) override;
    // Only records the position. A position that is negative as a signed value is
    // passed on, and the reads up to the next seek go straight to the underlying
    // stream, which then reads on from where it was, as it would without this one.
    int32_t Seek(uint64_t position) override;
    uint64_t Size() override { return m_input.Size(); }
    void GetPath(std::string& path) override { m_input.GetPath(path); }

    // From now on only bytes inside these ranges are kept (those kept so far stay).
    void KeepOnly(std::vector<Range> ranges);

private:
    void Keep(uint64_t position, const uint8_t* bytes, uint32_t count);

    ZPMP::InputStream& m_input;
    uint64_t m_limit;
    uint64_t m_kept = 0;
    uint64_t m_position = 0;
    uint64_t m_end = UINT64_MAX;  // where a read of the underlying stream came back empty
    bool m_direct = false;
    std::map<uint64_t, std::vector<uint8_t>> m_runs;  // disjoint runs of file bytes by their offset
    bool m_keepAll = true;
    std::vector<Range> m_ranges;  // disjoint, in file order: what is kept when not everything is
};

}  // namespace md
