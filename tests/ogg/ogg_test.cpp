// Ogg files built page by page: the page framing and its CRC, and what the conformance files do not show: the bad
// inputs a reader meets (a bad CRC, a granule position that goes backwards, a page cut short, a stream without its
// BOS page), Opus end trimming, Theora 3.2.0 granules, Skeleton, chained links and reads bounded on large files.
#include "ogg/ogg_demux.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "input/memory_input_stream.h"
#include "ogg/ogg_page.h"
#include "support/stream_builders.h"

namespace {

using md::MemoryInputStream;
using mdtest::Append;
using mdtest::ByteVec;
using mdtest::PutBe;
using mdtest::PutLe;

constexpr uint8_t kBos = 2, kEos = 4, kContinued = 1;

// A page as RFC 3533 lays it out; the last packet continues on the next page when open (its size a multiple of
// 255). The CRC is OggCrc's, which the conformance files (pages another muxer wrote) prove.
ByteVec Page(uint32_t serial, uint32_t sequence, uint8_t flags, int64_t granule, const std::vector<ByteVec>& packets,
             bool open = false)
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
    const uint32_t crc = md::OggCrc(p);
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
// OpusHead: version 1, the channels, pre-skip, input rate, gain, the mapping family and, for a family other than 0,
// its table (stream count, coupled count, a mapping byte per channel).
ByteVec OpusId(uint16_t preSkip, uint8_t channels = 2, uint8_t family = 0)
{
    ByteVec b = {'O', 'p', 'u', 's', 'H', 'e', 'a', 'd', 1, channels};
    PutLe(b, preSkip, 2), PutLe(b, 48000, 4), PutLe(b, 0, 2), b.push_back(family);
    if (family != 0) {
        b.push_back(channels), b.push_back(0);
        for (uint8_t c = 0; c < channels; ++c)
            b.push_back(c);
    }
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

    // Opus: 50 packets of 960 samples on each data page, 312 samples of pre-skip.
    const auto opus = [](uint32_t s, int64_t firstGranule, int64_t lastGranule, bool oneDataPage = false) {
        ByteVec f = Page(s, 0, kBos, 0, {OpusId(312)});
        Append(f, Page(s, 1, 0, 0, {ByteVec{'O', 'p', 'u', 's', 'T', 'a', 'g', 's', 0, 0, 0, 0}}));
        Append(f, Page(s, 2, oneDataPage ? kEos : 0, firstGranule, OpusPackets(oneDataPage ? 1 : 50)));
        if (!oneDataPage)
            Append(f, Page(s, 3, kEos, lastGranule, OpusPackets(50)));
        return f;
    };

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
    ByteVec badCrc = vorbis, chained = vorbis;
    badCrc[badCrc.size() - 1] ^= 0xFF;  // the last page's body
    Append(chained, opus(8, 48000, 96312));

    struct Case {
        const char* rule;
        ByteVec file;
        Parsed expected;
    } cases[] = {
        {"a last page with a bad CRC is not trusted", badCrc, {1, 1, {7}, -1, second / 2}},
        {"a granule position that goes backwards is not trusted",
         VorbisStream(7, 44100, {22050, 11025}),
         {1, 1, {7}, -1, second / 2}},
        {"a last page whose segment table runs past the file",
         ByteVec(vorbis.begin(), vorbis.end() - 10),
         {1, 1, {7}, -1, second / 2}},
        {"pages of a stream without its BOS page are left out", orphan, {1, 1, {7}, -1, second}},
        {"Opus: a first data page that ends the stream may trim it; the start is 0",
         opus(3, 500, 0, true),
         {1, 1, {3}, -1, md::SamplesToUnits(500 - 312, 48000)}},
        {"Theora 3.2.0 numbers frames from 0; serial 0 takes id 2",
         theora(0, 0, 13 << 6 | 11),
         {1, 2, {2, 1}, second, 3 * second / 2}},
        {"a page lost before the first data page: the start is taken as 0; 3.2.0's last frame is the 25th",
         theora(0, 5, 13 << 6 | 11, 4),
         {1, 2, {2, 1}, second, 3 * second / 2}},
        {"a Skeleton stream is not listed", skeleton, {1, 1, {2}, -1, second}},
        {"chained: the links one after the other, Opus less its pre-skip; the first link is listed",
         chained,
         {1, 1, {7}, -1, 3 * second}},
        {"cut after the BOS page: recognised, no duration", vorbisBos, {1, 1, {7}, -1, -1}},
        {"no BOS page at the start: not Ogg", Page(7, 1, 0, 0, {Bytes(10)}), {0, 0, {}, -1, -1}},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.file);
        const Parsed& e = c.expected;
        EXPECT_EQ(std::tuple(p.result, p.records, p.ids, p.videoEnd, p.audioEnd, p.estimated),
                  std::tuple(e.result, e.records, e.ids, e.videoEnd, e.audioEnd, e.estimated))
            << c.rule;
    }

    // Theora 3.2.1: keyframe 13 << 6 | 12 more is the 25th frame; the identification header is kept; Vorbis's
    // nominal bit rate.
    md::StreamList streams;
    EXPECT_EQ(Parse(theora(1, 1 << 6, 13 << 6 | 12), &streams).videoEnd, second);
    ASSERT_EQ(streams.Count(), 2u);
    EXPECT_EQ(std::tuple(streams.At(0)->extraData1Length, streams.At(1)->audio.bytesPerSecond), std::tuple(42, 12000u));

    // The probe: a whole first page with a good CRC and the BOS flag.
    ByteVec corrupt = vorbis;
    corrupt[40] ^= 1;
    EXPECT_TRUE(md::ProbeOgg({.head = vorbis}));
    EXPECT_FALSE(md::ProbeOgg({.head = corrupt}));
    EXPECT_FALSE(md::ProbeOgg({.head = Page(7, 1, 0, 0, {Bytes(10)})}));
    EXPECT_FALSE(md::ProbeOgg({.head = ByteVec(vorbis.begin(), vorbis.begin() + 40)}));
}

// An Opus stream's speakers: those of mapping family 1 (the Vorbis order) for its channels (OpusChannelMask); the
// other families state none.
TEST(OggDemux, OpusSpeakersOfTheMappingFamily)
{
    const std::tuple<uint8_t, uint8_t, uint32_t, const char*> rows[] = {
        {6, 1, 0x3F, "5.1: L C R, rear L R, LFE"},
        {6, 255, 0, "application-defined channels"},
    };
    for (const auto& [channels, family, mask, what] : rows) {
        ByteVec f = Page(5, 0, kBos, 0, {OpusId(312, channels, family)});
        Append(f, Page(5, 1, 0, 0, {ByteVec{'O', 'p', 'u', 's', 'T', 'a', 'g', 's', 0, 0, 0, 0}}));
        Append(f, Page(5, 2, kEos, 48000, OpusPackets(50)));
        md::StreamList streams;
        ASSERT_EQ(Parse(f, &streams).result, 1u) << what;
        const md::AudioParams& a = streams.At(0)->audio;
        EXPECT_EQ(std::pair(a.channels, a.channelMask), std::pair(uint32_t(channels), mask)) << what;
    }
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
