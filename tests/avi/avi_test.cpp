// AVI files built chunk by chunk: the header rules (frame counts, stream rates and lengths, 'vprp', OpenDML 'dmlh'),
// the records each stream gets or does not get when its headers are bad or cut short, and what the codec's own
// headers in the first chunk of each stream add.
#include "avi/avi_demux.h"

#include <gtest/gtest.h>

#include "input/memory_input_stream.h"
#include "support/dv_builders.h"
#include "support/mp4_builders.h"
#include "support/stream_builders.h"

namespace {

using md::StreamClass;
using md::StreamCodec;
using mdtest::Append;
using mdtest::ByteVec;

void PutLe(ByteVec& b, uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}

ByteVec Chunk(const char* id, const ByteVec& body, int64_t statedSize = -1)
{
    ByteVec c(id, id + 4);
    PutLe(c, statedSize < 0 ? body.size() : uint64_t(statedSize), 4);
    Append(c, body);
    if (body.size() & 1)
        c.push_back(0);
    return c;
}

ByteVec List(const char* type, std::initializer_list<ByteVec> chunks, int64_t statedSize = -1)
{
    ByteVec body(type, type + 4);
    for (const ByteVec& c : chunks)
        Append(body, c);
    return Chunk("LIST", body, statedSize);
}

ByteVec Words(std::initializer_list<uint32_t> words, size_t size)
{
    ByteVec b;
    for (uint32_t w : words)
        PutLe(b, w, 4);
    b.resize(size);
    return b;
}

ByteVec Avih(uint32_t usPerFrame, uint32_t frames)
{
    return Words({usPerFrame, 0, 0, 0, frames, 0, 2, 0, 320, 240}, 56);
}

ByteVec Strh(const char* type, const char* handler, uint32_t scale, uint32_t rate, uint32_t length, size_t size = 56)
{
    ByteVec h(type, type + 4);
    h.insert(h.end(), handler, handler + 4);
    Append(h, Words({0, 0, 0, scale, rate, 0, length}, 48));
    h.resize(size);
    return h;
}

ByteVec Bitmap(int32_t height, const char* fourCC, const ByteVec& extra = {}, uint32_t width = 320)
{
    ByteVec b = Words({uint32_t(40 + extra.size()), width, uint32_t(height), 0x00180001}, 16);
    b.insert(b.end(), fourCC, fourCC + 4);
    b.resize(40);
    Append(b, extra);
    return b;
}

ByteVec Wave(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t byteRate, uint16_t align, uint16_t bits)
{
    ByteVec w;
    PutLe(w, tag, 2), PutLe(w, channels, 2), PutLe(w, rate, 4), PutLe(w, byteRate, 4), PutLe(w, align, 2);
    PutLe(w, bits, 2), PutLe(w, 0, 2);
    return w;
}

ByteVec VideoList(const ByteVec& strf, uint32_t rate = 25, uint32_t scale = 1)
{
    return List("strl", {Chunk("strh", Strh("vids", "    ", scale, rate, 25)), Chunk("strf", strf)});
}
ByteVec PcmList(uint32_t length = 48000, uint32_t rate = 48000)
{
    return List("strl", {Chunk("strh", Strh("auds", "\1\0\0\0", 1, rate, length)),
                         Chunk("strf", Wave(1, 2, 48000, 192000, 4, 16))});
}

ByteVec Avi(const ByteVec& hdrl, std::initializer_list<ByteVec> movi = {})
{
    ByteVec body = {'A', 'V', 'I', ' '};
    Append(body, hdrl);
    Append(body, List("movi", movi));
    return Chunk("RIFF", body);
}
ByteVec Hdrl(std::initializer_list<ByteVec> chunks, int64_t statedSize = -1)
{
    return List("hdrl", chunks, statedSize);
}

struct Parsed {
    uint32_t result = 0;
    std::vector<std::tuple<StreamClass, uint32_t, StreamCodec>> records;
    std::vector<uint32_t> first;  // of the first record: video width, height, aspect, fps, field order; audio
                                  // channels, rate, bit rate word
    int64_t videoEnd = -1, audioEnd = -1;
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
        const md::VideoParams& v = r->video;
        const md::AudioParams& a = r->audio;
        p.first =
            r->streamClass == StreamClass::Video
                ? std::vector<uint32_t>{v.width,      v.height, v.aspectX, v.aspectY, uint32_t(r->frameRate * 100),
                                        r->fieldOrder}
                : std::vector<uint32_t>{a.channels, a.sampleRate, a.codecSpecific[2]};
    }
    p.videoEnd = demux.Times().range.videoEndTime, p.audioEnd = demux.Times().range.audioEndTime;
    return p;
}

constexpr int64_t kSecond = 10000000;

TEST(Avi, HeaderRules)
{
    const ByteVec avih = Chunk("avih", Avih(40000, 25));
    const ByteVec mjpgFormat = Bitmap(240, "MJPG");
    const ByteVec mjpg = VideoList(mjpgFormat), pcm = PcmList();
    const auto V = [](uint32_t id, StreamCodec c) { return std::tuple(StreamClass::Video, id, c); };
    const auto A = [](uint32_t id) { return std::tuple(StreamClass::Audio, id, StreamCodec::PcmLittleEndian); };
    const std::vector<uint32_t> qvga = {320, 240, 4, 3, 2500, 0};
    ByteVec cut = Avi(Hdrl({avih, mjpg, pcm}), {Chunk("00dc", ByteVec(5000)), Chunk("01wb", ByteVec(5000))});
    cut.erase(cut.end() - 7000, cut.end());  // inside the first frame: no index, 'movi' and RIFF sizes past the end
    struct Case {
        const char* what;
        ByteVec file;
        Parsed expected;
    } cases[] = {
        {"MJPG and PCM: ids 1, 2; square pels; frames x frame time; dwLength x dwScale / dwRate",
         Avi(Hdrl({avih, mjpg, pcm})), {1, {V(1, StreamCodec::Jpeg), A(2)}, qvga, kSecond, kSecond}},
        {"'vprp' states the display aspect",
         Avi(Hdrl({avih,
                   List("strl", {Chunk("strh", Strh("vids", "MJPG", 1, 25, 25)), Chunk("strf", mjpgFormat),
                                 Chunk("vprp", Words({0, 0, 25, 320, 240, 0x00100009}, 68))}),
                   pcm})),
         {1, {V(1, StreamCodec::Jpeg), A(2)}, {320, 240, 16, 9, 2500, 0}, kSecond, kSecond}},
        {"OpenDML: 'dmlh' counts the frames of every RIFF, 'avih' those of the first",
         Avi(Hdrl({Chunk("avih", Avih(40000, 10000)), mjpg, PcmList(48000 * 3600),
                   List("odml", {Chunk("dmlh", Words({90000}, 248))})})),
         {1, {V(1, StreamCodec::Jpeg), A(2)}, qvga, 3600 * kSecond, 3600 * kSecond}},
        {"video dwRate 0: the rate of 'avih'", Avi(Hdrl({avih, VideoList(Bitmap(240, "MJPG"), 0), pcm})),
         {1, {V(1, StreamCodec::Jpeg), A(2)}, qvga, kSecond, kSecond}},
        {"video dwScale 0: the same", Avi(Hdrl({avih, VideoList(Bitmap(240, "MJPG"), 25, 0), pcm})),
         {1, {V(1, StreamCodec::Jpeg), A(2)}, qvga, kSecond, kSecond}},
        {"audio dwRate 0: no audio end", Avi(Hdrl({avih, mjpg, PcmList(48000, 0)})),
         {1, {V(1, StreamCodec::Jpeg), A(2)}, qvga, kSecond, -1}},
        {"a negative biHeight (a top-down picture)", Avi(Hdrl({avih, VideoList(Bitmap(-240, "MJPG")), pcm})),
         {1, {V(1, StreamCodec::Jpeg), A(2)}, qvga, kSecond, kSecond}},
        {"a 'strf' shorter than BITMAPINFOHEADER: no video record; the audio keeps its number",
         Avi(Hdrl({avih, VideoList(ByteVec(mjpgFormat.begin(), mjpgFormat.begin() + 30)), pcm})),
         {1, {A(2)}, {2, 48000, 0}, -1, kSecond}},
        {"a 'strf' shorter than WAVEFORMAT: no audio record",
         Avi(Hdrl({avih, mjpg, List("strl", {Chunk("strh", Strh("auds", "    ", 1, 48000, 48000)),
                                            Chunk("strf", ByteVec(10, 1))})})),
         {1, {V(1, StreamCodec::Jpeg)}, qvga, kSecond, -1}},
        {"a 'strh' of 40 bytes: no record",
         Avi(Hdrl({avih, List("strl", {Chunk("strh", Strh("vids", "    ", 1, 25, 25, 40)),
                                       Chunk("strf", Bitmap(240, "MJPG"))}), pcm})),
         {1, {A(2)}, {2, 48000, 0}, -1, kSecond}},
        {"'hdrl' and 'strl' sizes past the end: read as far as they go",
         [&] {
             ByteVec strl =
                 List("strl", {Chunk("strh", Strh("vids", "    ", 1, 25, 25)), Chunk("strf", mjpgFormat)}, 1 << 20);
             ByteVec body = {'A', 'V', 'I', ' '};
             Append(body, Hdrl({avih, strl}, 1 << 24));
             return Chunk("RIFF", body);
         }(),
         {1, {V(1, StreamCodec::Jpeg)}, qvga, kSecond, -1}},
        {"cut inside the first frame: the headers' times", cut,
         {1, {V(1, StreamCodec::Jpeg), A(2)}, qvga, kSecond, kSecond}},
        {"headers never completed (no frames, no length): no times",
         Avi(Hdrl({Chunk("avih", Avih(40000, 0)), mjpg, PcmList(0)})),
         {1, {V(1, StreamCodec::Jpeg), A(2)}, qvga, -1, -1}},
        {"a length past reason: no audio end",
         Avi(Hdrl({avih, mjpg, List("strl", {Chunk("strh", Strh("auds", "    ", 1000000, 1, 0xFFFFFFFF)),
                                            Chunk("strf", Wave(1, 2, 48000, 192000, 4, 16))})})),
         {1, {V(1, StreamCodec::Jpeg), A(2)}, qvga, kSecond, -1}},
        {"three audio streams: all listed, the times from the first",
         Avi(Hdrl({avih, mjpg, pcm, PcmList(96000), PcmList(96000)})),
         {1, {V(1, StreamCodec::Jpeg), A(2), A(3), A(4)}, qvga, kSecond, kSecond}},
        {"no 'hdrl': an AVI file without records", Avi({}), {1, {}, {}, -1, -1}},
        {"RIFF WAVE is not AVI", [&] { ByteVec f = Avi(Hdrl({avih, mjpg})); f[8] = 'W'; return f; }(),
         {0, {}, {}, -1, -1}},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(c.file);
        const Parsed& e = c.expected;
        EXPECT_EQ(std::tuple(p.result, p.records, p.first, p.videoEnd, p.audioEnd),
                  std::tuple(e.result, e.records, e.first, e.videoEnd, e.audioEnd))
            << c.what;
    }
}

TEST(Avi, FirstChunks)
{
    const ByteVec avih = Chunk("avih", Avih(40000, 25));
    const auto Mp3List = [](uint16_t blockAlign) {
        return List("strl", {Chunk("strh", Strh("auds", "U\0\0\0", 1152, 44100, 40)),
                             Chunk("strf", Wave(0x55, 1, 44100, 16000, blockAlign, 0))});
    };
    const ByteVec mp3 = mdtest::MpegAudioFrame(3, 9, 0, 3, 417);  // 128 kbit/s, 44.1 kHz, single channel
    mdtest::AvcSpsFields interlaced;
    interlaced.frameMbsOnly = false, interlaced.heightMapUnitsMinus1 = 33, interlaced.cropBottom = 2;
    const auto AnnexB = [](const ByteVec& nal) { return mdtest::Concat({ByteVec{0, 0, 0, 1}, nal}); };
    const ByteVec sps = mdtest::AvcSpsNal({});
    ByteVec avcC = {1, 100, 0, 40, 0xFF, 0xE1, uint8_t(sps.size() >> 8), uint8_t(sps.size())};
    Append(avcC, sps);
    mdtest::SequenceFields mpeg2;
    mpeg2.aspectCode = 3;  // 16:9
    const ByteVec mpeg2Frame =
        mdtest::Concat({mdtest::SequenceHeaders(mpeg2), mdtest::GopHeaderFlags(), mdtest::PictureHeaderFields(),
                        mdtest::PictureCodingExtension(false), mdtest::SliceStart()});
    mdtest::DvFrameFields dv;
    dv.pal = true, dv.disp = 2;
    struct Case {
        const char* what;
        ByteVec hdrl;
        std::initializer_list<ByteVec> movi;
        StreamCodec codec;
        std::vector<uint32_t> first;
    } cases[] = {
        {"MPEG audio: the layer and the bit rate of the first frame, past an index chunk and into a 'rec ' list",
         Hdrl({avih, Mp3List(1)}),
         {Chunk("ix00", ByteVec(24)), List("rec ", {Chunk("00wb", mp3)})},
         StreamCodec::Mpeg1Audio,
         {1, 44100, 128000}},
        {"one MPEG audio frame per chunk (nBlockAlign 1152): no single bit rate",
         Hdrl({avih, Mp3List(1152)}),
         {Chunk("00wb", mp3)},
         StreamCodec::Mpeg1Audio,
         {1, 44100, 0}},
        {"AC-3: channels from the first syncframe's acmod and lfeon",
         Hdrl({avih, List("strl", {Chunk("strh", Strh("auds", "    ", 1, 48000, 48000)),
                                   Chunk("strf", Wave(0x2000, 2, 48000, 56000, 1792, 0))})}),
         {Chunk("00wb", mdtest::Ac3FrameStart(0, 28, 8, 7, true, 1792))},
         StreamCodec::Ac3,
         {6, 48000, 1}},
        {"XVID: the size of the first frame's VOL over the BITMAPINFOHEADER's",
         Hdrl({avih, VideoList(Bitmap(480, "XVID", {}, 640))}),
         {Chunk("00dc", mdtest::Concat({mdtest::Mpeg4Vol(320, 240, 25, false), mdtest::Mpeg4IVopHeader(5, true)}))},
         StreamCodec::Mpeg4Video,
         {320, 240, 4, 3, 2500, 0}},
        {"H264: an SPS without frame_mbs_only, top field first",
         Hdrl({avih, VideoList(Bitmap(1080, "H264", {}, 1920))}),
         {Chunk("00dc", AnnexB(mdtest::AvcSpsNal(interlaced)))},
         StreamCodec::H264Ts,
         {1920, 1080, 16, 9, 2500, 1}},
        {"avc1: the SPS of the avcC",
         Hdrl({avih, VideoList(Bitmap(1088, "avc1", avcC, 1920))}),
         {},
         StreamCodec::H264Ts,
         {1920, 1080, 16, 9, 2500, 0}},
        {"MPEG-2: 16:9 from the sequence header, bottom field first from the picture coding extension",
         Hdrl({avih, VideoList(Bitmap(576, "MPG2", {}, 720))}),
         {Chunk("00dc", mpeg2Frame)},
         StreamCodec::Mpeg2Video,
         {720, 576, 16, 9, 2500, 2}},
        {"dvsd: 16:9 and bottom field first from the frame's VAUX",
         Hdrl({avih, VideoList(Bitmap(576, "dvsd", {}, 720))}),
         {Chunk("00dc", ByteVec{}), Chunk("00dc", mdtest::DvFrame(dv))},
         StreamCodec::DvVideo,
         {720, 576, 16, 9, 2500, 2}},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse(Avi(c.hdrl, c.movi));
        ASSERT_FALSE(p.records.empty()) << c.what;
        EXPECT_EQ(std::tuple(std::get<2>(p.records[0]), p.first), std::tuple(c.codec, c.first)) << c.what;
    }
}

}  // namespace
