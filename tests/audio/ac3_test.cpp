// AC-3 and E-AC-3 files built frame by frame: the run of syncframes the probe asks for, the record of the program
// (E-AC-3 dependent substreams and their channel maps), the duration counted or extrapolated, and bad input.
#include "audio/ac3.h"

#include <gtest/gtest.h>

#include "audio/id3.h"
#include "input/memory_input_stream.h"
#include "support/bit_writer.h"
#include "support/stream_builders.h"

namespace {

using md::MemoryInputStream;
using mdtest::Append;
using mdtest::ByteVec;

// An AC-3 syncframe of `bytes` bytes (A/52 5.3): syncinfo, then bsi up to lfeon (the mix levels acmod asks for),
// then zero bytes.
ByteVec Ac3Frame(uint32_t fscod, uint32_t frmsizecod, uint32_t acmod, bool lfeon, size_t bytes)
{
    mdtest::BitWriter w;
    w.Put(0x0B77, 16), w.Put(0, 16), w.Put(fscod, 2), w.Put(frmsizecod, 6), w.Put(8, 5), w.Put(0, 3), w.Put(acmod, 3);
    if ((acmod & 1) && acmod != 1)
        w.Put(0, 2);  // cmixlev
    if (acmod & 4)
        w.Put(0, 2);  // surmixlev
    if (acmod == 2)
        w.Put(0, 2);  // dsurmod
    w.Put(lfeon, 1);
    ByteVec f = w.Take();
    f.resize(bytes);
    return f;
}

// An E-AC-3 syncframe of `bytes` bytes (A/52 E.1.2): six blocks at 48 kHz; a dependent one may carry a chanmap.
ByteVec Eac3Frame(uint32_t strmtyp, uint32_t substreamid, uint32_t acmod, bool lfeon, size_t bytes,
                  uint32_t chanmap = 0)
{
    mdtest::BitWriter w;
    w.Put(0x0B77, 16), w.Put(strmtyp, 2), w.Put(substreamid, 3), w.Put(bytes / 2 - 1, 11), w.Put(0, 2), w.Put(3, 2);
    w.Put(acmod, 3), w.Put(lfeon, 1), w.Put(16, 5), w.Put(31, 5), w.Put(0, 1);  // bsid, dialnorm, compre
    if (acmod == 0)
        w.Put(31, 5), w.Put(0, 1);
    if (strmtyp == 1) {
        w.Put(chanmap != 0, 1);
        if (chanmap != 0)
            w.Put(chanmap, 16);
    }
    ByteVec f = w.Take();
    f.resize(bytes);
    return f;
}

ByteVec Repeat(const ByteVec& unit, int times)
{
    ByteVec out;
    for (int i = 0; i < times; ++i)
        Append(out, unit);
    return out;
}

ByteVec Swapped(ByteVec b)
{
    for (size_t i = 0; i + 1 < b.size(); i += 2)
        std::swap(b[i], b[i + 1]);
    return b;
}

ByteVec Cut(ByteVec b, size_t size) { return b.resize(size), b; }

struct Result {
    bool ac3 = false, eac3 = false;
    uint32_t parsed = 0, codec = 0, channels = 0, mask = 0, bsid = 0;
    int64_t duration = -1;
    bool estimated = false;
    auto Tie() const { return std::tuple(ac3, eac3, parsed, codec, channels, mask, bsid, duration, estimated); }
};

Result Open(const ByteVec& file)
{
    MemoryInputStream in(file.data(), file.size());
    const uint64_t tags = md::Id3v2TagsEnd(in);
    const md::ProbeInput probe{
        .head = md::Bytes(file).subspan(tags), .headOffset = tags, .fileSize = file.size(), .stream = &in};
    Result r;
    r.ac3 = md::ProbeAc3(probe), r.eac3 = md::ProbeEac3(probe);
    md::Ac3Demux demux;
    md::StreamList streams;
    r.parsed = demux.Parse(&in, &streams);
    if (const md::StreamRecord* s = streams.At(0)) {
        r.codec = uint32_t(s->codec), r.channels = s->audio.channels, r.mask = s->audio.channelMask;
        r.bsid = s->audio.codecSpecific[4];
    }
    r.duration = demux.Times().range.audioEndTime, r.estimated = demux.Times().estimated;
    return r;
}

constexpr uint32_t kAc3 = uint32_t(md::StreamCodec::Ac3), kEac3 = uint32_t(md::StreamCodec::Eac3);
const Result kNone{};  // not taken, not described, no duration
constexpr int64_t kFrame48k = 320000;  // 1536 samples at 48 kHz in 100-ns units

TEST(Ac3File, FrameRunsRecordsAndDurations)
{
    // 384 kbit/s at 48 kHz: frmsizecod 28, 768 words (A/52 Table 5.18). 3/2 + LFE.
    const ByteVec frame = Ac3Frame(0, 28, 7, true, 1536);
    ByteVec tagged = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 100};
    tagged.resize(110 + 64);  // the tag, then zero bytes before the first frame
    Append(tagged, Repeat(frame, 5));
    // 7.1: 3/2 + LFE in substream 0, and a dependent substream with Lrs/Rrs (chanmap location 6).
    const ByteVec sevenOne =
        Repeat(mdtest::Concat({Eac3Frame(0, 0, 7, true, 512), Eac3Frame(1, 0, 2, false, 256, 0x0200)}), 5);
    // Two programs: substream 1's independent frames add no time to substream 0's.
    const ByteVec twoPrograms =
        Repeat(mdtest::Concat({Eac3Frame(0, 0, 2, false, 384), Eac3Frame(0, 1, 1, false, 128)}), 4);
    // An AC-3 core whose dependent E-AC-3 substream adds Lrs/Rrs.
    const ByteVec coreAndDependent =
        Repeat(mdtest::Concat({Ac3Frame(0, 28, 7, true, 1536), Eac3Frame(1, 0, 2, false, 256, 0x0200)}), 3);
    // One header repeated every 1000 bytes where it states 1536.
    ByteVec wrongSpacing = Repeat(Cut(frame, 1000), 6);

    struct Row {
        const char* what;
        ByteVec file;
        Result expected;
    } rows[] = {
        {"five AC-3 frames", Repeat(frame, 5), {true, false, 1, kAc3, 6, 0, 8, 5 * kFrame48k, false}},
        {"byte-swapped words", Swapped(Repeat(frame, 5)), {true, false, 1, kAc3, 6, 0, 8, 5 * kFrame48k, false}},
        {"after ID3v2 tags and zero bytes", tagged, {true, false, 1, kAc3, 6, 0, 8, 5 * kFrame48k, false}},
        {"44.1 kHz, 128 kbit/s: 278 words",
         Repeat(Ac3Frame(1, 16, 2, false, 556), 4),
         {true, false, 1, kAc3, 2, 0, 8, 4 * 1536 * 10000000LL / 44100, false}},
        {"E-AC-3 7.1 from a dependent chanmap", sevenOne, {false, true, 1, kEac3, 8, 0x63F, 16, 5 * kFrame48k, false}},
        {"E-AC-3, two programs: substream 0 times",
         twoPrograms,
         {false, true, 1, kEac3, 2, 0, 16, 4 * kFrame48k, false}},
        {"AC-3 core and E-AC-3 dependent substream",
         coreAndDependent,
         {false, true, 1, kEac3, 8, 0x63F, 8, 3 * kFrame48k, false}},
        {"a last frame cut short: the whole frames",
         Cut(Repeat(frame, 3), 2 * 1536 + 700),
         {true, false, 1, kAc3, 6, 0, 8, 2 * kFrame48k, false}},
        {"one frame and the next header",
         Cut(Repeat(frame, 2), 1536 + 20),
         {true, false, 1, kAc3, 6, 0, 8, kFrame48k, false}},
        {"one frame alone is too little", Repeat(frame, 1), kNone},
        {"37 bytes of a frame", Cut(frame, 37), kNone},
        {"a header repeated at the wrong spacing", wrongSpacing, kNone},
        {"frmsizecod 38 is reserved", Repeat(Ac3Frame(0, 38, 7, true, 1536), 5), kNone},
        {"fscod 3 is reserved", Repeat(Ac3Frame(3, 28, 7, true, 1536), 5), kNone},
        {"bsid 10 is neither",
         [&] {
             ByteVec f = Repeat(frame, 5);
             for (size_t i = 0; i < f.size(); i += 1536)
                 f[i + 5] = 10 << 3;
             return f;
         }(),
         kNone},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Open(row.file).Tie(), row.expected.Tie()) << row.what;
}

TEST(Ac3File, ExtrapolatedPastTheSample)
{
    // 400 frames (600 KiB): 341 whole ones in the first 512 KiB, the rest at their mean size.
    const ByteVec file = Repeat(Ac3Frame(0, 28, 2, false, 1536), 400);
    const Result r = Open(file);
    EXPECT_EQ(std::tuple(r.parsed, r.duration, r.estimated), std::tuple(1u, 400 * kFrame48k, true));
}

}  // namespace
