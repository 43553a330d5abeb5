// ASF headers built object by object: what the conformance files do not show (the rules of File Properties'
// duration, Extended Stream Properties and its hidden streams, the AspectRatioX/Y descriptions, MPEG audio words)
// and headers that lie about their sizes.
#include "asf/asf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
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
// preroll included), Preroll (ms), Flags (bit 0: broadcast), Minimum and Maximum Data Packet Size, bit rate.
ByteVec FileProperties(uint64_t play, uint64_t preroll, uint32_t flags = 2, uint32_t minPacket = 0,
                       uint32_t maxPacket = 0)
{
    return Object("8CABDCA1-A947-11CF-8EE4-00C00C205365",
                  Concat({ByteVec(40), Le(play, 8), Le(play, 8), Le(preroll, 8), Le(flags, 4), Le(minPacket, 4),
                          Le(maxPacket, 4), Le(0, 4)}));
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
ByteVec Video(uint16_t number, uint32_t width, uint32_t height)
{
    return StreamProperties(
        "BC19EFC0-5B4D-11CF-A8FD-00805F5C442B", number,
        Concat({Le(width, 4), Le(height, 4), ByteVec{2}, Le(40, 2), mdtest::BitmapInfoHeader(width, height, "WMV3")}));
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

// A payload of a data packet: stream number, Offset Into Media Object, presentation time (ms) and the bytes; a
// compressed payload (replicated data length 1) holds `data.size()` one-byte sub-payloads, `delta` ms apart.
struct Payload {
    uint8_t stream;
    uint32_t offset;
    uint32_t time;
    ByteVec data = ByteVec(10, 0xAB);
    bool compressed = false;
    uint8_t delta = 0;
};

// How a data packet's fields are laid out: Length Type Flags beside the multiple-payloads bit (packet length,
// sequence and padding length types), error correction data before them, a payload length past the packet.
struct Layout {
    uint8_t lengthTypes = 0x10;  // padding length a WORD; no packet length, no sequence
    bool errorCorrection = false;
    bool overlong = false;
};

// Data packets are of 128 bytes.
constexpr uint32_t kPacketSize = 128;

// A data packet: Property Flags 0x5D (stream number BYTE, media object number BYTE, offset DWORD,
// replicated data length BYTE), the payloads (several: payload lengths WORDs), zeros as padding.
ByteVec Packet(const std::vector<Payload>& payloads, Layout layout = {})
{
    const bool multiple = payloads.size() != 1;
    ByteVec body;
    if (multiple)
        body.push_back(uint8_t(0x80 | payloads.size()));
    for (const Payload& p : payloads) {
        body = Concat({body, ByteVec{p.stream, 0}, Le(p.compressed ? p.time : p.offset, 4)});
        if (p.compressed) {
            body = Concat({body, ByteVec{1, p.delta}});
        } else {
            body = Concat({body, ByteVec{8}, Le(p.data.size() + p.offset, 4), Le(p.time, 4)});
        }
        ByteVec data;
        for (uint8_t b : p.data)
            data = p.compressed ? Concat({data, ByteVec{1, b}}) : Concat({data, ByteVec{b}});
        if (multiple)
            mdtest::PutLe(body, data.size() + (layout.overlong ? kPacketSize : 0), 2);
        mdtest::Append(body, data);
    }
    const uint8_t types = uint8_t(layout.lengthTypes | (multiple ? 1 : 0));
    const auto field = [](uint8_t type, uint64_t value) { return Le(value, type == 3 ? 4 : type); };
    ByteVec head = layout.errorCorrection ? ByteVec{0x82, 0, 0} : ByteVec{};
    const size_t fixed = head.size() + 2 + field((types >> 5) & 3, 0).size() + field((types >> 1) & 3, 0).size() +
                         field((types >> 3) & 3, 0).size() + 6;
    if (fixed + body.size() > kPacketSize) {
        ADD_FAILURE() << "the payloads need more than " << kPacketSize << " bytes";
        return {};
    }
    const size_t padding = kPacketSize - fixed - body.size();
    head = Concat({head, ByteVec{types, 0x5D}, field((types >> 5) & 3, kPacketSize), field((types >> 1) & 3, 7),
                   field((types >> 3) & 3, padding), Le(0, 6)});
    return Concat({head, body, ByteVec(padding)});
}

// The Data Object around the packets.
ByteVec DataObject(const std::vector<ByteVec>& packets)
{
    ByteVec all;
    for (const ByteVec& p : packets)
        mdtest::Append(all, p);
    return Concat({Guid("75B22636-668E-11CF-A6D9-00AA0062CE6C"), Le(50 + all.size(), 8), ByteVec(16),
                   Le(packets.size(), 8), Le(0x0101, 2), all});
}

// Presentation times of pictures at num/den fps from 3146 ms on, each rounded to the millisecond as a writer does.
std::vector<uint32_t> Times(int count, uint32_t num, uint32_t den)
{
    std::vector<uint32_t> t;
    for (int i = 0; i < count; ++i)
        t.push_back(uint32_t(3146 + std::llround(i * 1000.0 * den / num)));
    return t;
}

// One packet per picture of stream 1.
std::vector<ByteVec> PicturePackets(const std::vector<uint32_t>& times, Layout layout = {})
{
    std::vector<ByteVec> packets;
    for (uint32_t t : times)
        packets.push_back(Packet({{1, 0, t}}, layout));
    return packets;
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

TEST(Asf, FrameRateFromPresentationTimes)
{
    // A WMV stream 1 and a WMA stream 2 whose header states no AvgTimePerFrame, and the data packets that follow.
    const ByteVec file = FileProperties(kPlay, 3100, 2, kPacketSize, kPacketSize);
    const ByteVec wmv = Video(1, 320, 240), wma = Audio(2, 0x161, 2, 44100);
    const auto asf = [&](const std::vector<ByteVec>& packets, const ByteVec& properties) {
        return Concat({Header({properties, wmv, wma}), DataObject(packets)});
    };
    const std::vector<uint32_t> at25 = Times(10, 25, 1);
    // Decode order I0 P3 B1 B2 P6 B4 B5 P9: the B-pictures of P9 are not read yet.
    const std::vector<uint32_t> reordered = {at25[0], at25[3], at25[1], at25[2], at25[6], at25[4], at25[5], at25[9]};
    std::vector<ByteVec> pieces;  // each picture in two pieces; the second states another time
    for (uint32_t t : at25)
        pieces.push_back(Packet({{1, 0, t}})), pieces.push_back(Packet({{1, 10, t + 7}}));
    std::vector<ByteVec> interleaved;  // audio objects 23 ms apart between the pictures
    for (uint32_t i = 0; i < at25.size(); ++i)
        interleaved.push_back(Packet({{2, 0, 3100 + 23 * i}, {1, 0, at25[i]}, {2, 0, 3111 + 23 * i}}));
    // A picture 13 ms after the third in a packet whose payload, or padding, runs past it.
    std::vector<ByteVec> overlong = PicturePackets(at25), padded = PicturePackets(at25);
    overlong.insert(overlong.begin() + 3, Packet({{1, 0, at25[2] + 13}, {2, 0, 0}}, {.overlong = true}));
    padded.insert(padded.begin() + 3, Packet({{1, 0, at25[2] + 13}}));
    padded[3][3] = 0xFF;  // the Padding Length WORD's high byte
    const ByteVec stated = Concat({file, HeaderExtension(ExtendedStreamProperties(1, 333667))});

    struct Case {
        const char* what;
        ByteVec file;
        const char* fps;
    } cases[] = {
        {"pictures 40 ms apart", asf(PicturePackets(at25), file), "25.00"},
        {"30000/1001 over 40 pictures: 30 fps puts the last 1.7 ms away",
         asf(PicturePackets(Times(40, 30000, 1001)), file), "29.97"},
        {"30000/1001 over 12 pictures: 30 fps fits them as well, and the whole rate is taken",
         asf(PicturePackets(Times(12, 30000, 1001)), file), "30.00"},
        {"24000/1001 over 48 pictures", asf(PicturePackets(Times(48, 24000, 1001)), file), "23.98"},
        {"12.5 fps: no whole or NTSC rate fits, the mean", asf(PicturePackets(Times(8, 25, 2)), file), "12.50"},
        {"B-pictures are sorted in; the run ends at the gap of pictures still to come",
         asf(PicturePackets(reordered), file), "25.00"},
        {"four intervals give a rate", asf(PicturePackets(Times(5, 25, 1)), file), "25.00"},
        {"three do not", asf(PicturePackets(Times(4, 25, 1)), file), "0.00"},
        {"a picture's later pieces (offset above 0) start no picture", asf(pieces, file), "25.00"},
        {"the audio stream's objects are not pictures", asf(interleaved, file), "25.00"},
        {"compressed payloads: one-byte sub-payloads a delta apart",
         asf({Packet({{1, 0, 3146, ByteVec(6), true, 40}})}, file), "25.00"},
        {"error correction data before the payload parsing information",
         asf(PicturePackets(at25, {.errorCorrection = true}), file), "25.00"},
        {"a DWORD packet length, a BYTE sequence and a BYTE padding length",
         asf(PicturePackets(at25, {.lengthTypes = 0x60 | 0x02 | 0x08}), file), "25.00"},
        {"a payload length past its packet: the packet adds nothing", asf(overlong, file), "25.00"},
        {"a padding length past its packet: the packet adds nothing", asf(padded, file), "25.00"},
        {"AvgTimePerFrame stated: the header's rate", asf(PicturePackets(at25), stated), "29.97"},
        {"packets of different sizes: not read",
         asf(PicturePackets(at25), FileProperties(kPlay, 3100, 2, kPacketSize, kPacketSize + 1)), "0.00"},
        {"no Data Object after the header", Concat({Header({file, wmv, wma}), PicturePackets(at25)[0]}), "0.00"},
    };
    for (const Case& c : cases) {
        md::MemoryInputStream in(c.file.data(), c.file.size());
        md::AsfDemux demux;
        md::StreamList streams;
        ASSERT_EQ(demux.Parse(&in, &streams), 1u) << c.what;
        EXPECT_EQ(Describe(streams), "v1 320x240 0:0 " + std::string(c.fps) + "fps | a2 wma 2x44100") << c.what;
    }

    // The frame duration of a measured rate; and the reads: at most 256 KiB of packets past the Data Object's
    // start, though no picture is found in them.
    const ByteVec found = asf(PicturePackets(at25), file);
    md::MemoryInputStream in(found.data(), found.size());
    md::AsfDemux demux;
    ASSERT_EQ(demux.Parse(&in, nullptr), 1u);
    EXPECT_EQ(demux.Times().range.videoFrameDuration, 400000);
    const ByteVec header = Header({file, wmv, wma});
    const ByteVec quiet = Concat({header, DataObject(std::vector<ByteVec>(4096, Packet({{2, 0, 3100}})))});
    md::MemoryInputStream quietIn(quiet.data(), quiet.size());
    md::StreamList streams;
    ASSERT_EQ(md::AsfDemux().Parse(&quietIn, &streams), 1u);
    EXPECT_EQ(Describe(streams), "v1 320x240 0:0 0.00fps | a2 wma 2x44100");
    EXPECT_LE(quietIn.BytesRead(), 30 + header.size() + 50 + (256u << 10));
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
