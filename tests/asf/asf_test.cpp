// ASF headers built object by object: what the conformance files do not show (the rules of File Properties'
// duration, Extended Stream Properties and its hidden streams, the AspectRatioX/Y descriptions, MPEG audio words)
// and headers that lie about their sizes.
#include "asf/asf.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "input/memory_input_stream.h"
#include "support/stream_builders.h"

namespace {

using mdtest::ByteVec;
using mdtest::Concat;
using mdtest::Le;

// A GUID as the ASF specification writes it, stored as ASF lays it out: the first three groups little-endian, the
// last two byte by byte.
ByteVec Guid(const char* text)
{
    unsigned a = 0, b = 0, c = 0, d[8] = {};
    std::sscanf(text, "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &a, &b, &c, &d[0], &d[1], &d[2], &d[3], &d[4], &d[5],
                &d[6], &d[7]);
    ByteVec g = Concat({Le(a, 4), Le(b, 2), Le(c, 2)});
    return g.insert(g.end(), d, d + 8), g;
}

const char* const kHeader = "75B22630-668E-11CF-A6D9-00AA0062CE6C";
const char* const kMetadata = "C5F8CBEA-5BAF-4877-8467-AA8C44FA4CCA";
const char* const kPadding = "1806D474-CADF-4509-A4BA-9AABCB96AAE8";

// An object: GUID, size (the 24-byte header included, unless stated otherwise), body.
ByteVec Object(const char* guid, const ByteVec& body, int64_t statedSize = -1)
{
    return Concat({Guid(guid), Le(statedSize < 0 ? 24 + body.size() : uint64_t(statedSize), 8), body});
}

// File Properties: File ID, File Size, Creation Date, Data Packets Count, Play and Send Duration (100 ns, the
// preroll included), Preroll (ms), Flags (bit 0: broadcast), packet sizes and bit rate.
ByteVec FileProperties(uint64_t play, uint64_t preroll, uint32_t flags = 2)
{
    return Object("8CABDCA1-A947-11CF-8EE4-00C00C205365",
                  Concat({ByteVec(40), Le(play, 8), Le(play, 8), Le(preroll, 8), Le(flags, 4), ByteVec(12)}));
}

// Stream Properties: stream type, error correction type, Time Offset, Type-Specific and Error Correction Data
// Lengths, Flags (the stream number), Reserved, the type-specific data.
ByteVec StreamProperties(const char* type, uint16_t number, const ByteVec& specific)
{
    return Object("B7DC0791-A9B7-11CF-8EE6-00C00C205365",
                  Concat({Guid(type), Guid("20FB5700-5B55-11CF-A8FD-00805F5C442B"), Le(0, 8), Le(specific.size(), 4),
                          Le(0, 4), Le(number, 2), Le(0, 4), specific}));
}

// Video Media: Encoded Image Width and Height, Reserved Flags, Format Data Size, a BITMAPINFOHEADER of WMV3.
ByteVec Video(uint16_t number, uint32_t width, int32_t height)
{
    return StreamProperties("BC19EFC0-5B4D-11CF-A8FD-00805F5C442B", number,
                            Concat({Le(width, 4), Le(uint32_t(std::abs(height)), 4), ByteVec{2}, Le(40, 2),
                                    mdtest::BitmapInfoHeader(width, height, "WMV3")}));
}

// Audio Media: a WAVEFORMATEX and its extra bytes.
ByteVec Audio(uint16_t number, uint16_t tag, uint16_t channels, uint32_t rate, uint32_t byteRate = 8000,
              const ByteVec& extra = {})
{
    return StreamProperties("F8699E40-5B4D-11CF-A8FD-00805F5C442B", number,
                            mdtest::WaveFormatEx(tag, channels, rate, byteRate, 1487, 0, extra));
}

ByteVec HeaderExtension(const ByteVec& objects)
{
    return Object("5FBF03B5-A92E-11CF-8EE3-00C00C205365",
                  Concat({Guid("ABD3D211-A9BA-11CF-8EE6-00C00C205365"), Le(6, 2), Le(objects.size(), 4), objects}));
}

// Extended Stream Properties: 44 bytes of times and rates, Flags, the stream number, AvgTimePerFrame, one stream
// name ("abc"), one payload extension system (3 bytes of info), then optionally a Stream Properties Object.
ByteVec ExtendedStreamProperties(uint16_t number, uint64_t avgTimePerFrame, const ByteVec& streamProperties = {})
{
    return Object("14E6A5CB-C672-4332-8399-A96952065B5A",
                  Concat({ByteVec(48), Le(number, 2), Le(0, 2), Le(avgTimePerFrame, 8), Le(1, 2), Le(1, 2), Le(0, 2),
                          Le(6, 2), Le(0x0063'0062'0061, 6), Guid("C6BD9450-867F-4907-83A3-C77921B733AD"), Le(2, 2),
                          Le(3, 4), Le(0, 3), streamProperties}));
}

// A Metadata (or Metadata Library) Object of the AspectRatioX and AspectRatioY records of a stream (an x or y of 0
// leaves its record out), of data type 3 (DWORD), 4 (QWORD) or 5 (WORD); names UTF-16LE, NUL-terminated.
ByteVec Aspect(uint16_t stream, uint64_t x, uint64_t y, uint16_t type = 3, const char* guid = kMetadata, int size = 0)
{
    size = size != 0 ? size : type == 5 ? 2 : type == 4 ? 8 : 4;
    ByteVec b = Le((x != 0) + (y != 0), 2);
    for (const auto& [name, value] : {std::pair{"AspectRatioX", x}, {"AspectRatioY", y}}) {
        if (value == 0)
            continue;
        b = Concat({b, Le(0, 2), Le(stream, 2), Le(26, 2), Le(type, 2), Le(size, 4)});
        for (int i = 0; i <= 12; ++i)
            mdtest::PutLe(b, uint8_t(name[i]), 2);
        mdtest::PutLe(b, value, size);
    }
    return Object(guid, b);
}

// The Header Object around the objects (its size as stated unless given).
ByteVec Header(std::initializer_list<ByteVec> objects, int64_t statedSize = -1)
{
    ByteVec body;
    for (const ByteVec& o : objects)
        mdtest::Append(body, o);
    return Concat({Guid(kHeader), Le(statedSize < 0 ? 30 + body.size() : uint64_t(statedSize), 8),
                   Le(objects.size(), 4), ByteVec{1, 2}, body});
}

// The records as text: "v1 320x240 4:3 29.97fps", "a2 wma 2x44100", MPEG audio with its layer index, channel mode
// and bit rate words ("a1 mpeg2audio 1x22050 2/3/32000").
std::string Describe(const md::StreamList& streams)
{
    using C = md::StreamCodec;
    static const std::map<C, std::string> names = {
        {C::Wma, "wma"}, {C::Mpeg1Audio, "mpeg1audio"}, {C::Mpeg2Audio, "mpeg2audio"}};
    std::string out;
    char text[160];
    for (uint32_t i = 0; i < streams.Count(); ++i) {
        const md::StreamRecord& r = *streams.At(i);
        const uint32_t* w = r.audio.codecSpecific;
        const auto name = names.find(r.codec);
        if (r.streamClass == md::StreamClass::Video)
            std::snprintf(text, sizeof text, "v%u %ux%u %u:%u %.2ffps", r.streamId, r.video.width, r.video.height,
                          r.video.aspectX, r.video.aspectY, r.frameRate);
        else
            std::snprintf(text, sizeof text, "a%u %s %ux%u", r.streamId,
                          name == names.end() ? "?" : name->second.c_str(), r.audio.channels, r.audio.sampleRate);
        out += text;
        if (r.codec == C::Mpeg1Audio || r.codec == C::Mpeg2Audio)
            std::snprintf(text, sizeof text, " %u/%u/%u", w[0], w[1], w[2]), out += text;
        out += i + 1 < streams.Count() ? " | " : "";
    }
    return out;
}

constexpr uint64_t kPlay = 41460000;  // 4.146 s, the 3100 ms preroll included
constexpr int64_t kDuration = 10460000;

TEST(Asf, HeaderObjects)
{
    const ByteVec file = FileProperties(kPlay, 3100);
    const ByteVec wmv = Video(1, 320, 240), wma = Audio(2, 0x161, 2, 44100);
    const ByteVec both = Header({file, wmv, wma});
    const char* const kBoth = "v1 320x240 0:0 0.00fps | a2 wma 2x44100";
    const char* const kWmv = "v1 320x240 0:0 0.00fps";
    // MPEG1WAVEFORMAT: fwHeadLayer (1, 2, 4: Layer I, II, III), dwHeadBitrate, fwHeadMode (2 joint stereo, 4 dual
    // channel, 8 single channel), then the rest (its first 8 bytes are read).
    const auto mpeg1 = [](uint16_t layer, uint32_t bitRate, uint16_t mode, size_t rest = 14) {
        return Concat({Le(layer, 2), Le(bitRate, 4), Le(mode, 2), ByteVec(rest)});
    };
    ByteVec nameTooLong = ExtendedStreamProperties(3, 400000, Audio(3, 0x161, 1, 32000));
    nameTooLong[24 + 66] = 0xFF;  // Stream Name Length
    ByteVec extensionTooLong = HeaderExtension(ExtendedStreamProperties(1, 400000));
    extensionTooLong[24 + 18] = extensionTooLong[24 + 19] = 0xFF;  // Header Extension Data Size
    ByteVec countTooLarge = Aspect(1, 8, 9);
    countTooLarge[24] = 0xFF;  // Description Records Count
    ByteVec lengthTooLarge = Audio(3, 0x161, 2, 44100);
    lengthTooLarge[24 + 41] = 0xFF;  // Type-Specific Data Length
    struct Case {
        const char* what;
        ByteVec file;
        std::string records;
        int64_t duration;  // the end of each stream class described
        uint32_t result = 1;
    } cases[] = {
        {"a broadcast file has no duration", Header({FileProperties(kPlay, 3100, 1), wmv, wma}), kBoth, -1},
        {"a preroll longer than the play duration: none", Header({FileProperties(20000000, 3100), wmv}), kWmv, -1},
        {"a play duration equal to the preroll: none", Header({FileProperties(31000000, 3100), wma}), "a2 wma 2x44100",
         -1},
        {"a play duration 100 ns longer than the preroll", Header({FileProperties(31000001, 3100), wma}),
         "a2 wma 2x44100", 1},
        {"a play duration past 2^63: none", Header({FileProperties(uint64_t(1) << 63, 0), wma}), "a2 wma 2x44100", -1},
        // Layer index (0 I, 1 II, 2 III) / channel mode (0 stereo, 1 joint stereo, 2 dual, 3 single) / bit rate.
        {"MPEG audio: Layer III below 32 kHz is MPEG-2; MPEG1WAVEFORMAT's fields, a dwHeadBitrate of 0 not stated",
         Header({file, Audio(1, 0x55, 1, 22050, 4000, ByteVec(12)), Audio(2, 0x55, 2, 32000, 16000, ByteVec(12)),
                 Audio(3, 0x50, 2, 48000, 32000, mpeg1(2, 256000, 2)), Audio(4, 0x50, 1, 48000, 8000, mpeg1(4, 64000, 8)),
                 Audio(5, 0x50, 2, 44100, 24000, mpeg1(1, 0, 4, 0))}),
         "a1 mpeg2audio 1x22050 2/3/32000 | a2 mpeg1audio 2x32000 2/0/128000 | a3 mpeg1audio 2x48000 1/1/256000 | "
         "a4 mpeg1audio 1x48000 2/3/64000 | a5 mpeg1audio 2x44100 0/2/192000",
         kDuration},
        {"stream number 0, one seen twice and a command stream: no record",
         Header({file, Video(0, 320, 240), wmv, Video(1, 640, 480), wma,
                 StreamProperties("59DACFC0-59E6-11D0-A3AC-00A0C90348F6", 3, {})}),
         kBoth, kDuration},
        {"AvgTimePerFrame 333667 x 100 ns, of its own stream only",
         Header({file, HeaderExtension(Concat({ExtendedStreamProperties(1, 333667), ExtendedStreamProperties(3, 1)})),
                 Video(1, 720, 480), Video(2, 720, 480)}),
         "v1 720x480 0:0 29.97fps | v2 720x480 0:0 0.00fps", kDuration},
        {"AspectRatioX/Y QWORDs 8:9 on 720x480 are 720*8 : 480*9 = 4:3; Metadata Library's WORDs 1:1 on 640x356 are "
         "160:89; QWORDs past 32 bits are none",
         Header({file,
                 HeaderExtension(Concat({Aspect(1, 8, 9, 4), Aspect(2, 1, 1, 5, "44231C94-9498-49D1-A141-1D134E457054"),
                                         Aspect(3, uint64_t(1) << 32, 1, 4)})),
                 Video(1, 720, 480), Video(2, 640, 356), Video(3, 720, 480)}),
         "v1 720x480 4:3 0.00fps | v2 640x356 160:89 0.00fps | v3 720x480 0:0 0.00fps", kDuration},
        {"a display aspect past 32 bits is none; one of 2^32 - 1 fits",
         Header({file, HeaderExtension(Concat({Aspect(1, 0xFFFFFFFF, 1), Aspect(2, 0xFFFFFFFF, 1)})),
                 Video(1, 720, 480), Video(2, 1, 1)}),
         "v1 720x480 0:0 0.00fps | v2 1x1 4294967295:1 0.00fps", kDuration},
        {"stream 0 is the whole file; a stream's own pair comes first, its half pair not",
         Header({file, HeaderExtension(Concat({Aspect(0, 1, 1), Aspect(2, 32, 27), Aspect(3, 8, 0)})),
                 Video(1, 720, 480), Video(2, 720, 480), Video(3, 720, 480)}),
         "v1 720x480 3:2 0.00fps | v2 720x480 16:9 0.00fps | v3 720x480 3:2 0.00fps", kDuration},
        {"a QWORD record of 4 bytes: no aspect",
         Header({file, HeaderExtension(Aspect(1, 8, 9, 4, kMetadata, 4)), Video(1, 720, 480)}), "v1 720x480 0:0 0.00fps",
         kDuration},
        {"a hidden stream inside Extended Stream Properties",
         Header({file, HeaderExtension(ExtendedStreamProperties(3, 0, Audio(3, 0x161, 1, 32000))), wmv, wma}),
         "a3 wma 1x32000 | " + std::string(kBoth), kDuration},
        {"not ASF", [&] { ByteVec f = both; return f[0] ^= 1, f; }(), "", -1, 0},
        {"a header object larger than the file", Header({file, wmv, wma}, 1ll << 40), kBoth, kDuration},
        {"nothing after the Header Object is read", Concat({Header({file, wmv}), wma}), kWmv, kDuration},
        {"cut inside the second stream", ByteVec(both.begin(), both.begin() + 30 + 104 + 129 + 50), kWmv, kDuration},
        {"only the header's start", ByteVec(both.begin(), both.begin() + 30), "", -1},
        {"an object of 24 bytes is walked over; one below ends the walk",
         Header({file, Object(kPadding, {}), wmv, Object(kPadding, ByteVec(8), 23), wma}), kWmv, kDuration},
        {"an object size past the header ends the walk", Header({file, wmv, Object(kPadding, {}, 1 << 20), wma}), kWmv,
         kDuration},
        {"Type-Specific Data Length past its object", Header({file, lengthTooLarge, wmv}), kWmv, kDuration},
        {"a BITMAPINFOHEADER of negative height (top-down) is as tall", Header({file, Video(1, 320, -240)}), kWmv,
         kDuration},
        {"a stream name past Extended Stream Properties: no hidden stream, the rate stands",
         Header({file, HeaderExtension(nameTooLong), Video(3, 320, 240)}), "v3 320x240 0:0 25.00fps", kDuration},
        {"a Header Extension Data Size past its object", Header({file, extensionTooLong, wmv}),
         "v1 320x240 0:0 25.00fps", kDuration},
        {"a description count past the Metadata Object", Header({file, HeaderExtension(countTooLarge), Video(1, 720, 480)}),
         "v1 720x480 4:3 0.00fps", kDuration},
    };
    for (const Case& c : cases) {
        md::MemoryInputStream in(c.file.data(), c.file.size());
        md::AsfDemux demux;
        md::StreamList streams;
        const uint32_t result = demux.Parse(&in, &streams);
        const TimeRangeInfo& t = demux.Times().range;
        const bool video = c.records.find('v') != std::string::npos, audio = c.records.find('a') != std::string::npos;
        EXPECT_EQ(std::tuple(result, Describe(streams), t.videoEndTime, t.audioEndTime),
                  std::tuple(c.result, c.records, video ? c.duration : -1, audio ? c.duration : -1))
            << c.what;
    }
}

TEST(Asf, ReadsStayInTheHeaderLimit)
{
    // 1.5 MiB of padding before the video: only the header's first MiB is read; what stands in it is described.
    const ByteVec big = Header({FileProperties(kPlay, 3100), Audio(2, 0x161, 2, 44100),
                                Object(kPadding, ByteVec(3 << 19)), Video(1, 320, 240)});
    md::MemoryInputStream in(big.data(), big.size());
    md::AsfDemux demux;
    md::StreamList streams;
    ASSERT_EQ(demux.Parse(&in, &streams), 1u);
    EXPECT_EQ(std::tuple(Describe(streams), demux.Times().range.audioEndTime),
              std::tuple(std::string("a2 wma 2x44100"), kDuration));
    EXPECT_LE(in.BytesRead(), 30u + (1u << 20));
    EXPECT_TRUE(md::ProbeAsf({.head = md::Bytes(big).first(30)}));
    EXPECT_FALSE(md::ProbeAsf({.head = md::Bytes(big).first(29)}));
}

}  // namespace
