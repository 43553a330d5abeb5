#include "avi/avi_demux.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "avi/avi_headers.h"
#include "input/file_piece.h"
#include "tags/riff_info.h"
#include "es/audio_headers.h"
#include "es/bitmap_info.h"
#include "es/dv_dif.h"
#include "es/h264.h"
#include "es/mpeg_video.h"
#include "es/start_code.h"
#include "es/wave_format.h"

namespace md {
namespace {

// 'hdrl' is read whole up to this size (a header list is a few kilobytes; writers pad it with 'JUNK').
constexpr uint32_t kMaxHeaderListBytes = 1 << 20;
// The top-level walk reads the file in pieces of this size: 'hdrl', a LIST INFO and the 'movi' header in one read,
// as a rule, and the header list and the tags are taken from that piece.
constexpr uint32_t kWalkPieceBytes = 16 * 1024;
// At most this many top-level chunks are walked looking for 'hdrl' and 'movi', and this many chunk headers of
// 'movi' looking for each stream's first chunk.
constexpr int kMaxTopLevelChunks = 64;
constexpr int kMaxMoviChunks = 256;
// What is read of a first chunk: a video frame's parameter sets or sequence header open it (a DV frame is read
// whole); a few audio frames are enough to find one header.
constexpr uint32_t kVideoFrameBytes = 64 * 1024;
constexpr uint32_t kAudioFrameBytes = 8 * 1024;
// A stream time past this many seconds is taken for a broken header.
constexpr uint64_t kMaxSeconds = 1000000000;
// MPEG audio in AVI written one frame per chunk (variable bit rate) states a block of one frame's samples.
constexpr uint16_t kMpegFrameBlockAlign = 1152;
constexpr uint16_t kMpeg2Layer3FrameBlockAlign = 576;

bool IsAvi(Bytes b)
{
    return Has(b, 0, 12) && std::memcmp(b.data(), "RIFF", 4) == 0 && std::memcmp(b.data() + 8, "AVI ", 4) == 0;
}

// Where the first RIFF keeps its header list and its data list.
struct Layout {
    bool hdrl = false;
    uint64_t hdrlStart = 0;  // after the list type
    uint64_t hdrlSize = 0;  // cut to the file
    bool movi = false;
    uint64_t moviStart = 0;  // after the list type
    uint64_t moviEnd = 0;  // cut to the file
    bool info = false;      // a LIST INFO before 'movi' (or between 'hdrl' and it)
    uint64_t infoStart = 0;  // at the list type
    uint64_t infoSize = 0;  // cut to the file
};

Layout WalkTopLevel(FilePiece& piece, uint64_t fileSize, uint32_t riffSize)
{
    Layout l;
    // A RIFF size of 0 (a file written without seeking back) or past the end runs to the end of the file.
    const uint64_t end = riffSize < 4 ? fileSize : std::min<uint64_t>(8 + uint64_t(riffSize), fileSize);
    uint64_t pos = 12;
    for (int n = 0; n < kMaxTopLevelChunks && pos + 8 <= end && !(l.hdrl && l.movi); ++n) {
        uint8_t h[12] = {};
        const Bytes header = piece.Header(pos, sizeof h);
        const auto got = uint32_t(header.size());
        if (got < 8)
            break;
        std::memcpy(h, header.data(), got);
        const uint32_t size = Le32(h + 4);
        const bool list = got == sizeof h && std::memcmp(h, "LIST", 4) == 0 && size >= 4;
        const uint64_t bodyStart = pos + 12;
        const uint64_t bodyEnd = std::min<uint64_t>(pos + 8 + uint64_t(size), fileSize);
        if (list && std::memcmp(h + 8, "hdrl", 4) == 0 && !l.hdrl) {
            l.hdrl = true, l.hdrlStart = bodyStart, l.hdrlSize = bodyEnd > bodyStart ? bodyEnd - bodyStart : 0;
        } else if (list && std::memcmp(h + 8, "INFO", 4) == 0 && !l.info) {
            l.info = true, l.infoStart = pos + 8, l.infoSize = bodyEnd > pos + 8 ? bodyEnd - (pos + 8) : 0;
        } else if (got == sizeof h && std::memcmp(h, "LIST", 4) == 0 && std::memcmp(h + 8, "movi", 4) == 0) {
            // A 'movi' of size 0 (a capture that never finished) runs to the end of the file.
            l.movi = true, l.moviStart = bodyStart, l.moviEnd = size < 4 ? fileSize : bodyEnd;
        }
        pos += 8 + uint64_t(size) + (size & 1);
    }
    return l;
}

// The stream number of a 'movi' chunk id ("01wb": 1), or -1 for ids that name none ('ix01', 'JUNK').
int StreamNumber(const uint8_t* id)
{
    const auto digit = [](uint8_t c) { return c >= '0' && c <= '9'; };
    return digit(id[0]) && digit(id[1]) ? (id[0] - '0') * 10 + (id[1] - '0') : -1;
}

struct FirstChunk {
    bool found = false;
    uint64_t pos = 0;
    uint32_t size = 0;  // cut to the end of 'movi'
};

// The first chunk holding data of each stream whose bit is set in needed, walking 'movi' from its start; 'rec '
// lists (a chunk of each stream grouped) are walked into.
void FindFirstChunks(ZPMP::InputStream& input, const Layout& l, uint32_t needed,
                     std::array<FirstChunk, kMaxFileStreams>& out)
{
    uint64_t pos = l.moviStart;
    for (int n = 0; n < kMaxMoviChunks && needed != 0 && pos + 8 <= l.moviEnd; ++n) {
        uint8_t h[8] = {};
        if (ZPMP::ReadAt(input, pos, h, sizeof h) != sizeof h)
            break;
        const uint32_t size = Le32(h + 4);
        if (std::memcmp(h, "LIST", 4) == 0) {
            pos += 12;
            continue;
        }
        const int stream = StreamNumber(h);
        if (stream >= 0 && stream < int(kMaxFileStreams) && size > 0 && (needed >> stream & 1u)) {
            out[size_t(stream)] = {true, pos + 8, uint32_t(std::min<uint64_t>(size, l.moviEnd - (pos + 8)))};
            needed &= ~(1u << stream);
        }
        pos += 8 + uint64_t(size) + (size & 1);
    }
}

std::vector<uint8_t> ReadChunk(ZPMP::InputStream& input, const FirstChunk& c, uint32_t limit)
{
    std::vector<uint8_t> buf(std::min(c.size, limit));
    buf.resize(ZPMP::ReadAt(input, c.pos, buf.data(), static_cast<uint32_t>(buf.size())));
    return buf;
}

// 100-ns units of count units of scale / rate seconds; -1 when the rate or the scale is 0 or the time is past
// reason.
int64_t StreamTime(uint64_t count, uint32_t scale, uint32_t rate)
{
    if (scale == 0 || rate == 0)
        return -1;
    const uint64_t ticks = count * scale;  // both below 2^32: no overflow
    return ticks / rate > kMaxSeconds ? -1 : SamplesToUnits(ticks, rate);
}

// ---- Video -----------------------------------------------------------------------------------------------------

// The picture fields of an H.264 SPS (p at its NAL header byte); interlaced pictures are taken as top field first.
bool ApplyH264Sps(const uint8_t* p, uint32_t len, StreamRecord& r)
{
    const auto sps = std::unique_ptr<SpsInfo>(new (std::nothrow) SpsInfo());
    H264PictureProperties picture{};
    if (!sps || !ParseSps(p, len, *sps, true) || !DerivePictureProperties(*sps, picture))
        return false;
    VideoParams& v = r.video;
    v.profile = H264ProfileCode(sps->profile_idc, true);
    v.level = sps->level_idc;
    v.width = picture.width, v.height = picture.height;
    v.aspectX = picture.aspectX, v.aspectY = picture.aspectY;
    v.frameDuration = picture.frameDuration;
    r.frameRate = picture.frameRate;
    r.progressive = picture.progressive;
    r.fieldCoding = picture.fieldCoding;
    r.fieldOrder = picture.progressive ? 0 : 1;
    return true;
}

// H.264: the SPS of an avcC in the format's extra bytes ('avc1' streams carry length-prefixed units), else of the
// first frame's Annex B units (as 'H264' streams carry them), whose SPS and PPS become the codec headers.
bool ApplyH264(Bytes extra, Bytes frame, StreamRecord& r)
{
    // avcC: configurationVersion 1, profile, compatibility, level, lengthSizeMinusOne, numOfSequenceParameterSets
    // (low five bits), then each SPS after its 16-bit length.
    if (Has(extra, 0, 8) && extra[0] == 1 && (extra[5] & 0x1F) != 0) {
        const uint32_t n = Be16At(extra, 6);
        if (n > 0 && Has(extra, 8, n) && ApplyH264Sps(extra.data() + 8, n, r)) {
            AppendHeaderUnit(r.extraData1, r.extraData1Length, extra.data() + 8, n);
            return true;
        }
    }
    const auto len = static_cast<uint32_t>(frame.size());
    NalScanInfo scan{};
    ScanNalUnits(frame.data(), len, scan);
    if (scan.firstSps == nullptr)
        return false;
    const uint32_t prefix = scan.firstSps[2] == 1 ? 3 : 4;
    const auto offset = static_cast<uint32_t>(scan.firstSps - frame.data());
    const uint32_t unit = scan.firstSpsLength != 0 ? scan.firstSpsLength : len - offset;
    if (unit <= prefix || !ApplyH264Sps(scan.firstSps + prefix, unit - prefix, r))
        return false;
    CollectHeaders(frame.data(), len, r.extraData1, r.extraData1Length, r.extraData2, r.extraData2Length, kModeH264);
    return true;
}

// MPEG-1/2 video: the sequence header (and for MPEG-2 its extension) of the first frame; the field order from the
// first picture's coding extension, a first picture coded as a progressive frame counting as progressive.
bool ApplyMpegVideo(Bytes frame, StreamRecord& r)
{
    if (!DescribeMpegVideo(frame.data(), static_cast<uint32_t>(frame.size()), r))
        return false;
    uint32_t order = 0;
    uint8_t progressiveFrame = 0;
    if (!r.progressive && FirstPictureCoding(r, order, progressiveFrame) && !progressiveFrame)
        r.fieldOrder = order;
    return true;
}

bool ApplyDvFrame(Bytes frame, StreamRecord& r)
{
    DvFrameInfo info;
    if (!ParseDvFrame(frame, info))
        return false;
    FillDvVideoRecord(info, r);
    return true;
}

// The codec's own description from the first frame (and the format's extra bytes), where the codec has one.
void ApplyVideoFrame(Bytes frame, const BitmapInfo& bitmap, StreamRecord& r)
{
    switch (r.codec) {
    case StreamCodec::Mpeg4Video:
        if (!FillMpeg4VisualRecord(bitmap.extra.data(), uint32_t(bitmap.extra.size()), r, false))
            FillMpeg4VisualRecord(frame.data(), uint32_t(frame.size()), r, false);
        break;
    case StreamCodec::H264Ts: ApplyH264(bitmap.extra, frame, r); break;
    case StreamCodec::Mpeg1Video:
    case StreamCodec::Mpeg2Video: ApplyMpegVideo(frame, r); break;
    case StreamCodec::DvVideo: ApplyDvFrame(frame, r); break;
    default: break;
    }
}

bool FirstFrameDescribes(StreamCodec codec)
{
    return codec == StreamCodec::Mpeg4Video || codec == StreamCodec::H264Ts || codec == StreamCodec::Mpeg1Video ||
           codec == StreamCodec::Mpeg2Video || codec == StreamCodec::DvVideo;
}

// What the container states last: the picture size where the codec gave none, the rate of the stream header (else
// of 'avih'), and the display aspect of 'vprp', else the codec's, else square pels.
void FinishVideo(const AviStream& s, const AviMainHeader& main, const BitmapInfo& bitmap, StreamRecord& r)
{
    VideoParams& v = r.video;
    if (v.width == 0 || v.height == 0)
        v.width = bitmap.width, v.height = bitmap.height;
    const AviStreamHeader& h = s.header;
    if (h.rate != 0 && h.scale != 0) {
        r.frameRate = double(h.rate) / h.scale;
        v.frameDuration = StreamTime(1, h.scale, h.rate);
    } else if (main.microSecPerFrame != 0) {
        r.frameRate = 1e6 / main.microSecPerFrame;
        v.frameDuration = int64_t(main.microSecPerFrame) * 10;
    }
    if (s.aspectX != 0) {
        v.aspectX = s.aspectX, v.aspectY = s.aspectY;
    } else if (v.aspectX == 0 || v.aspectY == 0) {
        v.aspectX = v.aspectY = 1;
        AspectFromSampleAspect(v.aspectX, v.aspectY, v.width, v.height);
    }
}

// ---- Audio -----------------------------------------------------------------------------------------------------

bool FirstChunkDescribes(StreamCodec codec)
{
    return codec == StreamCodec::Mpeg1Audio || codec == StreamCodec::Ac3 || codec == StreamCodec::Dts;
}

// The duration of one audio frame in 100-ns units, for the codecs with frames of a fixed sample count.
uint32_t AudioFrameDuration(const StreamRecord& r)
{
    uint32_t samples = 0;
    if (r.codec == StreamCodec::Mpeg1Audio || r.codec == StreamCodec::Mpeg2Audio) {
        const uint32_t layer = r.audio.codecSpecific[0];  // 0 Layer I, 1 II, 2 III
        samples = layer == 0 ? 384 : (layer == 2 && r.codec == StreamCodec::Mpeg2Audio) ? 576 : 1152;
    } else if (r.codec == StreamCodec::Ac3) {
        samples = 1536;
    }
    return uint32_t(SamplesToUnits(samples, r.audio.sampleRate));
}

struct StreamBuild {
    std::unique_ptr<StreamRecord> record;
    BitmapInfo bitmap;
    WaveFormat wave;
};

}  // namespace

bool ProbeAvi(const ProbeInput& input) { return IsAvi(input.head); }

uint32_t AviDemux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    m_times = {};
    if (input == nullptr)
        return 0;
    uint8_t head[12] = {};
    if (ZPMP::ReadAt(*input, 0, head, sizeof head) != sizeof head || !IsAvi(Bytes(head)))
        return 0;
    const uint64_t fileSize = input->Size();
    FilePiece piece(*input, kWalkPieceBytes);
    const Layout layout = WalkTopLevel(piece, fileSize, Le32(head + 4));
    m_tags.Clear();
    if (WantsTags() && layout.info)
        ReadRiffInfo(piece.Body(layout.infoStart, uint32_t(std::min<uint64_t>(layout.infoSize, kMaxRiffInfoBytes))),
                     m_tags);
    if (!layout.hdrl)
        return 1;
    // The stream formats point into these bytes, which the piece keeps to the end of Parse (it reads no more).
    const Bytes hdrl = piece.Body(layout.hdrlStart, uint32_t(std::min<uint64_t>(layout.hdrlSize, kMaxHeaderListBytes)));
    const auto headers = std::unique_ptr<AviHeaders>(new (std::nothrow) AviHeaders());
    if (!headers || !ParseHeaderList(hdrl, *headers))
        return 1;

    // Each stream's record from its headers, and which of them the first chunk describes further.
    std::array<StreamBuild, kMaxFileStreams> builds;
    uint32_t needed = 0;
    for (uint32_t i = 0; i < headers->streamCount; ++i) {
        const AviStream& s = headers->streams[i];
        StreamBuild& b = builds[i];
        if (!s.hasHeader)
            continue;
        if (s.header.type == FourCC("vids") && ParseBitmapInfo(s.format, b.bitmap)) {
            b.record = NewStreamRecord();
            if (!b.record)
                return 1;
            b.record->streamClass = StreamClass::Video;
            b.record->codec = BitmapCodec(b.bitmap.compression);
            b.record->progressive = 1;
            if (FirstFrameDescribes(b.record->codec))
                needed |= 1u << i;
        } else if (s.header.type == FourCC("auds") && ParseWaveFormat(s.format, b.wave)) {
            b.record = NewStreamRecord();
            if (!b.record)
                return 1;
            StreamRecord& r = *b.record;
            r.streamClass = StreamClass::Audio;
            r.codec = WaveFormatCodec(b.wave.formatTag);
            SetWaveAudio(b.wave, r.audio);
            if (b.wave.formatTag == kWaveFormatMpegLayer3)
                r.audio.codecSpecific[0] = 2;  // Layer III until the first frame says more
            if (r.codec == StreamCodec::Aac && !b.wave.extra.empty())
                r.audio.codecSpecific[0] = b.wave.extra[0] >> 3;  // AudioSpecificConfig: audioObjectType
            if (FirstChunkDescribes(r.codec))
                needed |= 1u << i;
        }
        if (b.record)
            b.record->streamId = i + 1;
    }

    std::array<FirstChunk, kMaxFileStreams> first{};
    if (layout.movi && needed != 0)
        FindFirstChunks(*input, layout, needed, first);
    for (uint32_t i = 0; i < headers->streamCount; ++i) {
        StreamBuild& b = builds[i];
        if (!b.record)
            continue;
        StreamRecord& r = *b.record;
        if (r.streamClass == StreamClass::Video) {
            const uint32_t limit = r.codec == StreamCodec::DvVideo ? kMaxDvFrameBytes : kVideoFrameBytes;
            const std::vector<uint8_t> frame =
                first[i].found ? ReadChunk(*input, first[i], limit) : std::vector<uint8_t>();
            ApplyVideoFrame(frame, b.bitmap, r);
            FinishVideo(headers->streams[i], headers->main, b.bitmap, r);
        } else {
            if (first[i].found)
                ReadFirstFrameRecord(ReadChunk(*input, first[i], kAudioFrameBytes), r);
            // One MPEG audio frame per chunk (variable bit rate): no single bit rate; the average stays.
            const bool mpeg = r.codec == StreamCodec::Mpeg1Audio || r.codec == StreamCodec::Mpeg2Audio;
            if (mpeg &&
                (b.wave.blockAlign == kMpegFrameBlockAlign || b.wave.blockAlign == kMpeg2Layer3FrameBlockAlign)) {
                r.audio.codecSpecific[2] = 0;
                r.audio.bytesPerSecond = b.wave.bytesPerSecond;
            }
        }
    }

    // The times of the first video stream and of the first audio stream of a known codec: those the detector
    // describes.
    const StreamBuild* video = nullptr;
    const StreamBuild* audio = nullptr;
    uint32_t videoIndex = 0, audioIndex = 0;
    for (uint32_t i = 0; i < headers->streamCount; ++i) {
        const StreamRecord* r = builds[i].record.get();
        if (r && r->streamClass == StreamClass::Video && !video)
            video = &builds[i], videoIndex = i;
        else if (r && r->streamClass == StreamClass::Audio && r->codec != StreamCodec::VfwVideo && !audio)
            audio = &builds[i], audioIndex = i;
    }
    if (video) {
        // 'avih' counts the frames of the first RIFF only; an OpenDML file's 'dmlh' counts them all.
        const AviStreamHeader& h = headers->streams[videoIndex].header;
        const uint32_t frames = headers->odmlTotalFrames != 0 ? headers->odmlTotalFrames : headers->main.totalFrames;
        int64_t duration = -1;
        if (frames != 0 && h.rate != 0 && h.scale != 0)
            duration = StreamTime(frames, h.scale, h.rate);
        else if (frames != 0)
            duration = StreamTime(frames, headers->main.microSecPerFrame, 1000000);
        const int64_t frameDuration = video->record->video.frameDuration;
        m_times.SetVideo(duration, frameDuration > 0 && frameDuration <= UINT32_MAX ? uint32_t(frameDuration) : 0);
    }
    if (audio) {
        // dwLength counts the stream's units; a length of 0 (a file whose headers were never completed) says
        // nothing.
        const AviStreamHeader& h = headers->streams[audioIndex].header;
        m_times.SetAudio(h.length != 0 ? StreamTime(h.length, h.scale, h.rate) : -1,
                         AudioFrameDuration(*audio->record));
    }
    if (streams)
        for (StreamBuild& b : builds)
            if (b.record)
                streams->Append(std::move(b.record));
    return 1;
}

}  // namespace md
