// MPEG audio files built frame by frame; the conformance table has the CBR, Xing, Info, VBRI, MPEG-2 and tagged
// files. A Layer III frame at 48 kHz is 144 x rate / 48000 = 3 x kbit/s bytes (ISO/IEC 11172-3 2.4.3.1).
#include "audio/mp3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

#include "support/audio_files.h"
#include "support/tag_bytes.h"

namespace {

using mdtest::ByteVec;
using mdtest::Concat;
using mdtest::Repeat;

// A frame: its four header bytes, then 0x55 (no sync) to its length.
ByteVec Frame(uint8_t b1, uint8_t b2, uint8_t b3, size_t bytes)
{
    ByteVec f = {0xFF, b1, b2, b3};
    f.resize(bytes, 0x55);
    return f;
}

// MPEG-1 Layer III at 48 kHz, bitrate_index i (5: 64, 9: 128, 14: 320 kbit/s), stereo or mono.
ByteVec L3At48k(int index, int kbps, bool mono = false)
{
    return Frame(0xFB, uint8_t(index << 4 | 0x04), mono ? 0xC0 : 0x00, size_t(3 * kbps));
}

// v as four big-endian bytes over b from at on.
void PutBe32(ByteVec& b, size_t at, uint32_t v) { std::ranges::copy(mdtest::Be(v, 4), b.begin() + ptrdiff_t(at)); }

// A stereo frame with a Xing or Info header after its 32 bytes of side information (and the CRC where asked for),
// flags 1 (frames) and 2 (bytes) as given; or with a VBRI header 32 bytes after the frame header: version 1, delay,
// quality, bytes, frames.
ByteVec XingFrame(const char* id, std::optional<uint32_t> frames, std::optional<uint32_t> bytes, int index = 9,
                  int kbps = 128, bool crc = false)
{
    ByteVec f = L3At48k(index, kbps);
    const size_t at = crc ? 38 : 36;
    f[1] = crc ? 0xFA : 0xFB;  // protection_bit 0: a CRC follows the header
    std::memcpy(&f[at], id, 4);
    PutBe32(f, at + 4, (frames ? 1 : 0) | (bytes ? 2 : 0));
    if (frames)
        PutBe32(f, at + 8, *frames);
    if (bytes)
        PutBe32(f, at + (frames ? 12 : 8), *bytes);
    return f;
}

ByteVec VbriFrame(uint32_t bytes, uint32_t frames)
{
    ByteVec f = L3At48k(9, 128);
    std::memcpy(&f[36], "VBRI", 4);
    f[41] = 1;
    PutBe32(f, 46, bytes), PutBe32(f, 50, frames);
    return f;
}

ByteVec Text(std::string_view s) { return ByteVec(s.begin(), s.end()); }

// The tags that may follow the audio: APEv2 (with its header), Lyrics3 v2, ID3v1.
ByteVec EndTags()
{
    ByteVec ape;
    for (const bool footer : {false, true}) {
        mdtest::Append(ape, ByteVec{'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X', 0xD0, 0x07, 0, 0, 52, 0, 0, 0, 1, 0, 0, 0,
                                    0, 0, 0, uint8_t(footer ? 0x80 : 0xA0), 0, 0, 0, 0, 0, 0, 0, 0});
        if (!footer)
            mdtest::Append(ape, ByteVec(20, 'a'));  // one item
    }
    ByteVec id3v1 = {'T', 'A', 'G'};
    id3v1.resize(128, ' ');
    // Lyrics3 v2: 21 bytes from LYRICSBEGIN on, then the size and the mark.
    return Concat({ape, Text("LYRICSBEGININD0000210000021LYRICS200"), id3v1});
}

TEST(Mp3, FramesTagsAndDuration)
{
    const ByteVec f128 = L3At48k(9, 128), f64 = L3At48k(5, 64);
    const ByteVec cbr = Repeat(f128, 10);  // 3840 bytes: 0.24 s at 128 kbit/s
    ByteVec fifty = Repeat(f128, 50);      // 19200 bytes; the 1 KiB block of the 50th frame ends at 19456
    mdtest::Append(fifty, Repeat(L3At48k(14, 320), 3));
    const ByteVec tagPastEnd = {'I', 'D', '3', 3, 0, 0, 0, 0x06, 0x0D, 0x20};  // 100000 bytes
    const mdtest::FileRow rows[] = {
        {"APEv2, Lyrics3 v2 and ID3v1 at the end are not audio", Concat({cbr, EndTags()}),
         "mpeg1 2ch 48000Hz align 384 16000B/s w0 2 t~2400000"},
        // 128, 64, 64: 128000, then 96000, then 96000 + (64000 - 96000) / 3 truncated = 85334; 768 x 8 / 85334 s.
        {"a running mean, truncated", Concat({f128, f64, f64}), "mpeg1 2ch 48000Hz 10666B/s w0 2 t~719994"},
        // The 51st frame (320 kbit/s) starts in the block of the 50th: 128000 + 192000 / 51 = 131764.
        {"50 frames and the rest of their block", fifty, "mpeg1 2ch 48000Hz 16470B/s w0 2 t~13405786"},
        // 100 x 1152 / 48000 = 2.4 s, though only five frames follow (a file cut short); 40000 x 8 / 2.4 s.
        {"Xing frames and bytes, after a CRC", Concat({XingFrame("Xing", 100, 40000, 9, 128, true), Repeat(f128, 5)}),
         "mpeg1 2ch 48000Hz 16666B/s w0 2 t=24000000"},
        // No count, or one too many for the file: the estimate from the frames after the Xing frame (6 x 384 B).
        {"Xing bytes alone: no count", Concat({XingFrame("Xing", {}, 20), Repeat(f128, 5)}),
         "mpeg1 2ch 48000Hz align 384 16000B/s w0 2 t~1440000"},
        {"Xing frame count 2^32 - 1", Concat({XingFrame("Xing", 0xFFFFFFFF, {}), Repeat(f128, 5)}),
         "mpeg1 2ch 48000Hz align 384 16000B/s w0 2 t~1440000"},
        // An implausible byte count is left out: 20 frames (0.48 s) against the file's 2304 bytes.
        {"Xing bytes 2^32 - 1", Concat({XingFrame("Xing", 20, 0xFFFFFFFF), Repeat(f128, 5)}),
         "mpeg1 2ch 48000Hz 4800B/s w0 2 t=4800000"},
        // Info marks a constant rate: that of the frames after it, not of the 64 kbit/s Info frame.
        {"Info: a constant rate", Concat({XingFrame("Info", 5, {}, 5, 64), Repeat(f128, 5)}),
         "mpeg1 2ch 48000Hz align 192 16000B/s w0 2 t=1200000"},
        // 7 x 1152 / 48000 = 0.168 s; 3000 x 8 / 0.168 s = 142857.
        {"VBRI", Concat({VbriFrame(3000, 7), Repeat(f128, 7)}), "mpeg1 2ch 48000Hz 17857B/s w0 2 t=1680000"},
        // 3876 bytes: without its LYRICS200 mark a Lyrics3 block is audio.
        {"Lyrics3 v2 without its end mark", Concat({cbr, Text("LYRICSBEGININD0000210000021LYRICS20X")}),
         "mpeg1 2ch 48000Hz align 384 16000B/s w0 2 t~2422500"},
        // (3840 + 32) x 8 / 128000: an APE footer that states more bytes than the file holds is not a tag.
        {"an APE footer larger than the file", Concat({cbr, Text("APETAGEX"), mdtest::Le(2000, 4),
                                                        mdtest::Le(100000, 4), ByteVec(16)}),
         "mpeg1 2ch 48000Hz align 384 16000B/s w0 2 t~2420000"},
        {"the last frame cut short", mdtest::Cut(cbr, 9 * 384 + 100),
         "mpeg1 2ch 48000Hz align 384 16000B/s w0 2 t~2222500"},
        {"an ID3v2 size past the end of the file", Concat({tagPastEnd, cbr}), "not taken"},
        // 44.1 kHz, 128 kbit/s: 417 bytes, so the next frame would start at a header's second byte.
        {"one header repeated", Repeat(ByteVec{0xFF, 0xFB, 0x90, 0x00}, 500), "not taken"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(mdtest::Opened<md::Mp3Demux>(row.file), row.expected) << row.what;

    // The record keeps the first header as a word, byte 0 first (the host reads the protection bit from byte 1).
    md::MemoryInputStream in(cbr);
    md::Mp3Demux demux;
    md::StreamList streams;
    ASSERT_EQ(demux.Parse(&in, &streams), 1u);
    EXPECT_EQ(streams.At(0)->audio.codecSpecific[3], 0x0094FBFFu);
}

// With tags, the APEv2 items and the ID3v1 fields at the end are listed; an APE footer is looked for at the end of
// the file and, where an ID3v1 tag ends it, before that tag.
TEST(Mp3, TagsAtTheEnd)
{
    const ByteVec cbr = Repeat(L3At48k(9, 128), 10);
    const ByteVec item = Concat({mdtest::Le(1, 4), mdtest::Le(0, 4), Text("Title"), ByteVec{0}, Text("A")});
    const ByteVec ape =
        Concat({item, Text("APETAGEX"), mdtest::Le(2000, 4), mdtest::Le(item.size() + 32, 4), mdtest::Le(1, 4),
                ByteVec(12)});
    ByteVec id3v1 = Concat({Text("TAG"), ByteVec(30), Text("B")});
    id3v1.resize(128);
    id3v1[127] = 255;  // no genre
    const mdtest::FileRow rows[] = {
        {"APE then ID3v1", Concat({cbr, ape, id3v1}), "artist=B|title=A"},
        {"ID3v1 alone", Concat({cbr, id3v1}), "artist=B"},
        {"APE alone", Concat({cbr, ape}), "title=A"},
    };
    for (const auto& row : rows) {
        md::MemoryInputStream in(row.file);
        md::Mp3Demux demux;
        demux.SetExtensions(MD_EXT_TAGS);
        md::StreamList streams;
        ASSERT_EQ(demux.Parse(&in, &streams), 1u) << row.what;
        EXPECT_EQ(md::tagtest::All(demux.Tags()), row.expected) << row.what;
    }
}

TEST(Mp3, WhereTheProbeFindsFrames)
{
    const ByteVec f128 = L3At48k(9, 128), junk(100, 0);
    const struct {
        const char* what;
        ByteVec bytes;
        bool endsFile, atStart, found;
    } rows[] = {
        {"three frames at the start", Repeat(f128, 3), false, true, true},
        {"two that end the file", Repeat(f128, 2), true, true, true},
        {"two that do not", Repeat(f128, 2), false, false, false},
        {"six further in: the start test never searches", Concat({junk, Repeat(f128, 6)}), true, false, true},
        {"five further in are too few", Concat({junk, Repeat(f128, 5)}), true, false, false},
        {"frames after 64 KiB of other bytes", Concat({ByteVec(65536), Repeat(f128, 6)}), true, false, false},
        {"a change of sampling rate", Concat({f128, f128, Frame(0xFB, 0x90, 0x00, 417), f128}), false, false, false},
        {"a mono frame among stereo ones", Concat({f128, L3At48k(9, 128, true), f128, f128}), false, false, false},
    };
    for (const auto& row : rows) {
        const md::ProbeInput in{.head = row.bytes, .fileSize = row.bytes.size() + (row.endsFile ? 0 : 1000)};
        EXPECT_EQ(std::pair(md::ProbeMp3Start(in), md::ProbeMp3(in)), std::pair(row.atStart, row.found)) << row.what;
    }
}

}  // namespace
