// Ogg files built page by page: the page framing and its CRC, the streams each BOS page opens, the times the
// granule positions give (starts from the first data page, Opus pre-skip, Theora's keyframe granules) and the bad
// inputs a reader meets: a bad CRC, a granule position that goes backwards, a page cut short, a stream without
// its BOS page, chained links and reads bounded on large files.
#include "ogg/ogg_demux.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "input/memory_input_stream.h"
#include "ogg/ogg_page.h"
#include "support/files.h"
#include "support/stream_builders.h"

namespace {

using md::MemoryInputStream;
using mdtest::Append;
using mdtest::ByteVec;

void PutLe(ByteVec& b, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}
void PutBe(ByteVec& b, uint64_t v, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        b.push_back(uint8_t(v >> (8 * i)));
}

constexpr uint8_t kBos = 2, kEos = 4, kContinued = 1;

// A page as RFC 3533 lays it out; the last packet continues on the next page when open (its size a multiple of
// 255), and the CRC is filled in unless badCrc.
ByteVec Page(uint32_t serial, uint32_t sequence, uint8_t flags, int64_t granule, const std::vector<ByteVec>& packets,
             bool open = false, bool badCrc = false)
{
    ByteVec lacing, body;
    for (size_t i = 0; i < packets.size(); ++i) {
        const size_t n = packets[i].size();
        lacing.insert(lacing.end(), n / 255, 255);
        if (!(open && i + 1 == packets.size()))
            lacing.push_back(uint8_t(n % 255));
        Append(body, packets[i]);
    }
    ByteVec p = {'O', 'g', 'g', 'S', 0, flags};
    PutLe(p, uint64_t(granule), 8), PutLe(p, serial, 4), PutLe(p, sequence, 4), PutLe(p, 0, 4);
    p.push_back(uint8_t(lacing.size()));
    Append(p, lacing), Append(p, body);
    const uint32_t crc = md::OggCrc(p) ^ (badCrc ? 1 : 0);
    for (int i = 0; i < 4; ++i)
        p[22 + i] = uint8_t(crc >> (8 * i));
    return p;
}

ByteVec Changed(ByteVec b, size_t at, uint8_t value) { return b[at] = value, b; }

ByteVec VorbisId(uint32_t rate)
{
    ByteVec b = {1, 'v', 'o', 'r', 'b', 'i', 's'};
    PutLe(b, 0, 4), b.push_back(2), PutLe(b, rate, 4), PutLe(b, 0, 4), PutLe(b, 96000, 4), PutLe(b, 0, 4);
    b.push_back(0xB8), b.push_back(1);
    return b;
}
ByteVec OpusId(uint16_t preSkip)
{
    ByteVec b = {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1, 2};
    PutLe(b, preSkip, 2), PutLe(b, 48000, 4), PutLe(b, 0, 2), b.push_back(0);
    return b;
}
ByteVec SpeexId(uint32_t rate, uint32_t frameSize)
{
    ByteVec b = {'S', 'p', 'e', 'e', 'x', ' ', ' ', ' '};
    b.resize(28);
    for (uint32_t v : {1u, 80u, rate, 1u, 4u, 1u, 0xFFFFFFFFu, frameSize, 0u, 1u, 0u, 0u, 0u})
        PutLe(b, v, 4);
    return b;
}
ByteVec TheoraId(uint8_t revision)  // 320x240 at 25/1, square pixels, KFGSHIFT 6
{
    ByteVec b = {0x80, 't', 'h', 'e', 'o', 'r', 'a', 3, 2, revision};
    PutBe(b, 20, 2), PutBe(b, 15, 2), PutBe(b, 320, 3), PutBe(b, 240, 3), b.push_back(0), b.push_back(0);
    PutBe(b, 25, 4), PutBe(b, 1, 4), PutBe(b, 1, 3), PutBe(b, 1, 3), b.push_back(0), PutBe(b, 0, 3);
    PutBe(b, 6u << 5, 2);
    return b;
}
ByteVec FlacId(uint32_t rate)  // the mapping header, then STREAMINFO: 16-bit stereo
{
    ByteVec b = {0x7F, 'F', 'L', 'A', 'C', 1, 0, 0, 1, 'f', 'L', 'a', 'C', 0, 0, 0, 34};
    PutBe(b, 4096, 2), PutBe(b, 4096, 2), PutBe(b, 0, 3), PutBe(b, 0, 3);
    PutBe(b, uint64_t(rate) << 44 | uint64_t(1) << 41 | uint64_t(15) << 36, 8);
    b.resize(b.size() + 16);  // MD5
    return b;
}
ByteVec Bytes(size_t n, uint8_t v = 0x55) { return ByteVec(n, v); }
// Opus packets of 20 ms (CELT FB, one frame: 960 samples).
std::vector<ByteVec> OpusPackets(size_t n) { return std::vector<ByteVec>(n, ByteVec{31 << 3, 0x11, 0x22}); }

// A Vorbis stream on serial s: identification, the comment and setup headers, then data pages at the granules.
ByteVec VorbisStream(uint32_t s, uint32_t rate, std::initializer_list<int64_t> granules)
{
    ByteVec f = Page(s, 0, kBos, 0, {VorbisId(rate)});
    Append(f, Page(s, 1, 0, 0, {ByteVec{3, 'v', 'o', 'r', 'b', 'i', 's'}, ByteVec{5, 'v', 'o', 'r', 'b', 'i', 's'}}));
    uint32_t seq = 2;
    for (int64_t g : granules) {
        const bool last = g == *(granules.end() - 1);
        Append(f, Page(s, seq++, last ? kEos : 0, g, {Bytes(100), Bytes(100)}));
    }
    return f;
}

struct Parsed {
    uint32_t result = 0, records = 0;
    std::vector<uint32_t> ids;
    int64_t videoEnd = -1, audioEnd = -1;
    bool estimated = false;
};

Parsed Parse(const ByteVec& file, md::StreamList* keep = nullptr, uint64_t* bytesRead = nullptr)
{
    MemoryInputStream in(file.data(), file.size());
    md::OggDemux demux;
    md::StreamList own;
    md::StreamList& streams = keep ? *keep : own;
    Parsed p;
    p.result = demux.Parse(&in, &streams);
    p.records = streams.Count();
    for (uint32_t i = 0; i < streams.Count(); ++i)
        p.ids.push_back(streams.At(i)->streamId);
    const TimeRangeInfo& r = demux.Times().range;
    p.videoEnd = r.videoEndTime, p.audioEnd = r.audioEndTime, p.estimated = demux.Times().estimated;
    if (bytesRead)
        *bytesRead = in.BytesRead();
    return p;
}

TEST(OggPage, FramingCrcAndPackets)
{
    const ByteVec good = Page(5, 3, kContinued, 1000, {Bytes(300), Bytes(0), Bytes(510)}, true);
    struct Case {
        const char* rule;
        ByteVec bytes;
        md::OggPageStatus status;
    } cases[] = {
        {"a whole page", good, md::OggPageStatus::Ok},
        {"one body byte changed", Changed(good, good.size() - 1, uint8_t(good.back() ^ 1)), md::OggPageStatus::BadCrc},
        {"the segment table runs past the bytes", ByteVec(good.begin(), good.end() - 1), md::OggPageStatus::Truncated},
        {"the header cut short", ByteVec(good.begin(), good.begin() + 20), md::OggPageStatus::Truncated},
        {"the capture pattern cut short", ByteVec(good.begin(), good.begin() + 3), md::OggPageStatus::Truncated},
        {"stream structure version 1", Changed(good, 4, 1), md::OggPageStatus::NotAPage},
        {"no capture pattern", Changed(good, 3, 'X'), md::OggPageStatus::NotAPage},
    };
    for (const Case& c : cases) {
        md::OggPage page;
        EXPECT_EQ(md::ReadOggPage(c.bytes, page), c.status) << c.rule;
    }

    md::OggPage page;
    ASSERT_EQ(md::ReadOggPage(good, page), md::OggPageStatus::Ok);
    EXPECT_EQ(std::tuple(page.granule, page.serial, page.sequence, page.Continued(), page.size),
              std::tuple(int64_t(1000), 5u, 3u, true, uint32_t(good.size())));
    // Lacing 255 45 | 0 | 255 255 (open): two packets end here, the third goes on.
    EXPECT_EQ(md::OggPacketsEnding(page), 2u);
    md::OggPacketWalk walk(page);
    md::Bytes packet;
    bool complete = false;
    std::vector<std::tuple<size_t, bool>> packets;
    while (walk.Next(packet, complete))
        packets.emplace_back(packet.size(), complete);
    EXPECT_EQ(packets, (std::vector<std::tuple<size_t, bool>>{{300, true}, {0, true}, {510, false}}));

    // Every page of a file another muxer wrote carries the CRC computed here.
    const std::vector<uint8_t> file = md::test::ReadFileBytes(md::test::TestDataDir() / "ogg_vorbis_44k_stereo.ogg");
    size_t pages = 0;
    for (size_t pos = 0; pos < file.size(); ++pages) {
        ASSERT_EQ(md::ReadOggPage(md::Bytes(file).subspan(pos), page), md::OggPageStatus::Ok) << "page at " << pos;
        EXPECT_EQ(md::OggCrc(md::Bytes(file).subspan(pos, page.size)), md::Le32(file.data() + pos + 22));
        pos += page.size;
    }
    EXPECT_EQ(pages, 4u);
}

TEST(OggDemux, StreamsAndTimes)
{
    const ByteVec vorbis = VorbisStream(7, 44100, {22050, 44100});
    const int64_t second = 10000000;

    // A stream of serial 9 whose BOS page is missing, interleaved with the Vorbis pages.
    const ByteVec vorbisBos = Page(7, 0, kBos, 0, {VorbisId(44100)});
    ByteVec orphan = vorbisBos;
    Append(orphan, Page(9, 1, 0, 88200, {Bytes(50)}));
    Append(orphan, ByteVec(vorbis.begin() + vorbisBos.size(), vorbis.end()));
    Append(orphan, Page(9, 2, kEos, 99000, {Bytes(50)}));

    // Opus: 50 packets of 960 samples on the first data page.
    const auto opus = [](uint32_t s, int64_t firstGranule, int64_t lastGranule, uint32_t sequence = 0) {
        ByteVec f = Page(s, sequence, kBos, 0, {OpusId(312)});
        Append(f, Page(s, sequence + 1, 0, 0, {ByteVec{'O', 'p', 'u', 's', 'T', 'a', 'g', 's', 0, 0, 0, 0}}));
        Append(f, Page(s, sequence + 2, 0, firstGranule, OpusPackets(50)));
        Append(f, Page(s, sequence + 3, kEos, lastGranule, OpusPackets(50)));
        return f;
    };
    ByteVec trimmed = Page(3, 0, kBos, 0, {OpusId(312)});
    Append(trimmed, Page(3, 1, 0, 0, {ByteVec{'O', 'p', 'u', 's', 'T', 'a', 'g', 's'}}));
    Append(trimmed, Page(3, 2, kEos, 500, OpusPackets(1)));

    // Speex at 16 kHz, 320 samples a packet: the first data page's 50 packets end at 15857.
    ByteVec speex = Page(4, 0, kBos, 0, {SpeexId(16000, 320)});
    Append(speex, Page(4, 1, 0, 0, {Bytes(20)}));
    Append(speex, Page(4, 2, 0, 15857, std::vector<ByteVec>(50, Bytes(30))));
    Append(speex, Page(4, 3, kEos, 31857, std::vector<ByteVec>(50, Bytes(30))));

    // Theora (serial 0) and Vorbis (serial 1) together: 25 frames at 25/1 against 1.5 s of audio.
    const auto theora = [](uint8_t revision, int64_t first, int64_t last, uint32_t firstSequence = 2) {
        ByteVec f = Page(0, 0, kBos, 0, {TheoraId(revision)});
        Append(f, Page(1, 0, kBos, 0, {VorbisId(48000)}));
        Append(f, Page(0, 1, 0, 0, {ByteVec{0x81, 't'}, ByteVec{0x82, 't'}}));
        Append(f, Page(1, 1, 0, 0, {ByteVec{3, 'v'}, ByteVec{5, 'v'}}));
        Append(f, Page(0, firstSequence, 0, first, {Bytes(500)}));
        Append(f, Page(1, 2, kEos, 72000, {Bytes(100)}));
        Append(f, Page(0, firstSequence + 1, kEos, last, std::vector<ByteVec>(24, Bytes(40))));
        return f;
    };

    ByteVec skeleton = Page(1, 0, kBos, 0, {ByteVec{'f', 'i', 's', 'h', 'e', 'a', 'd', 0, 3, 0}});
    Append(skeleton, VorbisStream(2, 44100, {44100}));
    ByteVec flac = Page(6, 0, kBos, 0, {FlacId(44100)});
    Append(flac, Page(6, 1, 0, 0, {Bytes(40)}));
    Append(flac, Page(6, 2, kEos, 88200, {Bytes(400)}));

    ByteVec badCrc = vorbis, backwards = VorbisStream(7, 44100, {22050, 11025});
    badCrc[badCrc.size() - 1] ^= 0xFF;  // the last page's body
    ByteVec chained = vorbis;
    Append(chained, opus(8, 48000, 96312));

    struct Case {
        const char* rule;
        ByteVec file;
        Parsed expected;
    } cases[] = {
        {"Vorbis: the last granule position over the rate", vorbis, {1, 1, {7}, -1, second}},
        {"a last page with a bad CRC is not trusted", badCrc, {1, 1, {7}, -1, second / 2}},
        {"a granule position that goes backwards is not trusted", backwards, {1, 1, {7}, -1, second / 2}},
        {"a last page whose segment table runs past the file",
         ByteVec(vorbis.begin(), vorbis.end() - 10),
         {1, 1, {7}, -1, second / 2}},
        {"pages of a stream without its BOS page are left out", orphan, {1, 1, {7}, -1, second}},
        {"Opus: the last granule position less the pre-skip", opus(8, 48000, 96312), {1, 1, {8}, -1, 2 * second}},
        {"Opus: the first data page's granule less its packets is the start",
         opus(8, 48960, 96312),
         {1, 1, {8}, -1, md::SamplesToUnits(96312 - 960 - 312, 48000)}},
        {"Opus: a first data page that ends the stream may trim it; the start is 0",
         trimmed,
         {1, 1, {3}, -1, md::SamplesToUnits(500 - 312, 48000)}},
        {"Speex: the start before 0 that the first data page gives", speex, {1, 1, {4}, -1, 2 * second}},
        {"Theora 3.2.1: keyframe 13 << 6 | 12 more is the 25th frame; serial 0 takes id 2",
         theora(1, 1 << 6, 13 << 6 | 12),
         {1, 2, {2, 1}, second, 3 * second / 2}},
        {"Theora 3.2.0 numbers frames from 0", theora(0, 0, 13 << 6 | 11), {1, 2, {2, 1}, second, 3 * second / 2}},
        {"a page lost before the first data page: the start is taken as 0; 3.2.0's last frame is the 25th",
         theora(0, 5, 13 << 6 | 11, 4),
         {1, 2, {2, 1}, second, 3 * second / 2}},
        {"a Skeleton stream is not listed", skeleton, {1, 1, {2}, -1, second}},
        {"FLAC: the mapping header's STREAMINFO rate", flac, {1, 1, {6}, -1, 2 * second}},
        {"chained: the links one after the other; the first link is listed", chained, {1, 1, {7}, -1, 3 * second}},
        {"cut after the BOS page: recognised, no duration",
         Page(7, 0, kBos, 0, {VorbisId(44100)}),
         {1, 1, {7}, -1, -1}},
        {"no BOS page at the start: not Ogg", Page(7, 1, 0, 0, {Bytes(10)}), {0, 0, {}, -1, -1}},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.file);
        const Parsed& e = c.expected;
        EXPECT_EQ(std::tuple(p.result, p.records, p.ids, p.videoEnd, p.audioEnd, p.estimated),
                  std::tuple(e.result, e.records, e.ids, e.videoEnd, e.audioEnd, e.estimated))
            << c.rule;
    }

    // The records: Theora's picture, rate and aspect, Vorbis's format.
    md::StreamList streams;
    Parse(theora(1, 1 << 6, 13 << 6 | 12), &streams);
    ASSERT_EQ(streams.Count(), 2u);
    const md::StreamRecord& v = *streams.At(0);
    const md::StreamRecord& a = *streams.At(1);
    EXPECT_EQ(std::tuple(v.streamClass, v.codec, v.video.width, v.video.height, v.video.aspectX, v.video.aspectY,
                         v.frameRate, v.extraData1Length),
              std::tuple(md::StreamClass::Video, md::StreamCodec::Theora, 320u, 240u, 4u, 3u, 25.0, 42));
    EXPECT_EQ(std::tuple(a.streamClass, a.codec, a.audio.channels, a.audio.sampleRate, a.audio.bytesPerSecond),
              std::tuple(md::StreamClass::Audio, md::StreamCodec::Vorbis, 2u, 48000u, 12000u));

    // The probe: a whole first page with a good CRC and the BOS flag.
    EXPECT_TRUE(md::ProbeOgg({.head = vorbis}));
    ByteVec corrupt = vorbis;
    corrupt[40] ^= 1;
    EXPECT_FALSE(md::ProbeOgg({.head = corrupt}));
    EXPECT_FALSE(md::ProbeOgg({.head = Page(7, 1, 0, 0, {Bytes(10)})}));
    EXPECT_FALSE(md::ProbeOgg({.head = ByteVec(vorbis.begin(), vorbis.begin() + 40)}));
}

// Files of more than the head and tail reads: Vorbis links of pages of 60000 bytes, 1 s of 44.1 kHz each.
ByteVec LongVorbis(uint32_t serial, int pages)
{
    ByteVec f = Page(serial, 0, kBos, 0, {VorbisId(44100)});
    Append(f, Page(serial, 1, 0, 0, {ByteVec{3, 'v'}, ByteVec{5, 'v'}}));
    for (int i = 1; i <= pages; ++i)
        Append(f, Page(serial, uint32_t(i + 1), i == pages ? kEos : 0, int64_t(i) * 44100, {Bytes(60000)}));
    return f;
}

TEST(OggDemux, LargeAndChainedFilesReadBounded)
{
    constexpr int64_t kSecond = 10000000;
    uint64_t read = 0;
    // One link of 2.4 MB: the head as far as the headers, then the last 64 KiB.
    const Parsed one = Parse(LongVorbis(1, 40), nullptr, &read);
    EXPECT_EQ(std::tuple(one.audioEnd, one.estimated), std::tuple(40 * kSecond, false));
    EXPECT_LE(read, 2u * 64 * 1024);

    // Two links, the second 1.2 MB long: the tail shows a stream the head has not met, so the head is walked on
    // to its bound, where the second link's BOS page lies; the tail's pages are that link's.
    ByteVec two = VorbisStream(1, 44100, {44100});
    Append(two, LongVorbis(2, 20));
    const Parsed chained = Parse(two, nullptr, &read);
    EXPECT_EQ(std::tuple(chained.records, chained.audioEnd, chained.estimated), std::tuple(1u, 21 * kSecond, false));
    EXPECT_LE(read, 512u * 1024 + 2 * 64 * 1024);

    // A third link whose start lies between the reads: the tail's pages belong to no stream seen, so the sum
    // leaves it out and is an estimate; the second link counts as far as the head saw it (8 pages).
    ByteVec three = two;
    Append(three, LongVorbis(3, 20));
    const Parsed unseen = Parse(three, nullptr, &read);
    EXPECT_EQ(std::tuple(unseen.audioEnd, unseen.estimated), std::tuple(9 * kSecond, true));

    // A short last link whose BOS page lies in the tail after the end of the second link: every link counted.
    ByteVec last = two;
    Append(last, VorbisStream(4, 44100, {88200}));
    const Parsed tailLink = Parse(last, nullptr, &read);
    EXPECT_EQ(std::tuple(tailLink.audioEnd, tailLink.estimated), std::tuple(23 * kSecond, false));
}

}  // namespace
