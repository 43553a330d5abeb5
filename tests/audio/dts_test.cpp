// DTS files built frame by frame in each word form: the run of core frames, DTS-HD substreams after a core, the
// record and the duration, and bad input.
#include "audio/dts.h"

#include <gtest/gtest.h>

#include "es/audio_headers.h"
#include "input/memory_input_stream.h"
#include "support/bit_writer.h"
#include "support/stream_builders.h"

namespace {

using md::DtsWordForm;
using md::MemoryInputStream;
using mdtest::Append;
using mdtest::ByteVec;

// A DTS core frame of fsize + 1 bytes in the 16-bit big-endian form (ETSI TS 102 114 5.3.1): 48 kHz, 768 kbit/s,
// (nblks + 1) x 32 samples, then zero bytes.
ByteVec CoreFrame(uint32_t nblks, uint32_t fsize, uint32_t amode, uint32_t lff)
{
    mdtest::BitWriter w;
    w.Put(0x7FFE8001, 32), w.Put(1, 1), w.Put(31, 5), w.Put(0, 1), w.Put(nblks, 7), w.Put(fsize, 14);
    w.Put(amode, 6), w.Put(13, 4), w.Put(15, 5), w.Put(0, 10), w.Put(lff, 2), w.Put(0, 1);
    ByteVec f = w.Take();
    f.resize(fsize + 1);
    return f;
}

// A frame in another word form: 16-bit words byte-swapped, or 14 bits a word with bit 13 copied into the top two
// (the last word filled with zero bits).
ByteVec InForm(const ByteVec& be16, DtsWordForm form)
{
    ByteVec out;
    if (form == DtsWordForm::Be16)
        return be16;
    if (form == DtsWordForm::Le16) {
        for (size_t i = 0; i + 1 < be16.size(); i += 2)
            out.push_back(be16[i + 1]), out.push_back(be16[i]);
        return out;
    }
    for (size_t bit = 0; bit < be16.size() * 8; bit += 14) {
        uint32_t v = 0;
        for (size_t k = bit; k < bit + 14; ++k)
            v = v << 1 | (k < be16.size() * 8 ? be16[k / 8] >> (7 - k % 8) & 1 : 0);
        const uint16_t word = uint16_t(v | (v & 0x2000 ? 0xC000 : 0));
        if (form == DtsWordForm::Be14)
            out.push_back(uint8_t(word >> 8)), out.push_back(uint8_t(word));
        else
            out.push_back(uint8_t(word)), out.push_back(uint8_t(word >> 8));
    }
    return out;
}

// A DTS-HD extension substream of `bytes` bytes: SYNCEXTSSH, 8-bit header size, 16-bit frame size.
ByteVec Substream(uint32_t bytes)
{
    mdtest::BitWriter w;
    w.Put(0x64582025, 32), w.Put(0, 8), w.Put(0, 2), w.Put(0, 1), w.Put(15, 8), w.Put(bytes - 1, 16);
    ByteVec s = w.Take();
    s.resize(bytes);
    return s;
}

ByteVec Repeat(const ByteVec& unit, int times)
{
    ByteVec out;
    for (int i = 0; i < times; ++i)
        Append(out, unit);
    return out;
}

ByteVec Cut(ByteVec b, size_t size) { return b.resize(size), b; }

struct Result {
    bool probed = false;
    uint32_t parsed = 0, codec = 0, channels = 0, mask = 0, flags = 0, bytesPerSecond = 0;
    int64_t duration = -1;
    auto Tie() const { return std::tuple(probed, parsed, codec, channels, mask, flags, bytesPerSecond, duration); }
};

Result Open(const ByteVec& file)
{
    MemoryInputStream in(file.data(), file.size());
    Result r;
    r.probed = md::ProbeDts({.head = md::Bytes(file), .headOffset = 0, .fileSize = file.size(), .stream = &in});
    md::DtsDemux demux;
    md::StreamList streams;
    r.parsed = demux.Parse(&in, &streams);
    if (const md::StreamRecord* s = streams.At(0)) {
        r.codec = uint32_t(s->codec), r.channels = s->audio.channels, r.mask = s->audio.channelMask;
        r.flags = s->audio.codecSpecific[0], r.bytesPerSecond = s->audio.bytesPerSecond;
    }
    r.duration = demux.Times().range.audioEndTime;
    return r;
}

constexpr uint32_t kDts = uint32_t(md::StreamCodec::Dts), kDtsHd = uint32_t(md::StreamCodec::TsAudioDtsHd);
// 100-ns units of samples at 48 kHz, whole units.
constexpr int64_t Units(int64_t samples) { return samples * 10000000 / 48000; }
const Result kNone{};

TEST(DtsFile, WordFormsSubstreamsAndBadInput)
{
    // 3/2 (AMODE 9) + LFE, 512 samples in 1024 bytes: 96000 bytes a second.
    const ByteVec core = CoreFrame(15, 1023, 9, 1);
    const ByteVec hd = Repeat(mdtest::Concat({core, Substream(1000)}), 5);
    ByteVec mixedForms = Repeat(core, 2);
    Append(mixedForms, Repeat(InForm(core, DtsWordForm::Le16), 3));
    struct Row {
        const char* what;
        ByteVec file;
        Result expected;
    } rows[] = {
        {"16-bit big-endian", Repeat(core, 5), {true, 1, kDts, 6, 0x3F, 0, 96000, Units(5 * 512)}},
        {"16-bit little-endian",
         Repeat(InForm(core, DtsWordForm::Le16), 5),
         {true, 1, kDts, 6, 0x3F, md::kDtsReversedSync, 96000, Units(5 * 512)}},
        // 1024 bytes of 14-bit words take 586 words: 1172 bytes a frame.
        {"14-bit big-endian",
         Repeat(InForm(core, DtsWordForm::Be14), 5),
         {true, 1, kDts, 6, 0x3F, 0, 1172 * 48000 / 512, Units(5 * 512)}},
        {"14-bit little-endian",
         Repeat(InForm(core, DtsWordForm::Le14), 5),
         {true, 1, kDts, 6, 0x3F, md::kDtsReversedSync, 1172 * 48000 / 512, Units(5 * 512)}},
        {"zero bytes before the first frame",
         mdtest::Concat({ByteVec(300), Repeat(core, 5)}),
         {true, 1, kDts, 6, 0x3F, 0, 96000, Units(5 * 512)}},
        {"stereo without LFE, 256 samples",
         Repeat(CoreFrame(7, 511, 2, 0), 6),
         {true, 1, kDts, 2, 0x3, 0, 96000, Units(6 * 256)}},
        {"a core with DTS-HD substreams: named DTS-HD",
         hd,
         {true, 1, kDtsHd, 6, 0x3F, 0, 2024 * 48000 / 512, Units(5 * 512)}},
        {"a last frame cut short: the whole frames",
         Cut(Repeat(core, 3), 2500),
         {true, 1, kDts, 6, 0x3F, 0, 96000, Units(2 * 512)}},
        {"one frame alone is too little", core, kNone},
        {"FSIZE below its minimum of 95", Repeat(CoreFrame(15, 94, 9, 1), 12), kNone},
        {"a header repeated at the wrong spacing", Repeat(Cut(core, 700), 8), kNone},
        {"the word form changing inside the run", mixedForms, kNone},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Open(row.file).Tie(), row.expected.Tie()) << row.what;

    // The 32-bit reversed sync 01 80 FE 7F, which some streams carry, is not a word form of a file.
    ByteVec reversed = Repeat(core, 5);
    for (size_t i = 0; i < reversed.size(); i += 1024)
        reversed[i] = 0x01, reversed[i + 1] = 0x80, reversed[i + 2] = 0xFE, reversed[i + 3] = 0x7F;
    EXPECT_EQ(Open(reversed).Tie(), kNone.Tie());
}

}  // namespace
