// AVI files built chunk by chunk: the header rules the conformance files do not show (stream rates of 0, 'vprp',
// OpenDML 'dmlh', lengths past reason, headers cut or lying about their sizes) and what the codec's own headers in
// the first chunk of each stream add.
#include "avi/avi_demux.h"

#include <gtest/gtest.h>

#include "input/memory_input_stream.h"
#include "support/dv_builders.h"
#include "support/mp4_builders.h"
#include "support/stream_builders.h"

namespace {

using md::StreamClass;
using md::StreamCodec;
using mdtest::BitmapInfoHeader;
using mdtest::ByteVec;
using mdtest::Concat;
using mdtest::Le;
using mdtest::WaveFormatEx;

ByteVec Chunk(const char* id, const ByteVec& body, int64_t statedSize = -1)
{
    ByteVec c = Concat({ByteVec(id, id + 4), Le(statedSize < 0 ? body.size() : uint64_t(statedSize), 4), body});
    return body.size() & 1 ? Concat({c, ByteVec{0}}) : c;
}

ByteVec List(const char* type, std::initializer_list<ByteVec> chunks, int64_t statedSize = -1)
{
    ByteVec body(type, type + 4);
    for (const ByteVec& c : chunks)
        mdtest::Append(body, c);
    return Chunk("LIST", body, statedSize);
}

// 'avih' (dwMicroSecPerFrame, dwTotalFrames, 320x240), 'strh' (fccType, fccHandler, dwScale, dwRate, dwLength).
ByteVec Avih(uint32_t usPerFrame, uint32_t frames)
{
    return Chunk("avih", Concat({Le(usPerFrame, 4), ByteVec(12), Le(frames, 4), ByteVec(12), Le(320, 4), Le(240, 4),
                                 ByteVec(16)}));
}
ByteVec Strh(const char* type, uint32_t scale, uint32_t rate, uint32_t length)
{
    return Chunk("strh", Concat({ByteVec(type, type + 4), ByteVec(16), Le(scale, 4), Le(rate, 4), Le(0, 4),
                                 Le(length, 4), ByteVec(20)}));
}

ByteVec VideoList(const ByteVec& strf, uint32_t rate = 25)
{
    return List("strl", {Strh("vids", 1, rate, 25), Chunk("strf", strf)});
}
ByteVec AudioList(const ByteVec& strf, uint32_t scale = 1, uint32_t rate = 48000, uint32_t length = 48000)
{
    return List("strl", {Strh("auds", scale, rate, length), Chunk("strf", strf)});
}

// RIFF 'AVI ': the header list, a 'JUNK' chunk of odd size (padded to even), the data list.
ByteVec Avi(const ByteVec& hdrl, std::initializer_list<ByteVec> movi = {})
{
    return Chunk("RIFF", Concat({ByteVec{'A', 'V', 'I', ' '}, hdrl, Chunk("JUNK", ByteVec(3)), List("movi", movi)}));
}

struct Parsed {
    uint32_t result = 0;
    std::vector<std::tuple<StreamClass, uint32_t, StreamCodec>> records;
    std::vector<uint32_t> first;  // of the first record: video width, height, aspect, fps x 100, field order; audio
                                  // channels, rate, words 0 (MPEG audio: the layer index) and 2 (the bit rate), the
                                  // audio frame duration
    int64_t videoEnd = -1, audioEnd = -1;
    ByteVec extra1 = {};  // the first record's first codec header
};

Parsed Parse(const ByteVec& file)
{
    md::MemoryInputStream in(file.data(), file.size());
    md::AviDemux demux;
    md::StreamList streams;
    Parsed p;
    p.result = demux.Parse(&in, &streams);
    for (uint32_t i = 0; i < streams.Count(); ++i)
        p.records.emplace_back(streams.At(i)->streamClass, streams.At(i)->streamId, streams.At(i)->codec);
    if (const md::StreamRecord* r = streams.At(0)) {
        p.extra1.assign(r->extraData1, r->extraData1 + r->extraData1Length);
        const md::VideoParams& v = r->video;
        const md::AudioParams& a = r->audio;
        p.first =
            r->streamClass == StreamClass::Video
                ? std::vector<uint32_t>{v.width,      v.height, v.aspectX, v.aspectY, uint32_t(r->frameRate * 100),
                                        r->fieldOrder}
                : std::vector<uint32_t>{a.channels, a.sampleRate, a.codecSpecific[0], a.codecSpecific[2]};
    }
    const TimeRangeInfo& t = demux.Times().range;
    if (streams.Count() != 0 && streams.At(0)->streamClass == StreamClass::Audio)
        p.first.push_back(t.audioFrameDuration);
    p.videoEnd = t.videoEndTime, p.audioEnd = t.audioEndTime;
    return p;
}

constexpr int64_t kSecond = 10000000;

TEST(Avi, HeaderRules)
{
    const ByteVec avih = Avih(40000, 25), mjpgFormat = BitmapInfoHeader(320, 240, "MJPG");
    const ByteVec mjpg = VideoList(mjpgFormat), pcmFormat = WaveFormatEx(1, 2, 48000, 192000, 4, 16);
    const ByteVec pcm = AudioList(pcmFormat);
    const auto V = std::tuple(StreamClass::Video, 1u, StreamCodec::Jpeg);
    const auto A = [](uint32_t id) { return std::tuple(StreamClass::Audio, id, StreamCodec::PcmLittleEndian); };
    const std::vector<uint32_t> qvga = {320, 240, 4, 3, 2500, 0};
    ByteVec cut = Avi(List("hdrl", {avih, mjpg, pcm}), {Chunk("00dc", ByteVec(5000)), Chunk("01wb", ByteVec(5000))});
    cut.erase(cut.end() - 7000, cut.end());  // inside the first frame: no index, 'movi' and RIFF sizes past the end
    struct Case {
        const char* what;
        ByteVec file;
        Parsed expected;
    } cases[] = {
        {"MJPG and PCM: ids 1, 2; square pels; frames x frame time; dwLength x dwScale / dwRate",
         Avi(List("hdrl", {avih, Chunk("JUNK", ByteVec(3)), mjpg, pcm})), {1, {V, A(2)}, qvga, kSecond, kSecond}},
        {"'vprp' states the display aspect, over square pels",
         Avi(List("hdrl", {avih,
                           List("strl", {Strh("vids", 1, 25, 25), Chunk("strf", mjpgFormat),
                                         Chunk("vprp", Concat({ByteVec(20), Le(0x00010001, 4), ByteVec(44)}))}),
                           pcm})),
         {1, {V, A(2)}, {320, 240, 1, 1, 2500, 0}, kSecond, kSecond}},
        {"OpenDML: 'dmlh' counts the frames of every RIFF, 'avih' those of the first",
         Avi(List("hdrl", {Avih(40000, 10000), mjpg, AudioList(pcmFormat, 1, 48000, 48000 * 3600),
                           List("odml", {Chunk("dmlh", Concat({Le(90000, 4), ByteVec(244)}))})})),
         {1, {V, A(2)}, qvga, 3600 * kSecond, 3600 * kSecond}},
        {"video dwRate 0: the rate of 'avih'", Avi(List("hdrl", {avih, VideoList(mjpgFormat, 0), pcm})),
         {1, {V, A(2)}, qvga, kSecond, kSecond}},
        {"video dwRate 0 and no dwMicroSecPerFrame: no rate, no video end",
         Avi(List("hdrl", {Avih(0, 25), VideoList(mjpgFormat, 0), pcm})),
         {1, {V, A(2)}, {320, 240, 4, 3, 0, 0}, -1, kSecond}},
        {"audio dwRate 0: no audio end", Avi(List("hdrl", {avih, mjpg, AudioList(pcmFormat, 1, 0)})),
         {1, {V, A(2)}, qvga, kSecond, -1}},
        {"a 'strf' shorter than BITMAPINFOHEADER: no video record; the audio keeps its number",
         Avi(List("hdrl", {avih, VideoList(ByteVec(mjpgFormat.begin(), mjpgFormat.begin() + 30)), pcm})),
         {1, {A(2)}, {2, 48000, 0, 0, 0}, -1, kSecond}},
        {"'hdrl' and 'strl' sizes past the end: read as far as they go",
         Chunk("RIFF", Concat({ByteVec{'A', 'V', 'I', ' '},
                               List("hdrl", {avih, List("strl", {Strh("vids", 1, 25, 25), Chunk("strf", mjpgFormat)},
                                                        1 << 20)},
                                    1 << 24)})),
         {1, {V}, qvga, kSecond, -1}},
        {"cut inside the first frame: the headers' times", cut, {1, {V, A(2)}, qvga, kSecond, kSecond}},
        {"headers never completed (no frames, no length): no times",
         Avi(List("hdrl", {Avih(40000, 0), mjpg, AudioList(pcmFormat, 1, 48000, 0)})), {1, {V, A(2)}, qvga, -1, -1}},
        {"a length past reason: no audio end",
         Avi(List("hdrl", {avih, mjpg, AudioList(pcmFormat, 1000000, 1, 0xFFFFFFFF)})),
         {1, {V, A(2)}, qvga, kSecond, -1}},
        {"three audio streams: all listed, the times from the first",
         Avi(List("hdrl", {avih, mjpg, pcm, AudioList(pcmFormat, 1, 48000, 96000), AudioList(pcmFormat, 1, 96000)})),
         {1, {V, A(2), A(3), A(4)}, qvga, kSecond, kSecond}},
        {"no 'hdrl': an AVI file without records", Avi({}), {1, {}, {}, -1, -1}},
        {"RIFF WAVE is not AVI", [&] { ByteVec f = Avi(List("hdrl", {avih, mjpg})); return f[8] = 'W', f; }(),
         {0, {}, {}, -1, -1}},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.file);
        const Parsed& e = c.expected;
        EXPECT_EQ(std::tuple(p.result, p.records, p.first, p.videoEnd, p.audioEnd),
                  std::tuple(e.result, e.records, e.first, e.videoEnd, e.audioEnd))
            << c.what;
    }
    // dwMicroSecPerFrame in 100-ns units is the frame time where 'strh' states no rate.
    md::MemoryInputStream in(cases[3].file.data(), cases[3].file.size());
    md::AviDemux demux;
    md::StreamList streams;
    ASSERT_EQ(demux.Parse(&in, &streams), 1u);
    EXPECT_EQ(demux.Times().range.videoFrameDuration, 400000u);
}

TEST(Avi, FirstChunks)
{
    const ByteVec avih = Avih(40000, 25);
    const auto Mp3List = [](uint16_t blockAlign) {
        return List("strl",
                    {Strh("auds", 1152, 44100, 40), Chunk("strf", WaveFormatEx(0x55, 1, 44100, 16000, blockAlign, 0))});
    };
    const ByteVec mp3 = mdtest::MpegAudioFrame(3, 9, 0, 3, 417);  // 128 kbit/s, 44.1 kHz, single channel
    mdtest::AvcSpsFields interlaced;
    interlaced.frameMbsOnly = false, interlaced.heightMapUnitsMinus1 = 33, interlaced.cropBottom = 2;
    const ByteVec sps = mdtest::AvcSpsNal({});
    const ByteVec avcC = Concat({ByteVec{1, 100, 0, 40, 0xFF, 0xE1}, mdtest::Be(sps.size(), 2), sps});
    const auto mpeg2Frame = [](uint8_t aspectCode) {
        mdtest::SequenceFields mpeg2;
        mpeg2.aspectCode = aspectCode;
        return Concat({mdtest::SequenceHeaders(mpeg2), mdtest::GopHeaderFlags(), mdtest::PictureHeaderFields(),
                       mdtest::PictureCodingExtension(false), mdtest::SliceStart()});
    };
    struct Case {
        const char* what;
        ByteVec stream;
        std::initializer_list<ByteVec> movi;
        std::pair<StreamCodec, std::vector<uint32_t>> expected;  // the first record's codec and fields
    } cases[] = {
        {"MPEG audio: the layer and the bit rate of the first frame, past an index chunk and into a 'rec ' list",
         Mp3List(1),
         {Chunk("ix00", ByteVec(24)), List("rec ", {Chunk("00wb", mp3)})},
         {StreamCodec::Mpeg1Audio, {1, 44100, 2, 128000, 261224}}},
        {"one MPEG audio frame per chunk (nBlockAlign 1152): no single bit rate",
         Mp3List(1152),
         {Chunk("00wb", mp3)},
         {StreamCodec::Mpeg1Audio, {1, 44100, 2, 0, 261224}}},
        {"MPEG-2 Layer III, one frame per chunk (nBlockAlign 576): no single bit rate",
         List("strl", {Strh("auds", 576, 22050, 40), Chunk("strf", WaveFormatEx(0x55, 1, 22050, 8000, 576, 0))}),
         {Chunk("00wb", Concat({ByteVec{0xFF, 0xF3, 0x80, 0xC0}, ByteVec(204)}))},  // 64 kbit/s, single channel
         {StreamCodec::Mpeg2Audio, {1, 22050, 2, 0, 261224}}},
        {"MPEG audio without a chunk: Layer III as the format tag says",
         Mp3List(1),
         {},
         {StreamCodec::Mpeg1Audio, {1, 44100, 2, 0, 261224}}},
        {"AC-3: channels from the first syncframe's acmod and lfeon",
         AudioList(WaveFormatEx(0x2000, 2, 48000, 56000, 1792, 0)),
         {Chunk("00wb", mdtest::Ac3FrameStart(0, 28, 8, 7, true, 1792))},
         {StreamCodec::Ac3, {6, 48000, 7, 1, 320000}}},
        {"XVID: the size of the first frame's VOL over the BITMAPINFOHEADER's",
         VideoList(BitmapInfoHeader(640, 480, "XVID")),
         {Chunk("00dc", Concat({mdtest::Mpeg4Vol(320, 240, 25, false), mdtest::Mpeg4IVopHeader(5, true)}))},
         {StreamCodec::Mpeg4Video, {320, 240, 4, 3, 2500, 0}}},
        {"H264: an SPS without frame_mbs_only after a three-byte start code, top field first",
         VideoList(BitmapInfoHeader(1920, 1080, "H264")),
         {Chunk("00dc", Concat({ByteVec{0, 0, 1}, mdtest::AvcSpsNal(interlaced)}))},
         {StreamCodec::H264Ts, {1920, 1080, 16, 9, 2500, 1}}},
        {"avc1: the SPS of the avcC",
         VideoList(BitmapInfoHeader(1920, 1088, "avc1", avcC)),
         {},
         {StreamCodec::H264Ts, {1920, 1080, 16, 9, 2500, 0}}},
        {"MPEG-2: 16:9 from the sequence header, bottom field first from the picture coding extension",
         VideoList(BitmapInfoHeader(720, 576, "MPG2")),
         {Chunk("00dc", mpeg2Frame(3))},
         {StreamCodec::Mpeg2Video, {720, 576, 16, 9, 2500, 2}}},
        {"MPEG-2 of square samples: the picture's shape, unreduced",
         VideoList(BitmapInfoHeader(720, 576, "MPG2")),
         {Chunk("00dc", mpeg2Frame(1))},
         {StreamCodec::Mpeg2Video, {720, 576, 720, 576, 2500, 2}}},
        {"dvsd: 16:9 and bottom field first from the VAUX of the first chunk that is not empty",
         VideoList(BitmapInfoHeader(720, 576, "dvsd")),
         {Chunk("00dc", ByteVec{}), Chunk("00dc", mdtest::DvFrame({.pal = true, .disp = 2}))},
         {StreamCodec::DvVideo, {720, 576, 16, 9, 2500, 2}}},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(Avi(List("hdrl", {avih, c.stream}), c.movi));
        ASSERT_FALSE(p.records.empty()) << c.what;
        EXPECT_EQ(std::pair(std::get<2>(p.records[0]), p.first), c.expected) << c.what;
    }
    // The avcC's SPS becomes the codec header, byte for byte after its start code.
    const ByteVec header = Parse(Avi(List("hdrl", {avih, VideoList(BitmapInfoHeader(1920, 1088, "avc1", avcC))}), {})).extra1;
    ASSERT_GE(header.size(), sps.size());
    EXPECT_TRUE(std::equal(sps.begin(), sps.end(), header.end() - std::ptrdiff_t(sps.size())));
}

}  // namespace
