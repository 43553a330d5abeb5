// ASF headers built object by object: the streams their Stream Properties Objects describe (also inside Extended
// Stream Properties), the frame rate and display aspect the Header Extension states, the duration rules of File
// Properties, and headers that lie about their sizes and counts.
#include "asf/asf.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "input/memory_input_stream.h"
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

// A GUID as the ASF specification writes it, stored as ASF lays it out: the first three groups little-endian, the
// last two byte by byte.
ByteVec Guid(const char* text)
{
    unsigned a = 0, b = 0, c = 0, d[8] = {};
    std::sscanf(text, "%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x", &a, &b, &c, &d[0], &d[1], &d[2], &d[3], &d[4], &d[5],
                &d[6], &d[7]);
    ByteVec g;
    PutLe(g, a, 4), PutLe(g, b, 2), PutLe(g, c, 2);
    return g.insert(g.end(), d, d + 8), g;
}

const char* const kHeader = "75B22630-668E-11CF-A6D9-00AA0062CE6C";
const char* const kDataObject = "75B22636-668E-11CF-A6D9-00AA0062CE6C";
const char* const kMetadata = "C5F8CBEA-5BAF-4877-8467-AA8C44FA4CCA";
const char* const kMetadataLibrary = "44231C94-9498-49D1-A141-1D134E457054";
const char* const kAudioMedia = "F8699E40-5B4D-11CF-A8FD-00805F5C442B";
const char* const kPadding = "1806D474-CADF-4509-A4BA-9AABCB96AAE8";

// An object: GUID, size (the 24-byte header included, unless stated otherwise), body.
ByteVec Object(const char* guid, const ByteVec& body, int64_t statedSize = -1)
{
    ByteVec o = Guid(guid);
    PutLe(o, statedSize < 0 ? 24 + body.size() : uint64_t(statedSize), 8);
    return Append(o, body), o;
}

// File Properties: play duration (100 ns), preroll (ms), flags (bit 0: broadcast).
ByteVec FileProperties(uint64_t play, uint64_t preroll, uint32_t flags = 2)
{
    ByteVec b(40, 0);  // File ID, File Size, Creation Date, Data Packets Count
    PutLe(b, play, 8), PutLe(b, play, 8), PutLe(b, preroll, 8), PutLe(b, flags, 4), PutLe(b, 3200, 8);
    PutLe(b, 1000000, 4);
    return Object("8CABDCA1-A947-11CF-8EE4-00C00C205365", b);
}

ByteVec StreamProperties(const char* type, uint16_t number, const ByteVec& specific, int64_t statedLength = -1)
{
    ByteVec b = Guid(type);
    Append(b, Guid("20FB5700-5B55-11CF-A8FD-00805F5C442B"));  // no error correction
    PutLe(b, 0, 8), PutLe(b, statedLength < 0 ? specific.size() : uint64_t(statedLength), 4);
    PutLe(b, 0, 4), PutLe(b, number, 2), PutLe(b, 0, 4);
    return Append(b, specific), Object("B7DC0791-A9B7-11CF-8EE6-00C00C205365", b);
}

ByteVec Video(uint16_t number, const char* fourCC, uint32_t width, int32_t height)
{
    ByteVec s;
    PutLe(s, width, 4), PutLe(s, uint32_t(std::abs(height)), 4), s.push_back(2), PutLe(s, 40, 2);
    PutLe(s, 40, 4), PutLe(s, width, 4), PutLe(s, uint32_t(height), 4), PutLe(s, 1, 2), PutLe(s, 24, 2);
    s.insert(s.end(), fourCC, fourCC + 4);
    s.resize(11 + 40);
    return StreamProperties("BC19EFC0-5B4D-11CF-A8FD-00805F5C442B", number, s);
}

ByteVec WaveFormat(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t byteRate, const ByteVec& extra = {})
{
    ByteVec w;
    PutLe(w, tag, 2), PutLe(w, channels, 2), PutLe(w, rate, 4), PutLe(w, byteRate, 4);
    PutLe(w, tag == 1 ? channels * 2 : 1487, 2), PutLe(w, tag == 1 ? 16 : 0, 2), PutLe(w, extra.size(), 2);
    return Append(w, extra), w;
}

ByteVec Audio(uint16_t number, uint16_t tag, uint16_t channels, uint32_t rate, uint32_t byteRate = 8000,
              const ByteVec& extra = {})
{
    return StreamProperties(kAudioMedia, number, WaveFormat(tag, channels, rate, byteRate, extra));
}

ByteVec HeaderExtension(std::initializer_list<ByteVec> objects)
{
    ByteVec data, b = Guid("ABD3D211-A9BA-11CF-8EE6-00C00C205365");
    for (const ByteVec& o : objects)
        Append(data, o);
    PutLe(b, 6, 2), PutLe(b, data.size(), 4);
    return Append(b, data), Object("5FBF03B5-A92E-11CF-8EE3-00C00C205365", b);
}

// Extended Stream Properties: AvgTimePerFrame, a stream name, a payload extension system, then optionally a Stream
// Properties Object of its own.
ByteVec ExtendedStreamProperties(uint16_t number, uint64_t avgTimePerFrame, const ByteVec& streamProperties = {})
{
    ByteVec b(44, 0);  // Start Time, End Time, bit rates, buffer sizes and fullness, Maximum Object Size
    PutLe(b, 0, 4), PutLe(b, number, 2), PutLe(b, 0, 2), PutLe(b, avgTimePerFrame, 8), PutLe(b, 1, 2), PutLe(b, 1, 2);
    PutLe(b, 0, 2), PutLe(b, 6, 2), PutLe(b, 0x0063'0062'0061, 6);  // "abc"
    Append(b, Guid("C6BD9450-867F-4907-83A3-C77921B733AD"));     // sample duration, 2 bytes, 3 bytes of info
    PutLe(b, 2, 2), PutLe(b, 3, 4), PutLe(b, 0, 3);
    return Append(b, streamProperties), Object("14E6A5CB-C672-4332-8399-A96952065B5A", b);
}

// Metadata (or Metadata Library) records {stream, name, type (3 DWORD, 5 WORD), value}, names NUL-terminated.
struct Description {
    uint16_t stream;
    std::string name;
    uint16_t type;
    uint32_t value;
};
ByteVec Metadata(std::initializer_list<Description> records, const char* guid = kMetadata)
{
    ByteVec b;
    PutLe(b, records.size(), 2);
    for (const Description& d : records) {
        const int size = d.type == 5 ? 2 : 4;
        PutLe(b, 0, 2), PutLe(b, d.stream, 2), PutLe(b, 2 * d.name.size() + 2, 2), PutLe(b, d.type, 2);
        PutLe(b, size, 4);
        for (char ch : d.name + '\0')
            PutLe(b, uint8_t(ch), 2);
        PutLe(b, d.value, size);
    }
    return Object(guid, b);
}

// The Header Object around the objects (count and size as stated unless given), and the start of a Data Object.
ByteVec Header(std::initializer_list<ByteVec> objects, int64_t count = -1, int64_t statedSize = -1)
{
    ByteVec body, h = Guid(kHeader);
    for (const ByteVec& o : objects)
        Append(body, o);
    PutLe(h, statedSize < 0 ? 30 + body.size() : uint64_t(statedSize), 8);
    PutLe(h, count < 0 ? objects.size() : uint64_t(count), 4), h.push_back(1), h.push_back(2);
    Append(h, body), Append(h, Guid(kDataObject));
    return h.resize(h.size() + 40), h;
}

// The records as text: "v1 wmv 320x240 4:3 29.97fps", "a2 wma 2x44100", MPEG audio with its layer index, channel
// mode and bit rate words ("a1 mpeg2audio 1x22050 2/3/32000").
std::string Describe(const md::StreamList& streams)
{
    using C = md::StreamCodec;
    static const std::map<C, std::string> names = {
        {C::Wmv, "wmv"}, {C::Vc1, "vc1"}, {C::Mpeg4Video, "mpeg4"}, {C::MsMpeg4, "msmpeg4"}, {C::Wma, "wma"},
        {C::WmaPro, "wmapro"}, {C::WmaLossless, "wmalossless"}, {C::WmaVoice, "wmavoice"},
        {C::PcmLittleEndian, "pcm"}, {C::Mpeg1Audio, "mpeg1audio"}, {C::Mpeg2Audio, "mpeg2audio"}};
    std::string out;
    char text[160];
    for (uint32_t i = 0; i < streams.Count(); ++i) {
        const md::StreamRecord& r = *streams.At(i);
        const auto name = names.find(r.codec);
        const char* codec = name == names.end() ? "other" : name->second.c_str();
        if (r.streamClass == md::StreamClass::Video) {
            std::snprintf(text, sizeof text, "v%u %s %ux%u", r.streamId, codec, r.video.width, r.video.height);
            out += text;
            out += r.video.aspectY ? " " + std::to_string(r.video.aspectX) + ":" + std::to_string(r.video.aspectY) : "";
            if (r.frameRate != 0)
                std::snprintf(text, sizeof text, " %.2ffps", r.frameRate), out += text;
        } else {
            const uint32_t* w = r.audio.codecSpecific;
            std::snprintf(text, sizeof text, "a%u %s %ux%u", r.streamId, codec, r.audio.channels, r.audio.sampleRate);
            out += text;
            if (r.codec == C::Mpeg1Audio || r.codec == C::Mpeg2Audio)
                std::snprintf(text, sizeof text, " %u/%u/%u", w[0], w[1], w[2]), out += text;
        }
        out += i + 1 < streams.Count() ? " | " : "";
    }
    return out;
}

constexpr uint64_t kPlay = 41460000;  // 4.146 s, the 3100 ms preroll included
constexpr int64_t kDuration = 10460000;

TEST(Asf, HeaderObjects)
{
    const ByteVec file = FileProperties(kPlay, 3100);
    const ByteVec wmv = Video(1, "WMV2", 320, 240);
    const ByteVec wma = Audio(2, 0x161, 2, 44100);
    const ByteVec both = Header({file, wmv, wma});
    const char* const kBoth = "v1 wmv 320x240 | a2 wma 2x44100";
    ByteVec mpeg1;  // MPEG1WAVEFORMAT: fwHeadLayer 2 (Layer II), dwHeadBitrate, fwHeadMode 2 (joint stereo)
    PutLe(mpeg1, 2, 2), PutLe(mpeg1, 256000, 4), PutLe(mpeg1, 2, 2), mpeg1.resize(22);
    ByteVec notAsf = both, nameTooLong = ExtendedStreamProperties(3, 400000, Audio(3, 0x161, 1, 32000));
    notAsf[0] ^= 1;
    nameTooLong[24 + 66] = 0xFF;  // Stream Name Length
    ByteVec extensionTooLong = HeaderExtension({ExtendedStreamProperties(1, 400000)});
    extensionTooLong[24 + 18] = extensionTooLong[24 + 19] = 0xFF;  // Header Extension Data Size
    ByteVec countTooLarge = Metadata({{1, "AspectRatioX", 3, 8}, {1, "AspectRatioY", 3, 9}});
    countTooLarge[24] = 0xFF;  // Description Records Count
    struct Case {
        const char* what;
        ByteVec file;
        std::string records;
        int64_t duration;  // the end of each stream class described
        uint32_t result = 1;
    } cases[] = {
        {"WMV2 and WMA v2", both, kBoth, kDuration},
        {"streams before File Properties", Header({wma, wmv, file}), "a2 wma 2x44100 | v1 wmv 320x240", kDuration},
        {"a broadcast file has no duration", Header({FileProperties(kPlay, 3100, 1), wmv, wma}), kBoth, -1},
        {"a preroll longer than the play duration: none", Header({FileProperties(20000000, 3100), wmv, wma}), kBoth, -1},
        {"a play duration equal to the preroll: none", Header({FileProperties(31000000, 3100), wma}), "a2 wma 2x44100", -1},
        {"without File Properties: none", Header({wmv, wma}), kBoth, -1},
        {"codecs by FourCC and format tag",
         Header({file, Video(1, "WVC1", 1280, 720), Video(2, "MP4S", 320, 240), Video(3, "MP43", 320, 240),
                 Video(4, "wmv3", 320, 240), Audio(5, 0x162, 6, 48000), Audio(6, 0x163, 2, 96000),
                 Audio(7, 0x0A, 1, 16000), Audio(8, 0x160, 1, 22050), Audio(9, 1, 2, 8000)}),
         "v1 vc1 1280x720 | v2 mpeg4 320x240 | v3 msmpeg4 320x240 | v4 wmv 320x240 | a5 wmapro 6x48000 | "
         "a6 wmalossless 2x96000 | a7 wmavoice 1x16000 | a8 wma 1x22050 | a9 pcm 2x8000",
         kDuration},
        // Layer index (0 I, 1 II, 2 III) / channel mode (1 joint stereo, 3 single channel) / bit rate.
        {"MPEG audio: Layer III at 22.05 kHz is MPEG-2; MPEG1WAVEFORMAT's fields",
         Header({file, Audio(1, 0x55, 1, 22050, 4000, ByteVec(12)), Audio(2, 0x50, 2, 48000, 32000, mpeg1)}),
         "a1 mpeg2audio 1x22050 2/3/32000 | a2 mpeg1audio 2x48000 1/1/256000", kDuration},
        {"several audio streams, all listed", Header({file, Audio(1, 0x161, 2, 44100), Audio(2, 0x161, 1, 22050)}),
         "a1 wma 2x44100 | a2 wma 1x22050", kDuration},
        {"a stream number seen twice is described once", Header({file, wmv, Video(1, "WVC1", 640, 480), wma}), kBoth,
         kDuration},
        {"stream number 0 and a command stream: no record",
         Header({file, Video(0, "WMV2", 320, 240), StreamProperties("59DACFC0-59E6-11D0-A3AC-00A0C90348F6", 3, {}), wma}),
         "a2 wma 2x44100", kDuration},
        {"not ASF", notAsf, "", -1, 0},

        {"AvgTimePerFrame 333667 x 100 ns: 29.97 fps",
         Header({file, HeaderExtension({ExtendedStreamProperties(1, 333667)}), Video(1, "WMV3", 720, 480), wma}),
         "v1 wmv 720x480 29.97fps | a2 wma 2x44100", kDuration},
        {"another stream's AvgTimePerFrame does not apply",
         Header({file, HeaderExtension({ExtendedStreamProperties(3, 400000)}), Video(1, "WMV3", 720, 480)}),
         "v1 wmv 720x480", kDuration},
        {"AspectRatioX/Y 8:9 on 720x480 (BT.601 4:3) is 720*8 : 480*9 = 4:3",
         Header({file, HeaderExtension({Metadata({{1, "AspectRatioX", 3, 8}, {1, "AspectRatioY", 3, 9}})}),
                 Video(1, "WMV3", 720, 480)}),
         "v1 wmv 720x480 4:3", kDuration},
        {"Metadata Library, WORD values: 1:1 on 640x356 is 160:89",
         Header({file, Video(1, "WMV2", 640, 356),
                 HeaderExtension({Metadata({{1, "AspectRatioX", 5, 1}, {1, "AspectRatioY", 5, 1}}, kMetadataLibrary)})}),
         "v1 wmv 640x356 160:89", kDuration},
        {"stream 0 is the whole file; a stream's own pair comes first",
         Header({file,
                 HeaderExtension({Metadata({{0, "AspectRatioX", 3, 1}, {0, "AspectRatioY", 3, 1},
                                            {2, "AspectRatioX", 3, 32}, {2, "AspectRatioY", 3, 27}})}),
                 Video(1, "WMV3", 720, 480), Video(2, "WMV3", 720, 480)}),
         "v1 wmv 720x480 3:2 | v2 wmv 720x480 16:9", kDuration},
        {"half a pair: no aspect",
         Header({file, HeaderExtension({Metadata({{1, "AspectRatioX", 3, 8}})}), Video(1, "WMV3", 720, 480)}),
         "v1 wmv 720x480", kDuration},
        {"a hidden stream inside Extended Stream Properties",
         Header({file, HeaderExtension({ExtendedStreamProperties(3, 0, Audio(3, 0x161, 1, 32000))}), wmv, wma}),
         "a3 wma 1x32000 | " + std::string(kBoth), kDuration},

        {"a header object larger than the file", Header({file, wmv, wma}, -1, 1ll << 40), kBoth, kDuration},
        {"cut inside the second stream", ByteVec(both.begin(), both.begin() + 30 + 104 + 129 + 50), "v1 wmv 320x240",
         kDuration},
        {"cut inside File Properties", ByteVec(both.begin(), both.begin() + 30 + 60), "", -1},
        {"only the header's start", ByteVec(both.begin(), both.begin() + 30), "", -1},
        {"an object size of 0 ends the walk", Header({file, wmv, Object(kPadding, ByteVec(8), 0), wma}),
         "v1 wmv 320x240", kDuration},
        {"an object size below 24 ends the walk", Header({file, Object(kPadding, ByteVec(8), 23), wmv}), "", -1},
        {"an object size past the header ends the walk", Header({file, wmv, Object(kPadding, {}, 1 << 20), wma}),
         "v1 wmv 320x240", kDuration},
        {"a count of header objects far larger than fit", Header({file, wmv, wma}, 0xFFFFFFFF), kBoth, kDuration},
        {"Type-Specific Data Length past its object",
         Header({file, StreamProperties(kAudioMedia, 3, WaveFormat(0x161, 2, 44100, 8000), 1000), wmv}),
         "v1 wmv 320x240", kDuration},
        {"a BITMAPINFOHEADER of negative height (top-down) is as tall", Header({file, Video(1, "WMV2", 320, -240)}),
         "v1 wmv 320x240", kDuration},
        {"a BITMAPINFOHEADER without width: no record", Header({file, Video(1, "WMV2", 0, 240), wma}),
         "a2 wma 2x44100", kDuration},
        {"a stream name past Extended Stream Properties: no hidden stream, the rate stands",
         Header({file, HeaderExtension({nameTooLong}), Video(3, "WMV2", 320, 240)}), "v3 wmv 320x240 25.00fps",
         kDuration},
        {"a Header Extension Data Size past its object", Header({file, extensionTooLong, wmv}),
         "v1 wmv 320x240 25.00fps", kDuration},
        {"a description count past the Metadata Object",
         Header({file, HeaderExtension({countTooLarge}), Video(1, "WMV3", 720, 480)}), "v1 wmv 720x480 4:3", kDuration},
    };
    for (const Case& c : cases) {
        MemoryInputStream in(c.file.data(), c.file.size());
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
    // 3 MiB of padding before the video: only the header's first MiB is read; what stands in it is described.
    const ByteVec big = Header({FileProperties(kPlay, 3100), Audio(2, 0x161, 2, 44100),
                                Object(kPadding, ByteVec(3 << 20)), Video(1, "WMV2", 320, 240)});
    MemoryInputStream in(big.data(), big.size());
    md::AsfDemux demux;
    md::StreamList streams;
    ASSERT_EQ(demux.Parse(&in, &streams), 1u);
    EXPECT_EQ(std::tuple(Describe(streams), demux.Times().range.audioEndTime),
              std::tuple(std::string("a2 wma 2x44100"), kDuration));
    EXPECT_LE(in.BytesRead(), 30u + md::kMaxAsfHeaderBytes);

    ByteVec head = Guid(kHeader), data = Guid(kDataObject);
    head.resize(30), data.resize(30);
    EXPECT_TRUE(md::ProbeAsf({.head = head}));
    EXPECT_FALSE(md::ProbeAsf({.head = md::Bytes(head).first(29)}));
    EXPECT_FALSE(md::ProbeAsf({.head = data}));
}

}  // namespace
