// The Matroska demultiplexer: the level-1 walk of the segment, one stream record
// per track entry, the frame searches at the cue points that give the selected
// tracks their times, bit rates and first-frame headers, and the cluster and
// block parser behind them.
#include "mkv/mkv_demux.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include <ebml/EbmlHead.h>
#include <ebml/EbmlSubHead.h>
#include <ebml/EbmlUnicodeString.h>
#include <ebml/EbmlVoid.h>
#include <matroska/KaxBlock.h>
#include <matroska/KaxBlockData.h>
#include <matroska/KaxCluster.h>
#include <matroska/KaxCues.h>
#include <matroska/KaxCuesData.h>
#include <matroska/KaxInfo.h>
#include <matroska/KaxSeekHead.h>
#include <matroska/KaxSegment.h>
#include <matroska/KaxSemantic.h>
#include <matroska/KaxTracks.h>

#include "es/audio_headers.h"
#include "es/h264.h"
#include "es/mpeg_video.h"
#include "es/start_code.h"
#include "es/xiph_headers.h"
#include "input/chunk_buffer.h"
#include "mkv/ebml_reader.h"

namespace md {
namespace {

using namespace libmatroska;
using libebml::EbmlMaster;

constexpr uint64_t kDefaultTimecodeScale = 1000000;
constexpr uint64_t kDefaultVideoFrameNs = 33366666;  // 29.97 frames per second
constexpr uint64_t kDefaultAudioFrameNs = 21333333;  // 1024 samples at 48 kHz

// TrackType values.
constexpr uint64_t kTrackTypeVideo = 1;
constexpr uint64_t kTrackTypeAudio = 2;
constexpr uint64_t kTrackTypeSubtitle = 17;

// Bytes read per chunk of a frame search, and the most a whole scan (start, end
// or first frame of one track) reads before it gives up. A track with no frames
// would otherwise make every cue point's search read to the end of the file.
constexpr uint32_t kSearchChunk = 0x200000;
constexpr uint64_t kScanBudget = 0x4000000;
// Largest cluster ParsePackets assembles; a larger one is taken for damage.
constexpr uint64_t kMaxClusterSize = 0x2000000;

constexpr size_t kMaxElementHead = 12;
constexpr uint32_t kStartCodeLength = 4;

// CodecID tables (exact comparison); sub is the layer index of MPEG audio.
struct CodecName {
    const char* id;
    StreamCodec codec;
    uint32_t sub;
};

constexpr CodecName kVideoCodecs[] = {
    {"V_MPEG1", StreamCodec::Mpeg1Video, 0},       {"V_MPEG2", StreamCodec::Mpeg2Video, 0},
    {"V_MPEG4/ISO/ASP", StreamCodec::Mpeg4Video, 0}, {"V_MPEG4/ISO/AVC", StreamCodec::H264, 0},
    {"V_MS/VFW/FOURCC", StreamCodec::VfwVideo, 0},
};

constexpr CodecName kAudioCodecs[] = {
    {"A_MPEG/L1", StreamCodec::Mpeg1Audio, 0}, {"A_MPEG/L2", StreamCodec::Mpeg1Audio, 1},
    {"A_MPEG/L3", StreamCodec::Mpeg1Audio, 2}, {"A_AC3", StreamCodec::Ac3, 0},
    {"A_DTS", StreamCodec::Dts, 0},            {"A_VORBIS", StreamCodec::Vorbis, 0},
};

constexpr CodecName kSubtitleCodecs[] = {
    {"S_TEXT/ASCII", StreamCodec::TextAscii, 0}, {"S_TEXT/UTF8", StreamCodec::TextUtf8, 0},
    {"S_TEXT/SSA", StreamCodec::Ssa, 0},         {"S_TEXT/ASS", StreamCodec::Ass, 0},
    {"S_TEXT/USF", StreamCodec::Usf, 0},
};

// Codecs only extensions describe: those of WebM files (VP8, VP9, AV1, Opus; Vorbis
// is in the table above), then the others Matroska carries.
constexpr CodecName kWebmVideoCodecs[] = {{"V_VP8", StreamCodec::Vp8, 0},
                                          {"V_VP9", StreamCodec::Vp9, 0},
                                          {"V_AV1", StreamCodec::Av1, 0}};
constexpr CodecName kMoreVideoCodecs[] = {{"V_FFV1", StreamCodec::Ffv1, 0}, {"V_PRORES", StreamCodec::ProRes, 0}};
constexpr CodecName kWebmAudioCodecs[] = {{"A_OPUS", StreamCodec::Opus, 0}};
constexpr CodecName kMoreAudioCodecs[] = {{"A_FLAC", StreamCodec::Flac, 0}};
constexpr CodecName kMoreSubtitleCodecs[] = {{"S_HDMV/PGS", StreamCodec::Pgs, 0}, {"S_VOBSUB", StreamCodec::VobSub, 0}};

// AAC object types named in an "A_AAC..." CodecID, tested in this order.
constexpr CodecName kAacProfiles[] = {
    {"MAIN", StreamCodec::Aac, 1}, {"LC", StreamCodec::Aac, 2},  {"SSR", StreamCodec::Aac, 3},
    {"LTP", StreamCodec::Aac, 4},  {"SBR", StreamCodec::Aac, 5},
};
constexpr uint32_t kAacDefaultObjectType = 2;

template <size_t N>
const CodecName* FindCodec(const CodecName (&table)[N], const std::string& id)
{
    for (const CodecName& c : table)
        if (id == c.id)
            return &c;
    return nullptr;
}

// The codec an extension describes: from the WebM table when webm, then from the
// other when more.
template <size_t N, size_t M>
const CodecName* FindExtendedCodec(const CodecName (&webmTable)[N], const CodecName (&moreTable)[M],
                                   const std::string& id, bool webm, bool more)
{
    const CodecName* codec = webm ? FindCodec(webmTable, id) : nullptr;
    return codec == nullptr && more ? FindCodec(moreTable, id) : codec;
}

bool IsExtendedVideo(StreamCodec codec)
{
    return codec == StreamCodec::Vp8 || codec == StreamCodec::Vp9 || codec == StreamCodec::Av1 ||
           codec == StreamCodec::Ffv1 || codec == StreamCodec::ProRes;
}

// The FourCC (biCompression) of the BITMAPINFOHEADER that is a V_MS/VFW/FOURCC
// track's CodecPrivate, or empty.
std::string VfwFourCC(Bytes codecPrivate)
{
    if (codecPrivate.size() < 20)
        return {};
    return std::string(reinterpret_cast<const char*>(codecPrivate.data()) + 16, 4);
}

// Sample rate, channels and bits per sample of the STREAMINFO block that follows the "fLaC" marker of an A_FLAC
// track's CodecPrivate.
bool ReadFlacStreamInfo(Bytes header, AudioParams& audio)
{
    FlacStreamInfo info{};
    if (header.size() < 4 || std::memcmp(header.data(), "fLaC", 4) != 0 ||
        !ParseFlacStreamInfo(header.data() + 4, header.size() - 4, info))
        return false;
    audio.sampleRate = info.sampleRate;
    audio.channels = info.channels;
    audio.bitsPerSample = info.bitsPerSample;
    return true;
}

// A value of any range as int64, saturating; NaN reads 0.
int64_t SaturateToInt64(double v)
{
    if (std::isnan(v))
        return 0;
    if (v >= 9.2e18)
        return std::numeric_limits<int64_t>::max();
    if (v <= -9.2e18)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(v);
}

uint32_t SaturateToUInt32(double v)
{
    if (!(v > 0))
        return 0;
    return v >= 4294967295.0 ? UINT32_MAX : static_cast<uint32_t>(v);
}

uint32_t ToUInt32(uint64_t v) { return v > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v); }

// An unsigned big-endian integer of up to 8 bytes.
uint64_t ReadUnsigned(Bytes b)
{
    uint64_t v = 0;
    for (size_t i = 0; i < b.size() && i < 8; ++i)
        v = v << 8 | b[i];
    return v;
}

// Display aspect from DisplayWidth and DisplayHeight, snapped to 4:3, 16:9 or
// 1:1 when it has one of those shapes.
void SetDisplayAspect(uint64_t x, uint64_t y, VideoParams& video)
{
    video.aspectX = ToUInt32(x);
    video.aspectY = ToUInt32(y);
    SnapDisplayAspect(x, y, video.aspectX, video.aspectY);
}

// Display aspect and scan of a track of a codec only extensions describe.
// DisplayWidth and DisplayHeight default to the pixel sizes; only FlagInterlaced 1
// marks interlaced frames (0 is undetermined, 2 progressive).
void FillExtendedVideo(const EbmlMaster& video, StreamRecord& r)
{
    const bool displaySize = FindFirst<KaxVideoDisplayWidth>(video) || FindFirst<KaxVideoDisplayHeight>(video);
    SetDisplayAspect(displaySize ? UIntOf<KaxVideoDisplayWidth>(video) : r.video.width,
                     displaySize ? UIntOf<KaxVideoDisplayHeight>(video) : r.video.height, r.video);
    r.progressive = UIntOf<KaxVideoFlagInterlaced>(video) == 1 ? 0 : 1;
}

// Appends a NAL unit behind a 00 00 00 01 start code; a unit that does not fit
// the area is left out.
void AppendNalUnit(Bytes unit, uint8_t (&area)[kExtraDataSize], int32_t& length)
{
    const size_t used = static_cast<size_t>(std::max(length, 0));
    if (!Has(kExtraDataSize, used, kStartCodeLength + unit.size()))
        return;
    static constexpr uint8_t kStartCode[kStartCodeLength] = {0, 0, 0, 1};
    std::memcpy(area + used, kStartCode, kStartCodeLength);
    if (!unit.empty())
        std::memcpy(area + used + kStartCodeLength, unit.data(), unit.size());
    length = static_cast<int32_t>(used + kStartCodeLength + unit.size());
}

// The AVC decoder configuration record (ISO/IEC 14496-15 5.2.4.1) that is the
// CodecPrivate of a V_MPEG4/ISO/AVC track.
void ApplyAvcConfiguration(Bytes config, StreamRecord& record, bool allProfiles)
{
    ByteReader r(config);
    r.U8();  // configurationVersion
    const uint8_t profile = r.U8();
    r.U8();  // profile_compatibility
    const uint8_t level = r.U8();
    const uint8_t lengthSizeMinusOne = r.U8() & 3;
    const uint32_t spsCount = r.U8() & 31;
    if (!r.ok())
        return;
    record.video.profile = H264ProfileCode(profile, false);
    record.video.level = level;
    record.nalLengthSize = lengthSizeMinusOne + 1u;

    for (uint32_t i = 0; i < spsCount; ++i) {
        const Bytes unit = r.Span(r.U16());
        if (!r.ok())
            return;
        AppendNalUnit(unit, record.extraData1, record.extraData1Length);
        SpsInfo sps{};
        if (!unit.empty() && ParseSps(unit.data(), static_cast<uint32_t>(unit.size()), sps, allProfiles)) {
            record.progressive = sps.frame_mbs_only_flag ? 1 : 0;
            record.fieldCoding = sps.frame_mbs_only_flag ? 0 : sps.mb_adaptive_frame_field_flag ? 1 : 2;
        }
    }
    const uint32_t ppsCount = r.U8();
    for (uint32_t i = 0; i < ppsCount && r.ok(); ++i) {
        const Bytes unit = r.Span(r.U16());
        if (r.ok())
            AppendNalUnit(unit, record.extraData2, record.extraData2Length);
    }
}

// Sizes of the packets of a Xiph-laced CodecPrivate (a count byte, the laced
// sizes of all packets but the last, then the packets): the three Vorbis headers.
bool ReadXiphPacketSizes(Bytes data, uint32_t (&sizes)[3])
{
    ByteReader r(data);
    const uint32_t count = r.U8() + 1u;
    if (!r.ok() || count < 3)
        return false;
    uint64_t laced = 0;
    for (uint32_t i = 0; i + 1 < count; ++i) {
        uint64_t size = 0;
        uint8_t b = 0;
        do {
            b = r.U8();
            size += b;
        } while (b == 255 && r.ok());
        if (!r.ok())
            return false;
        if (i < 3)
            sizes[i] = ToUInt32(size);
        laced += size;
    }
    if (laced > r.Remaining())
        return false;
    if (count == 3)
        sizes[2] = ToUInt32(r.Remaining() - laced);
    return true;
}

// Track names are kept as UTF-16 code units, at most 255 and NUL-terminated; a
// surrogate pair is never cut.
void CopyTrackName(const libebml::UTFstring& name, char16_t (&out)[256])
{
    size_t n = 0;
    const wchar_t* s = name.c_str();
    for (size_t i = 0; s != nullptr && i < name.length(); ++i) {
        const uint32_t c = static_cast<uint32_t>(s[i]);
        if (c > 0x10FFFF)
            continue;
        if (c >= 0x10000) {
            if (n + 2 > 255)
                break;
            out[n++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out[n++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            if (n + 1 > 255)
                break;
            out[n++] = static_cast<char16_t>(c);
        }
    }
    out[n] = 0;
}

void CopyLanguage(const std::string& language, uint8_t (&out)[4])
{
    std::memset(out, 0, sizeof out);
    std::memcpy(out, language.data(), std::min(language.size(), sizeof out));
}

// ---- Cues -------------------------------------------------------------------------

std::vector<const KaxCuePoint*> ListCuePoints(const EbmlMaster* cues)
{
    std::vector<const KaxCuePoint*> points;
    if (cues != nullptr)
        for (const libebml::EbmlElement* e : cues->GetElementList())
            if (const auto* point = dynamic_cast<const KaxCuePoint*>(e))
                points.push_back(point);
    return points;
}

bool CueHasTrack(const KaxCuePoint& point, uint32_t track)
{
    for (const auto* p = FindFirst<KaxCueTrackPositions>(point); p != nullptr; p = FindNext(point, *p))
        if (p->TrackNumber() == track)
            return true;
    return false;
}

// ClusterPosition of the cue point's first CueTrackPositions.
bool CueClusterPosition(const KaxCuePoint& point, uint64_t& position)
{
    const auto* p = FindFirst<KaxCueTrackPositions>(point);
    if (p == nullptr)
        return false;
    position = p->ClusterPosition();
    return true;
}

uint8_t ClusterIdFirstByte()
{
    const libebml::EbmlId& id = EBML_ID(KaxCluster);
    return static_cast<uint8_t>(id.GetValue() >> (8 * (id.GetLength() - 1)));
}

bool IsTimedFrameOf(const PacketRecord& p, uint32_t track) { return p.streamId == track && p.ptsPresent != 0; }

// Whether a level-1 element of this ID is passed over between clusters.
bool IsSkippedLevel1(const ElementHeader& header)
{
    return HasId<KaxInfo>(header) || HasId<KaxSeekHead>(header) || HasId<KaxTracks>(header) || HasId<KaxCues>(header) ||
           HasId<KaxAttachments>(header) || HasId<KaxChapters>(header) || HasId<KaxTags>(header) ||
           HasId<libebml::EbmlVoid>(header);
}

// The head of a Block or SimpleBlock: track number, relative timecode, flags and
// the frame sizes the lacing gives.
struct BlockHead {
    uint64_t track = 0;
    int16_t relative = 0;
    uint8_t flags = 0;
    uint32_t frames = 0;
    size_t dataOffset = 0;  // where the first frame starts
    uint32_t sizes[256];
};

enum class BlockRead {
    Ok,
    Damaged,  // the block yields no frames
    Short,  // head, the first bytes of a block of size bytes, ends before the lace sizes do
};

BlockRead DecodeBlockHead(Bytes head, size_t size, BlockHead& b)
{
    const size_t have = head.size();
    const auto missing = [&](size_t end) { return end > have && have < size; };
    const uint8_t* block = head.data();
    uint64_t unknown = 0;
    uint32_t numberLength = static_cast<uint32_t>(std::min<size_t>(size, 8));
    if (missing(numberLength))
        return BlockRead::Short;
    b.track = libebml::ReadCodedSizeValue(block, numberLength, unknown);
    if (numberLength == 0 || !Has(size, numberLength, 3))
        return BlockRead::Damaged;
    size_t pos = numberLength;
    if (missing(pos + 3))
        return BlockRead::Short;
    b.relative = static_cast<int16_t>(Be16(block + pos));
    b.flags = block[pos + 2];
    pos += 3;

    // Frame sizes by lacing (flags bits 2..1): none, Xiph, fixed-size, EBML.
    b.frames = 1;
    const uint32_t lacing = (b.flags >> 1) & 3;
    if (lacing == 0) {
        b.sizes[0] = ToUInt32(size - pos);
        b.dataOffset = pos;
        return BlockRead::Ok;
    }
    if (pos >= size)
        return BlockRead::Damaged;
    if (missing(pos + 1))
        return BlockRead::Short;
    b.frames = block[pos++] + 1u;
    uint64_t laced = 0;  // bytes of every frame but the last
    if (lacing == 1) {
        for (uint32_t i = 0; i + 1 < b.frames; ++i) {
            uint64_t n = 0;
            uint8_t c = 0;
            do {
                if (pos >= size)
                    return BlockRead::Damaged;
                if (missing(pos + 1))
                    return BlockRead::Short;
                c = block[pos++];
                n += c;
            } while (c == 255);
            b.sizes[i] = ToUInt32(n);
            laced += n;
        }
    } else if (lacing == 2) {
        const size_t each = (size - pos) / b.frames;
        if (each * b.frames != size - pos)
            return BlockRead::Damaged;
        for (uint32_t i = 0; i + 1 < b.frames; ++i)
            b.sizes[i] = static_cast<uint32_t>(each);
        laced = uint64_t(each) * (b.frames - 1);
    } else {
        int64_t previous = 0;
        for (uint32_t i = 0; i + 1 < b.frames; ++i) {
            uint32_t len = static_cast<uint32_t>(std::min<size_t>(size - pos, 8));
            if (missing(pos + len))
                return BlockRead::Short;
            int64_t n = 0;
            if (i == 0)
                n = static_cast<int64_t>(libebml::ReadCodedSizeValue(block + pos, len, unknown));
            else
                n = previous + libebml::ReadCodedSizeSignedValue(block + pos, len, unknown);
            if (len == 0 || n < 0 || n > int64_t(UINT32_MAX))
                return BlockRead::Damaged;
            pos += len;
            b.sizes[i] = static_cast<uint32_t>(n);
            laced += uint64_t(n);
            previous = n;
        }
    }
    if (laced > size - pos)
        return BlockRead::Damaged;
    b.sizes[b.frames - 1] = ToUInt32(size - pos - laced);
    b.dataOffset = pos;
    return BlockRead::Ok;
}

// One record per frame of a decoded block; the first frame carries the timecode.
// frames, when given, is where the first frame's bytes are.
void AppendFrames(const BlockHead& b, int64_t clusterTimecode, bool keyframe, uint32_t duration, const uint8_t* frames,
                  PacketList& packets)
{
    for (uint32_t i = 0; i < b.frames; ++i) {
        PacketRecord p{};
        p.ptsPresent = i == 0 ? 1 : 0;
        // Wrapping sum: a damaged cluster Timecode may lie at the ends of the range.
        p.pts = i == 0 ? static_cast<int64_t>(static_cast<uint64_t>(clusterTimecode) +
                                              static_cast<uint64_t>(int64_t{b.relative}))
                       : -1;
        p.keyframe = keyframe ? 1 : 0;
        p.blockDuration = duration;
        p.streamId = ToUInt32(b.track);
        p.packet = frames;
        p.packetLength = b.sizes[i];
        packets.Append(p);
        if (frames != nullptr)
            frames += b.sizes[i];
    }
}

}  // namespace

// ---- Frame search -------------------------------------------------------------------

// Finds the frames a search from a cue's cluster on meets. The searches were
// defined on a reader that takes kSearchChunk bytes at a time, within a byte
// budget, and splits them with ParsePackets: a cluster's frames come with the
// first chunk that holds the whole cluster, and the search stops where sync is
// lost. The same frames are found from the element heads alone: the reads a
// chunked reader would make are worked out from positions, and only the heads of
// level-1 elements, cluster children, blocks and their lace sizes are read,
// through a small buffer, the payloads being skipped. Where the chunked reader
// would search for sync byte by byte (the data at the cue is no cluster, or no
// level-1 element follows a cluster), or the stream hands out fewer bytes than
// its size promises, the search is made the chunked way instead. Frames found by
// the walk carry no bytes; Frame reads them.
class MKVDemux::FrameSearch {
public:
    FrameSearch(MKVDemux& demux, ZPMP::InputStream& input, uint64_t segmentDataStart)
        : m_demux(demux), m_input(input), m_segmentDataStart(segmentDataStart), m_fileSize(input.Size())
    {
    }

    // Hands the frames to visit in file order, a block's or a chunk's at a time,
    // until visit returns true (the result is then true), no bytes are taken or
    // sync is lost, or budget bytes have been read. visit may see the first
    // frames twice when the walk gives way to the chunked reader.
    template <class Visit>
    bool Run(uint64_t clusterPosition, uint64_t& budget, Visit&& visit)
    {
        m_mode = Mode::EachBlock;
        SetVisit(visit);
        uint64_t left = budget;
        const Walk walk = WalkChunks(clusterPosition, left);
        if (walk == Walk::Unsure)
            return ReadChunks(clusterPosition, budget, visit);
        budget = left;
        return walk == Walk::Found;
    }

    // The same search, but the frames go to visit a cluster at a time from the
    // last cluster found back to the first, until visit returns true: for
    // searches that want the last frames. These frames carry no bytes.
    template <class Visit>
    bool RunFromEnd(uint64_t clusterPosition, uint64_t& budget, Visit&& visit)
    {
        m_mode = Mode::Clusters;
        m_clusters.clear();
        uint64_t left = budget;
        Walk walk = WalkChunks(clusterPosition, left);
        if (walk == Walk::Ended) {
            m_mode = Mode::All;
            for (size_t i = m_clusters.size(); i-- > 0 && walk == Walk::Ended;) {
                m_packets.Clear();
                m_positions.clear();
                walk = WalkCluster(m_clusters[i].first, m_clusters[i].second);
                if (walk == Walk::Ended && visit(std::as_const(m_packets)))
                    walk = Walk::Found;
            }
        }
        if (walk != Walk::Unsure) {
            budget = left;
            return walk == Walk::Found;
        }
        m_all.Clear();
        ReadChunks(clusterPosition, budget, [&](const PacketList& packets) {
            for (uint32_t i = 0; i < packets.Count(); ++i) {
                PacketRecord p = *packets.At(i);
                p.packet = nullptr;  // the chunk's bytes do not outlive the next read
                m_all.Append(p);
            }
            return false;
        });
        return visit(std::as_const(m_all));
    }

    // The frames of one read of up to length bytes at the cluster, split once.
    const PacketList& ReadOnce(uint64_t clusterPosition, uint32_t length)
    {
        m_mode = Mode::All;
        m_packets.Clear();
        m_positions.clear();
        uint64_t start = 0;
        Walk walk = Start(clusterPosition, start);
        if (walk == Walk::Ready) {
            uint64_t taken = 0;
            walk = WalkTo(start + std::min<uint64_t>(std::min(length, kSearchChunk), Available(start)), taken);
        }
        if (walk == Walk::Unsure)
            ReadOnceChunked(clusterPosition, length);
        return m_packets;
    }

    // The bytes of frame index of the frames last handed out.
    Bytes Frame(const PacketList& packets, uint32_t index)
    {
        const PacketRecord& p = *packets.At(index);
        if (p.packet != nullptr)
            return Bytes(p.packet, p.packetLength);
        m_frame.resize(size_t{p.packetLength} + 1);
        const uint32_t got = ZPMP::ReadAt(m_input, m_positions[index], m_frame.data(), p.packetLength);
        m_filePosition = UINT64_MAX;
        return Bytes(m_frame.data(), got);
    }

private:
    enum class Walk {
        Ready,  // Start: the walk can begin
        Found,  // visit returned true
        Ended,  // the search, a chunk or a cluster ended without a find
        Unsure,  // the chunked reader must take over
    };
    // What becomes of the frames of a complete cluster: visit is called after
    // each block, they are all gathered in m_packets, or only the cluster's place
    // is noted (in m_clusters).
    enum class Mode { EachBlock, All, Clusters };
    static constexpr size_t kHeadBuffer = 0x1000;
    static constexpr size_t kBlockHeadPeek = 64;

    template <class Visit>
    void SetVisit(Visit& visit)
    {
        m_visitTarget = &visit;
        m_visit = [](void* target, const PacketList& packets) { return (*static_cast<Visit*>(target))(packets); };
    }

    Walk WalkChunks(uint64_t clusterPosition, uint64_t& budget)
    {
        uint64_t start = 0;
        const Walk walk = Start(clusterPosition, start);
        if (walk != Walk::Ready)
            return walk;
        // read: end of the bytes the chunked reader has read; consumed: end of
        // those ParsePackets has taken (what is left is an element head cut by the
        // end of a chunk, kept for the next one).
        uint64_t read = start;
        uint64_t consumed = start;
        while (budget > 0) {
            const uint64_t want = std::min<uint64_t>(kSearchChunk - (read - consumed), budget);
            const uint64_t got = std::min(want, Available(read));
            budget -= got;
            read += got;
            if (read == consumed)
                return Walk::Ended;
            uint64_t taken = 0;
            const Walk walk = WalkTo(read, taken);
            if (walk != Walk::Ended)
                return walk;
            if (taken == consumed)
                return Walk::Ended;
            consumed = taken;
        }
        return Walk::Ended;
    }

    // Seeks as the chunked reader would and sets up the walk from the cluster.
    Walk Start(uint64_t clusterPosition, uint64_t& start)
    {
        m_demux.Reset(0);
        if (clusterPosition > UINT64_MAX - m_segmentDataStart)
            return Walk::Ended;
        start = m_segmentDataStart + clusterPosition;
        // A position that is negative as a signed value leaves the file where it was.
        if (start > uint64_t(INT64_MAX))
            return Walk::Unsure;
        if (m_input.Seek(start) != 0)
            return Walk::Ended;
        m_filePosition = start;
        m_next = start;
        m_pending = UINT64_MAX;
        m_synced = false;
        return Walk::Ready;
    }

    uint64_t Available(uint64_t pos) const { return m_fileSize > pos ? m_fileSize - pos : 0; }

    // What one ParsePackets call takes of the bytes up to end, the previous calls
    // having taken those before (taken: where the taken bytes end); the clusters
    // that end by then are handed on as m_mode says. Unsure when the call would
    // search for sync or a read came back short.
    Walk WalkTo(uint64_t end, uint64_t& taken)
    {
        taken = end;
        if (m_pending != UINT64_MAX) {
            if (m_next > end)
                return Walk::Ended;
            m_synced = true;
            const Walk walk = HandOn(std::exchange(m_pending, UINT64_MAX), m_next);
            if (walk != Walk::Ended)
                return walk;
        }
        while (m_next < end) {
            const std::optional<Bytes> head = HeadAt(m_next, end);
            if (!head || (!m_synced && (*head)[0] != ClusterIdFirstByte()))
                return Walk::Unsure;
            ElementHeader header;
            const HeaderRead read = ReadElementHeader(*head, header);
            if (read == HeaderRead::Short) {
                taken = m_next;
                return Walk::Ended;
            }
            if (read != HeaderRead::Ok || header.unknownSize)
                return Walk::Unsure;
            if (HasId<KaxCluster>(header) && header.TotalSize() <= kMaxClusterSize) {
                const uint64_t start = m_next;
                m_next += header.TotalSize();
                if (m_next > end) {
                    m_pending = start;
                    return Walk::Ended;
                }
                m_synced = true;
                const Walk walk = HandOn(start, m_next);
                if (walk != Walk::Ended)
                    return walk;
            } else if (m_synced && IsSkippedLevel1(header) && header.size <= UINT64_MAX - header.headSize) {
                m_next += std::min(header.TotalSize(), UINT64_MAX - m_next);
            } else {
                return Walk::Unsure;
            }
        }
        return Walk::Ended;
    }

    Walk HandOn(uint64_t start, uint64_t end)
    {
        if (m_mode != Mode::Clusters)
            return WalkCluster(start, end);
        m_clusters.emplace_back(start, end);
        return Walk::Ended;
    }

    // ParseCluster on the heads of the cluster from start to end.
    Walk WalkCluster(uint64_t start, uint64_t end)
    {
        ElementHeader header;
        const size_t headLength = static_cast<size_t>(std::min<uint64_t>(kMaxElementHead, end - start));
        if (ReadElementHeader(Peek(start, headLength), header) != HeaderRead::Ok)
            return Walk::Unsure;
        int64_t timecode = 0;
        uint64_t pos = start + header.headSize;
        while (pos < end) {
            const std::optional<Bytes> head = HeadAt(pos, end);
            if (!head)
                return Walk::Unsure;
            ElementHeader child;
            if (ReadElementHeader(*head, child) != HeaderRead::Ok || child.unknownSize)
                return Walk::Ended;
            const uint64_t dataStart = pos + child.headSize;
            if (dataStart > end || child.size > end - dataStart)
                return Walk::Ended;
            Walk walk = Walk::Ended;
            if (HasId<KaxClusterTimecode>(child))
                walk = ReadValue(dataStart, child.size, timecode);
            else if (HasId<KaxSimpleBlock>(child))
                walk = WalkBlock(dataStart, child.size, timecode, true, false, 0);
            else if (HasId<KaxBlockGroup>(child))
                walk = WalkBlockGroup(dataStart, dataStart + child.size, timecode);
            if (walk != Walk::Ended)
                return walk;
            pos = dataStart + child.size;
        }
        return Walk::Ended;
    }

    Walk WalkBlockGroup(uint64_t pos, uint64_t end, int64_t timecode)
    {
        uint64_t block = 0;
        uint64_t blockSize = 0;
        int64_t duration = 0;
        bool referenced = false;
        while (pos < end) {
            const std::optional<Bytes> head = HeadAt(pos, end);
            if (!head)
                return Walk::Unsure;
            ElementHeader h;
            if (ReadElementHeader(*head, h) != HeaderRead::Ok || h.unknownSize || pos + h.headSize > end ||
                h.size > end - pos - h.headSize)
                break;
            if (HasId<KaxBlock>(h)) {
                block = pos + h.headSize;
                blockSize = h.size;
            } else if (HasId<KaxBlockDuration>(h) && ReadValue(pos + h.headSize, h.size, duration) != Walk::Ended) {
                return Walk::Unsure;
            } else if (HasId<KaxReferenceBlock>(h)) {
                referenced = true;
            }
            pos += h.TotalSize();
        }
        if (blockSize == 0)
            return Walk::Ended;
        return WalkBlock(block, blockSize, timecode, false, !referenced, ToUInt32(static_cast<uint64_t>(duration)));
    }

    Walk WalkBlock(uint64_t pos, uint64_t size, int64_t clusterTimecode, bool simpleBlock, bool keyframe,
                   uint32_t duration)
    {
        const size_t peek = static_cast<size_t>(std::min<uint64_t>(size, kBlockHeadPeek));
        Bytes head = Peek(pos, peek);
        if (head.size() < peek)
            return Walk::Unsure;
        BlockRead read = DecodeBlockHead(head, static_cast<size_t>(size), m_block);
        if (read == BlockRead::Short) {
            // Lace sizes longer than the peek: the whole block is read.
            m_frame.resize(static_cast<size_t>(size));
            if (ZPMP::ReadAt(m_input, pos, m_frame.data(), static_cast<uint32_t>(size)) != size)
                return Walk::Unsure;
            m_filePosition = UINT64_MAX;
            read = DecodeBlockHead(Bytes(m_frame.data(), m_frame.size()), m_frame.size(), m_block);
        }
        if (read != BlockRead::Ok)
            return Walk::Ended;
        if (simpleBlock)
            keyframe = (m_block.flags & 0x80) != 0;
        if (m_mode == Mode::EachBlock) {
            m_packets.Clear();
            m_positions.clear();
        }
        AppendFrames(m_block, clusterTimecode, keyframe, duration, nullptr, m_packets);
        uint64_t at = pos + m_block.dataOffset;
        for (uint32_t i = 0; i < m_block.frames; ++i) {
            m_positions.push_back(at);
            at += m_block.sizes[i];
        }
        if (m_mode == Mode::EachBlock && m_visit(m_visitTarget, m_packets))
            return Walk::Found;
        return Walk::Ended;
    }

    // An unsigned big-endian value of up to 8 bytes (the first 8 of a longer one).
    Walk ReadValue(uint64_t pos, uint64_t size, int64_t& value)
    {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(size, 8));
        const Bytes bytes = Peek(pos, length);
        if (bytes.size() < length)
            return Walk::Unsure;
        value = static_cast<int64_t>(ReadUnsigned(bytes));
        return Walk::Ended;
    }

    // The bytes of the element head at pos (at most kMaxElementHead, none past
    // end); nothing when the read came back short.
    std::optional<Bytes> HeadAt(uint64_t pos, uint64_t end)
    {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(kMaxElementHead, end - pos));
        const Bytes head = Peek(pos, length);
        return head.size() < length ? std::nullopt : std::optional<Bytes>(head);
    }

    // The length bytes at pos (at most kHeadBuffer), fewer when the file holds
    // fewer; from the buffer when it holds them, else read into it.
    Bytes Peek(uint64_t pos, size_t length)
    {
        if (pos >= m_bufferStart && pos - m_bufferStart <= m_bufferLength &&
            length <= m_bufferLength - (pos - m_bufferStart))
            return Bytes(m_buffer.data() + (pos - m_bufferStart), length);
        m_bufferStart = pos;
        m_bufferLength = 0;
        if (pos != m_filePosition && m_input.Seek(pos) != 0)
            return {};
        const auto want = static_cast<uint32_t>(std::min<uint64_t>(kHeadBuffer, Available(pos)));
        const uint64_t got = want > 0 ? m_input.Read(m_buffer.data(), want) : 0;
        m_bufferLength = got == want ? want : 0;
        m_filePosition = got == want ? pos + want : UINT64_MAX;
        return Bytes(m_buffer.data(), std::min(length, m_bufferLength));
    }

    // The chunked reader itself.
    template <class Visit>
    bool ReadChunks(uint64_t clusterPosition, uint64_t& budget, Visit&& visit)
    {
        if (!SeekToCluster(clusterPosition))
            return false;
        uint32_t held = 0;
        while (budget > 0) {
            const auto want = static_cast<uint32_t>(std::min<uint64_t>(m_chunkSize - held, budget));
            const uint64_t got = want > 0 ? m_input.Read(m_chunk.get() + held, want) : 0;
            if (got > want)
                return false;
            budget -= got;
            held += static_cast<uint32_t>(got);
            if (held == 0)
                return false;
            m_packets.Clear();
            uint8_t lostSync = 0;
            const uint32_t used = m_demux.ParsePackets(m_chunk.get(), held, &m_packets, &lostSync);
            if (visit(std::as_const(m_packets)))
                return true;
            if (used == 0 || used > held || lostSync)
                return false;
            std::memmove(m_chunk.get(), m_chunk.get() + used, held - used);
            held -= used;
        }
        return false;
    }

    void ReadOnceChunked(uint64_t clusterPosition, uint32_t length)
    {
        m_packets.Clear();
        if (!SeekToCluster(clusterPosition))
            return;
        const uint32_t held = ZPMP::ReadFully(m_input, m_chunk.get(), std::min(length, m_chunkSize));
        uint8_t lostSync = 0;
        m_demux.ParsePackets(m_chunk.get(), held, &m_packets, &lostSync);
    }

    bool SeekToCluster(uint64_t clusterPosition)
    {
        m_demux.Reset(0);
        m_filePosition = UINT64_MAX;
        if (clusterPosition > UINT64_MAX - m_segmentDataStart)
            return false;
        // Left uninitialised: only the bytes read into it are ever looked at. No
        // larger than the file, which no read can exceed.
        if (!m_chunk) {
            m_chunkSize = ZPMP::ChunkCapacity(m_input, kSearchChunk);
            m_chunk = ZPMP::NewChunkBuffer(m_chunkSize);
        }
        return m_chunk && m_input.Seek(m_segmentDataStart + clusterPosition) == 0;
    }

    MKVDemux& m_demux;
    ZPMP::InputStream& m_input;
    uint64_t m_segmentDataStart;
    uint64_t m_fileSize;
    Mode m_mode = Mode::EachBlock;
    void* m_visitTarget = nullptr;
    bool (*m_visit)(void*, const PacketList&) = nullptr;
    PacketList m_packets;
    std::vector<uint64_t> m_positions;  // file offset of each frame of m_packets found by the walk
    std::vector<std::pair<uint64_t, uint64_t>> m_clusters;  // start and end of each cluster found
    PacketList m_all;

    // The walk: the next level-1 element to look at, or the end of the cluster
    // waiting for its last bytes (which starts at m_pending).
    uint64_t m_next = 0;
    uint64_t m_pending = UINT64_MAX;
    bool m_synced = false;
    BlockHead m_block;

    std::array<uint8_t, kHeadBuffer> m_buffer;
    uint64_t m_bufferStart = 0;
    size_t m_bufferLength = 0;
    uint64_t m_filePosition = UINT64_MAX;  // where the stream stands, when known
    std::vector<uint8_t> m_frame;
    ZPMP::ChunkBuffer m_chunk;
    uint32_t m_chunkSize = 0;
};

// A track record being built, with what the measurements need beside it.
struct MKVDemux::TrackInfo {
    std::unique_ptr<StreamRecord> record;
    double timecodeScale = 1.0;  // TrackTimecodeScale
};

MKVDemux::MKVDemux() = default;
MKVDemux::~MKVDemux() = default;

void MKVDemux::SelectTracks(uint32_t videoTrack, uint32_t videoStreamType, uint32_t audioTrack,
                            uint32_t audioStreamType)
{
    m_selection[0] = videoTrack;
    m_selection[1] = videoStreamType;
    m_selection[2] = audioTrack;
    m_selection[3] = audioStreamType;
    m_hasSelection = true;
}

void MKVDemux::GetTrackLists(uint32_t* videoCount, uint32_t* videoTracks, uint32_t* audioCount,
                             uint32_t* audioTracks, uint32_t* subtitleCount, uint32_t* subtitleTracks) const
{
    const auto copy = [](const std::vector<uint32_t>& from, uint32_t* count, uint32_t* numbers) {
        if (count != nullptr)
            *count = static_cast<uint32_t>(from.size());
        if (numbers != nullptr && !from.empty())
            std::memcpy(numbers, from.data(), from.size() * sizeof(uint32_t));
    };
    copy(m_videoTracks, videoCount, videoTracks);
    copy(m_audioTracks, audioCount, audioTracks);
    copy(m_subtitleTracks, subtitleCount, subtitleTracks);
}

void MKVDemux::GetTimeRange(TimeRangeInfo& range) const
{
    range = TimeRangeInfo{};
    int64_t start = -1;
    for (const int64_t t : {m_videoStart, m_audioStart})
        if (t != -1 && (start == -1 || t < start))
            start = t;
    range.startTime = start;
    range.videoFirstTime = m_videoStart;
    range.audioFirstTime = m_audioStart;
    range.videoEndTime = m_videoEnd;
    range.audioEndTime = m_audioEnd;
    range.videoFrameDuration = static_cast<uint32_t>(m_videoFrameDuration);
    range.audioFrameDuration = static_cast<uint32_t>(m_audioFrameDuration);
}

void MKVDemux::ClearParseState()
{
    Reset(0);
    m_segmentDataStart = 0;
    m_firstTimecode = 0;
    m_durationNs = 0;
    m_timecodeScale = kDefaultTimecodeScale;
    m_infoSeen = false;
    m_clusterReached = false;
    m_webm = false;
    m_tracks.reset();
    m_seekHead.reset();
    m_cues.reset();
    m_videoTracks.clear();
    m_audioTracks.clear();
    m_subtitleTracks.clear();
    m_videoFrameDuration = m_audioFrameDuration = -1;
    m_videoStart = m_audioStart = m_videoEnd = m_audioEnd = -1;
}

uint32_t MKVDemux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    try {
        ClearParseState();
        if (input == nullptr)
            return 0;
        return ParseFile(*input, streams);
    } catch (...) {
        // Only an allocation can fail here; libebml's own exceptions stop in the reader.
        return 0;
    }
}

uint32_t MKVDemux::ParseFile(ZPMP::InputStream& file, StreamList* streams)
{
    EbmlWindow window(file);
    if (!window.ok())
        return 0;
    window.Restart(0);

    // EBML header with DocType "matroska" (with the header extension also padded
    // with NUL bytes, or absent: the EBML default).
    const bool lenient = (m_extensions & MD_EXT_MATROSKA_HEADER) != 0;
    const auto head = ReadMaster<libebml::EbmlHead>(window, 0);
    const auto* docType = head ? FindFirst<libebml::EDocType>(*head) : nullptr;
    if (head == nullptr || (docType == nullptr ? !lenient : !IsMatroskaDocType(*docType, lenient))) {
        // A WebM file is read as Matroska.
        m_webm = (m_extensions & MD_EXT_WEBM) != 0 && docType != nullptr && IsWebmDocType(*docType, lenient);
        if (!m_webm)
            return 0;
    }

    // The segment: the first level-0 element of that ID after the header.
    ElementHeader header;
    uint64_t pos = 0;
    for (;;) {
        window.Fill(pos + kMaxElementHead);
        if (ReadElementHeader(window.From(pos), header) != HeaderRead::Ok)
            return 0;
        if (HasId<KaxSegment>(header))
            break;
        if (header.unknownSize || header.size > EbmlWindow::kCapacity)
            return 0;
        pos += header.TotalSize();
    }
    m_segmentDataStart = pos + header.headSize;
    const uint64_t segmentEnd = header.unknownSize || header.size > UINT64_MAX - m_segmentDataStart
                                    ? UINT64_MAX
                                    : m_segmentDataStart + header.size;
    WalkSegment(window, m_segmentDataStart, segmentEnd);

    std::vector<TrackInfo> tracks;
    BuildRecords(tracks);

    if (m_hasSelection) {
        if (!m_cues && m_seekHead)
            ReadCuesFromSeekHead(window);
        MeasureSelectedTracks(file, tracks);
    }

    for (TrackInfo& t : tracks) {
        const StreamRecord& r = *t.record;
        if (r.streamClass == StreamClass::Video)
            m_videoTracks.push_back(r.streamId);
        else if (r.streamClass == StreamClass::Audio)
            m_audioTracks.push_back(r.streamId);
        else
            m_subtitleTracks.push_back(r.streamId);
        // By copy: the list may belong to the detector module, which must not free what this code allocated.
        if (streams != nullptr)
            streams->AppendCopy(*t.record);
    }
    return m_infoSeen ? 1 : 0;
}

void MKVDemux::WalkSegment(EbmlWindow& window, uint64_t pos, uint64_t end)
{
    ElementHeader header;
    while (pos < end) {
        window.Fill(pos + kMaxElementHead);
        if (ReadElementHeader(window.From(pos), header) != HeaderRead::Ok)
            return;
        if (HasId<KaxCluster>(header)) {
            m_clusterReached = true;
            ReadFirstClusterTimecode(window, pos + header.headSize, header);
            return;
        }
        if (header.unknownSize || header.size > UINT64_MAX - pos - header.headSize)
            return;
        if (HasId<KaxInfo>(header) && !m_infoSeen) {
            const auto info = ReadMaster<KaxInfo>(window, pos);
            if (!info)
                return;
            ReadInfo(*info);
            m_infoSeen = true;
        } else if (HasId<KaxSeekHead>(header) && !m_seekHead) {
            if (!(m_seekHead = ReadMaster<KaxSeekHead>(window, pos)))
                return;
        } else if (HasId<KaxTracks>(header) && !m_tracks) {
            if (!(m_tracks = ReadMaster<KaxTracks>(window, pos)))
                return;
        } else if (HasId<KaxCues>(header) && !m_cues) {
            if (!(m_cues = ReadMaster<KaxCues>(window, pos)))
                return;
        }
        pos += header.TotalSize();
    }
}

void MKVDemux::ReadFirstClusterTimecode(EbmlWindow& window, uint64_t pos, const ElementHeader& cluster)
{
    // Timecode comes before the cluster's blocks; the children are walked up to
    // the first block.
    const uint64_t end = cluster.unknownSize ? UINT64_MAX : pos + cluster.size;
    ElementHeader header;
    while (pos < end) {
        window.Fill(pos + kMaxElementHead);
        if (ReadElementHeader(window.From(pos), header) != HeaderRead::Ok || header.unknownSize)
            return;
        if (HasId<KaxSimpleBlock>(header) || HasId<KaxBlockGroup>(header))
            return;
        if (header.size > EbmlWindow::kCapacity)
            return;
        const uint64_t next = pos + header.TotalSize();
        if (HasId<KaxClusterTimecode>(header)) {
            if (header.size > 8 || !window.Fill(next))
                return;
            m_firstTimecode = ReadUnsigned(window.From(pos + header.headSize).first(header.size));
            return;
        }
        pos = next;
    }
}

void MKVDemux::ReadInfo(const EbmlMaster& info)
{
    m_timecodeScale = UIntOf<KaxTimecodeScale>(info);
    const double duration = FloatOf<KaxDuration>(info);
    // Duration x TimecodeScale in single precision, as nanoseconds.
    const float ns = static_cast<float>(duration) * static_cast<float>(m_timecodeScale);
    m_durationNs = SaturateToInt64(ns);
}

void MKVDemux::ReadCuesFromSeekHead(EbmlWindow& window)
{
    for (const auto* seek = FindFirst<KaxSeek>(*m_seekHead); seek != nullptr; seek = FindNext(*m_seekHead, *seek)) {
        if (!seek->IsEbmlId(EBML_ID(KaxCues)))
            continue;
        const int64_t location = seek->Location();
        if (location < 0 || uint64_t(location) > UINT64_MAX - m_segmentDataStart)
            continue;
        const uint64_t pos = m_segmentDataStart + uint64_t(location);
        window.Restart(pos);
        m_cues = ReadMaster<KaxCues>(window, pos);
        if (!m_cues)
            continue;
        if (!m_clusterReached) {
            const std::vector<const KaxCuePoint*> points = ListCuePoints(m_cues.get());
            if (!points.empty())
                m_firstTimecode = UIntOf<KaxCueTime>(*points.front());
        }
        return;
    }
}

void MKVDemux::BuildRecords(std::vector<TrackInfo>& tracks)
{
    if (!m_tracks)
        return;
    // The WebM codecs are described in WebM files (which without them hold nothing
    // to describe) and, with the other extended codecs, in any file.
    const bool moreCodecs = (m_extensions & MD_EXT_MATROSKA_CODECS) != 0;
    const bool webmCodecs = moreCodecs || m_webm;
    for (const auto* entry = FindFirst<KaxTrackEntry>(*m_tracks); entry != nullptr;
         entry = FindNext(*m_tracks, *entry)) {
        if (FindFirst<KaxTrackNumber>(*entry) == nullptr || FindFirst<KaxCodecID>(*entry) == nullptr)
            continue;
        const uint32_t number = ToUInt32(UIntOf<KaxTrackNumber>(*entry));
        const std::string codecId = StringOf<KaxCodecID>(*entry);
        const uint64_t type = UIntOf<KaxTrackType>(*entry);

        TrackInfo track;
        track.timecodeScale = FloatOf<KaxTrackTimecodeScale>(*entry);
        track.record = NewStreamRecord();
        if (!track.record)
            continue;
        StreamRecord& r = *track.record;
        r.streamId = number;

        if (type == kTrackTypeVideo) {
            const auto* video = FindFirst<KaxTrackVideo>(*entry);
            const CodecName* codec = FindCodec(kVideoCodecs, codecId);
            if (codec == nullptr)
                codec = FindExtendedCodec(kWebmVideoCodecs, kMoreVideoCodecs, codecId, webmCodecs, moreCodecs);
            if (video == nullptr || codec == nullptr)
                continue;
            r.streamClass = StreamClass::Video;
            r.codec = codec->codec;
            if (moreCodecs && r.codec == StreamCodec::VfwVideo &&
                VfwFourCC(BinaryBytes(FindFirst<KaxCodecPrivate>(*entry))) == "FFV1")
                r.codec = StreamCodec::Ffv1;
            if (m_hasSelection && number == m_selection[0])
                FillVideo(*entry, *video, r);
        } else if (type == kTrackTypeAudio) {
            const auto* audio = FindFirst<KaxTrackAudio>(*entry);
            const CodecName* codec = FindCodec(kAudioCodecs, codecId);
            if (codec == nullptr)
                codec = FindExtendedCodec(kWebmAudioCodecs, kMoreAudioCodecs, codecId, webmCodecs, moreCodecs);
            uint32_t sub = codec ? codec->sub : 0;
            if (codec == nullptr && codecId.rfind("A_AAC", 0) == 0) {
                sub = kAacDefaultObjectType;
                for (const CodecName& p : kAacProfiles)
                    if (codecId.find(p.id) != std::string::npos) {
                        sub = p.sub;
                        break;
                    }
                r.codec = StreamCodec::Aac;
            } else if (codec != nullptr) {
                r.codec = codec->codec;
            } else {
                continue;
            }
            if (audio == nullptr)
                continue;
            r.streamClass = StreamClass::Audio;
            r.audio.codecSpecific[0] = sub;
            const uint64_t duration = UIntOf<KaxTrackDefaultDuration>(*entry);
            m_audioFrameDuration = static_cast<int64_t>((duration != 0 ? duration : kDefaultAudioFrameNs) / 100);
            if (m_hasSelection && number == m_selection[2])
                FillAudio(*entry, *audio, r);
        } else if (type == kTrackTypeSubtitle) {
            const CodecName* codec = FindCodec(kSubtitleCodecs, codecId);
            if (codec == nullptr && moreCodecs)
                codec = FindCodec(kMoreSubtitleCodecs, codecId);
            if (codec == nullptr)
                continue;
            r.streamClass = StreamClass::Subtitle;
            r.codec = codec->codec;
            FillSubtitle(*entry, r);
        } else {
            continue;
        }
        tracks.push_back(std::move(track));
    }
}

void MKVDemux::FillVideo(const EbmlMaster& entry, const EbmlMaster& video, StreamRecord& r)
{
    r.defaultFlag = UIntOf<KaxTrackFlagDefault>(entry) == 1 ? 1 : 0;
    uint64_t duration = UIntOf<KaxTrackDefaultDuration>(entry);
    if (duration == 0)
        duration = kDefaultVideoFrameNs;
    r.video.frameDuration = static_cast<int64_t>(std::min<uint64_t>(duration, INT64_MAX));
    r.frameRate = std::trunc(1e11 / static_cast<double>(duration)) / 100;
    m_videoFrameDuration = r.video.frameDuration / 100;
    r.video.width = ToUInt32(UIntOf<KaxVideoPixelWidth>(video));
    r.video.height = ToUInt32(UIntOf<KaxVideoPixelHeight>(video));
    if (IsExtendedVideo(r.codec))
        FillExtendedVideo(video, r);
    else
        SetDisplayAspect(UIntOf<KaxVideoDisplayWidth>(video), UIntOf<KaxVideoDisplayHeight>(video), r.video);

    const Bytes codecPrivate = BinaryBytes(FindFirst<KaxCodecPrivate>(entry));
    if (r.codec == StreamCodec::H264) {
        ApplyAvcConfiguration(codecPrivate, r, (m_extensions & MD_EXT_H264_PROFILES) != 0);
    } else {
        const size_t n = std::min(codecPrivate.size(), kExtraDataSize);
        if (n > 0)
            std::memcpy(r.extraData1, codecPrivate.data(), n);
        r.extraData1Length = static_cast<int32_t>(n);
    }
}

void MKVDemux::FillAudio(const EbmlMaster& entry, const EbmlMaster& audio, StreamRecord& r)
{
    r.defaultFlag = UIntOf<KaxTrackFlagDefault>(entry) == 1 ? 1 : 0;
    r.audio.sampleRate = SaturateToUInt32(FloatOf<KaxAudioSamplingFreq>(audio));
    r.audio.channels = ToUInt32(UIntOf<KaxAudioChannels>(audio));
    r.audio.bitsPerSample = ToUInt32(UIntOf<KaxAudioBitDepth>(audio));
    CopyLanguage(StringOf<KaxTrackLanguage>(entry), r.audio.language);

    const Bytes codecPrivate = BinaryBytes(FindFirst<KaxCodecPrivate>(entry));
    if (r.codec == StreamCodec::Aac && !codecPrivate.empty()) {
        // AudioSpecificConfig: audioObjectType in the top five bits of the first
        // byte; the bytes themselves go from the third codec-specific word on, as
        // far as the audio block reaches.
        r.audio.codecSpecific[0] = codecPrivate[0] >> 3;
        r.audio.codecSpecific[1] = ToUInt32(codecPrivate.size());
        constexpr size_t kAt = offsetof(AudioParams, codecSpecific) + 2 * sizeof(uint32_t);
        const size_t n = std::min(codecPrivate.size(), sizeof(AudioParams) - kAt);
        std::memcpy(reinterpret_cast<uint8_t*>(&r.audio) + kAt, codecPrivate.data(), n);
    } else if (r.codec == StreamCodec::Vorbis) {
        uint32_t sizes[3] = {};
        if (ReadXiphPacketSizes(codecPrivate, sizes))
            for (size_t i = 0; i < 3; ++i)
                r.audio.codecSpecific[i] = sizes[i];
    } else if (r.codec == StreamCodec::Opus) {
        // The output channel count of the identification header ("OpusHead") that is the CodecPrivate.
        r.audio.sampleRate = kOpusOutputRate;
        OpusHead head{};
        if (ParseOpusHead(codecPrivate, head))
            r.audio.channels = head.channels;
    } else if (r.codec == StreamCodec::Flac) {
        ReadFlacStreamInfo(codecPrivate, r.audio);
    }
}

void MKVDemux::FillSubtitle(const EbmlMaster& entry, StreamRecord& r)
{
    r.defaultFlag = UIntOf<KaxTrackFlagDefault>(entry) == 1 ? 1 : 0;
    SubtitleParams s{};
    CopyLanguage(StringOf<KaxTrackLanguage>(entry), s.language);
    if (const auto* name = FindFirst<KaxTrackName>(entry))
        CopyTrackName(name->GetValue(), s.trackName);
    // The bytes stay with the kept Tracks element while the demultiplexer lives.
    const Bytes codecPrivate = BinaryBytes(FindFirst<KaxCodecPrivate>(entry));
    s.codecPrivate = codecPrivate.empty() ? nullptr : codecPrivate.data();
    s.codecPrivateSize = codecPrivate.size();
    r.SetSubtitle(s);
}

// ---- Measurements of the selected tracks ------------------------------------------

int64_t MKVDemux::ToTime(int64_t timecode, double trackScale) const
{
    return SaturateToInt64(static_cast<double>(timecode) * trackScale * static_cast<double>(m_timecodeScale) / 100);
}

void MKVDemux::MeasureSelectedTracks(ZPMP::InputStream& input, std::vector<TrackInfo>& tracks)
{
    TrackInfo* video = nullptr;
    TrackInfo* audio = nullptr;
    for (TrackInfo& t : tracks) {
        if (!video && t.record->streamClass == StreamClass::Video && t.record->streamId == m_selection[0])
            video = &t;
        if (!audio && t.record->streamClass == StreamClass::Audio && t.record->streamId == m_selection[2])
            audio = &t;
    }
    const std::vector<const KaxCuePoint*> cues = ListCuePoints(m_cues.get());
    FrameSearch search(*this, input, m_segmentDataStart);

    const uint64_t fileSize = input.Size();
    if (video)
        m_videoStart = StartTime(search, cues, *video);
    if (audio)
        m_audioStart = StartTime(search, cues, *audio);
    // The extended codecs carry no start-code headers in their frames.
    if (video && video->record->codec != StreamCodec::H264 && !IsExtendedVideo(video->record->codec))
        ApplyFirstFrame(search, cues, *video->record);
    MeasureEndTimes(search, cues, video, audio);

    uint32_t rates[2] = {};
    EstimateBitRates(search, cues, video, audio, fileSize, rates);
    if (video)
        video->record->video.bitRate = rates[0];
    else
        m_videoFrameDuration = -1;
    if (audio) {
        StreamRecord& r = *audio->record;
        r.audio.bytesPerSecond = rates[1] / 8;
        if (r.codec == StreamCodec::Mpeg1Audio || r.codec == StreamCodec::Mpeg2Audio)
            r.audio.codecSpecific[2] = rates[1];
    } else {
        m_audioFrameDuration = -1;
    }
}

int64_t MKVDemux::StartTime(FrameSearch& search, const CuePoints& cues,
                            const TrackInfo& track) const
{
    const uint32_t number = track.record->streamId;
    uint64_t budget = kScanBudget;
    for (const KaxCuePoint* point : cues) {
        if (CueHasTrack(*point, number))
            return ToTime(static_cast<int64_t>(UIntOf<KaxCueTime>(*point)), track.timecodeScale);
        uint64_t cluster = 0;
        if (!CueClusterPosition(*point, cluster))
            continue;
        int64_t first = 0;
        const bool found = search.Run(cluster, budget, [&](const PacketList& packets) {
            for (uint32_t i = 0; i < packets.Count(); ++i)
                if (IsTimedFrameOf(*packets.At(i), number)) {
                    first = packets.At(i)->pts;
                    return true;
                }
            return false;
        });
        if (found)
            return ToTime(first, track.timecodeScale);
    }
    return -1;
}

void MKVDemux::MeasureEndTimes(FrameSearch& search, const CuePoints& cues, const TrackInfo* video,
                               const TrackInfo* audio)
{
    struct Search {
        const TrackInfo* track;
        int64_t& end;
        bool found = false;
        int64_t last = 0;
    };
    Search searches[2] = {{video, m_videoEnd}, {audio, m_audioEnd}};
    // Both tracks read the same clusters from a cue to the end of the data, so one
    // run serves both; a track without frames there goes on to the cue before with
    // what is left of the budget, as its own search would.
    uint64_t budget = kScanBudget;
    for (auto it = cues.rbegin(); it != cues.rend() && (searches[0].track || searches[1].track); ++it) {
        uint64_t cluster = 0;
        if (!CueClusterPosition(**it, cluster))
            continue;
        // The last frame of the track in the data from the cue on is the end; the
        // clusters come from the last one back.
        search.RunFromEnd(cluster, budget, [&](const PacketList& packets) {
            bool done = true;
            for (Search& s : searches) {
                for (uint32_t i = packets.Count(); s.track && !s.found && i-- > 0;)
                    if (IsTimedFrameOf(*packets.At(i), s.track->record->streamId)) {
                        s.last = packets.At(i)->pts;
                        s.found = true;
                    }
                done = done && (!s.track || s.found);
            }
            return done;
        });
        for (Search& s : searches)
            if (s.track && s.found) {
                s.end = ToTime(s.last, s.track->timecodeScale);
                s.track = nullptr;
            }
    }
}

void MKVDemux::EstimateBitRates(FrameSearch& search, const CuePoints& cues, const TrackInfo* video,
                                const TrackInfo* audio, uint64_t fileSize, uint32_t (&rates)[2]) const
{
    const size_t n = cues.size();
    if (n == 0)
        return;
    // One read at each sampled cue serves both tracks.
    const TrackInfo* tracks[2] = {video, audio};
    const auto length = static_cast<uint32_t>(std::min<uint64_t>(fileSize / 4, kSearchChunk));
    uint64_t sums[2] = {};
    uint32_t samples[2] = {};
    const PacketList none;
    const PacketList* packets = &none;
    uint64_t sampled = UINT64_MAX;
    for (size_t k = 1; k <= 3; ++k) {
        uint64_t cluster = 0;
        if (!CueClusterPosition(*cues[k * n / 4], cluster))
            continue;
        // With few cues (or several at one cluster) a cluster is sampled again: its
        // frames are those of the last read.
        if (cluster != sampled)
            packets = &search.ReadOnce(cluster, length);
        sampled = cluster;
        for (size_t t = 0; t < 2; ++t) {
            const uint32_t rate = tracks[t] ? SampleBitRate(*packets, *tracks[t]) : 0;
            if (rate > 0) {
                sums[t] += rate;
                ++samples[t];
            }
        }
    }
    for (size_t t = 0; t < 2; ++t)
        rates[t] = samples[t] > 0 ? static_cast<uint32_t>(sums[t] / samples[t]) : 0;
}

uint32_t MKVDemux::SampleBitRate(const PacketList& packets, const TrackInfo& track) const
{
    const uint32_t number = track.record->streamId;
    // T0 and Tk: the first and the last keyframe; the frames from the last
    // keyframe on (the tail) belong to the interval after Tk.
    int64_t first = 0;
    int64_t last = 0;
    bool seen = false;
    uint64_t total = 0;
    uint64_t tail = 0;
    for (uint32_t i = 0; i < packets.Count(); ++i) {
        const PacketRecord& p = *packets.At(i);
        if (p.streamId != number)
            continue;
        if (p.keyframe && p.ptsPresent) {
            if (!seen)
                first = p.pts;
            seen = true;
            last = p.pts;
            tail = 0;
        }
        total += p.packetLength;
        tail += p.packetLength;
    }
    if (!seen)
        return 0;
    const double spanMs = (static_cast<double>(last) - static_cast<double>(first)) * track.timecodeScale *
                          static_cast<double>(m_timecodeScale) / 1e6;
    if (!(spanMs > 0))
        return 0;
    return SaturateToUInt32(std::trunc(static_cast<double>(total - tail) * 8000 / spanMs));
}

void MKVDemux::ApplyFirstFrame(FrameSearch& search, const CuePoints& cues, StreamRecord& r)
{
    uint64_t budget = kScanBudget;
    for (const KaxCuePoint* point : cues) {
        uint64_t cluster = 0;
        if (!CueClusterPosition(*point, cluster))
            continue;
        const bool found = search.Run(cluster, budget, [&](const PacketList& packets) {
            for (uint32_t i = 0; i < packets.Count(); ++i) {
                const PacketRecord& p = *packets.At(i);
                if (IsTimedFrameOf(p, r.streamId)) {
                    const Bytes frame = search.Frame(packets, i);
                    ApplyFrameHeaders(frame.data(), static_cast<uint32_t>(frame.size()), r);
                    return true;
                }
            }
            return false;
        });
        if (found)
            return;
    }
}

void MKVDemux::ApplyFrameHeaders(const uint8_t* frame, uint32_t length, StreamRecord& r)
{
    if (r.codec == StreamCodec::VfwVideo && r.extraData1Length >= 20) {
        // biCompression of the BITMAPINFOHEADER that is the track's CodecPrivate.
        const std::string fourCC(reinterpret_cast<const char*>(r.extraData1) + 16, 4);
        if (fourCC == "H264" || fourCC == "X264")
            r.codec = StreamCodec::H264;
        else if (fourCC == "XVID" || fourCC == "DX50")
            r.codec = StreamCodec::Mpeg4Video;
    }
    if (r.codec != StreamCodec::Mpeg4Video) {
        const uint32_t mode = r.codec == StreamCodec::Mpeg1Video || r.codec == StreamCodec::Mpeg2Video
                                  ? kModeMpegVideo
                                  : kModeH264;
        CollectHeaders(frame, length, r.extraData1, r.extraData1Length, r.extraData2, r.extraData2Length, mode);
        return;
    }
    auto vol = std::make_unique<SequenceHeaderInfo>();
    if (!ParseVolHeader(frame, length, *vol))
        return;
    r.video.profile = vol->profile;
    r.video.level = vol->level;
    r.video.frameDuration = vol->frameDuration;
    uint32_t x = vol->aspectX;
    uint32_t y = vol->aspectY;
    if (x == 1 && y == 1)
        AspectFromSampleAspect(x, y, r.video.width, r.video.height);
    r.video.aspectX = x;
    r.video.aspectY = y;
    r.progressive = 1;
    r.encoderMarker = 0;
}

// ---- Packets ------------------------------------------------------------------------

void MKVDemux::Reset(int64_t)
{
    m_synced = 0;
    m_cluster.clear();
    m_clusterStart = 0;
    m_clusterSize = 0;
    m_skipRemaining = 0;
}

uint32_t MKVDemux::ParsePackets(const uint8_t* buffer, uint32_t length, PacketList* packets, uint8_t* lostSync)
{
    if (lostSync != nullptr)
        *lostSync = 0;
    if (buffer == nullptr)
        return 0;
    try {
        // Frames of clusters completed by the previous call are released: only the
        // cluster still being assembled stays, at the start. Room for all of this
        // call's bytes is made now, so the frame pointers handed out below stay valid.
        if (m_clusterSize > 0)
            m_cluster.erase(m_cluster.begin(), m_cluster.begin() + static_cast<ptrdiff_t>(m_clusterStart));
        else
            m_cluster.clear();
        m_clusterStart = 0;
        m_cluster.reserve(m_cluster.size() + length);

        size_t pos = 0;
        while (pos < length) {
            const size_t left = length - pos;
            if (m_clusterSize > 0) {
                const uint64_t have = m_cluster.size() - m_clusterStart;
                const auto take = static_cast<size_t>(std::min<uint64_t>(left, m_clusterSize - have));
                m_cluster.insert(m_cluster.end(), buffer + pos, buffer + pos + take);
                pos += take;
                if (have + take == m_clusterSize) {
                    ParseCluster(m_cluster.data() + m_clusterStart, static_cast<size_t>(m_clusterSize), packets);
                    m_clusterStart = m_cluster.size();
                    m_clusterSize = 0;
                    m_synced = 1;
                }
                continue;
            }
            if (m_skipRemaining > 0) {
                const auto take = static_cast<size_t>(std::min<uint64_t>(left, m_skipRemaining));
                pos += take;
                m_skipRemaining -= take;
                continue;
            }
            if (!m_synced) {
                // Out of sync only a cluster can start: move on to the next byte
                // that can begin its ID, as a byte-by-byte search would.
                const auto* next = static_cast<const uint8_t*>(std::memchr(buffer + pos, ClusterIdFirstByte(), left));
                pos = next != nullptr ? static_cast<size_t>(next - buffer) : length;
                if (pos == length)
                    break;
            }
            ElementHeader header;
            const HeaderRead read = ReadElementHeader(Bytes(buffer + pos, length - pos), header);
            if (read == HeaderRead::Short)
                break;
            if (read == HeaderRead::Ok && !header.unknownSize) {
                if (HasId<KaxCluster>(header) && header.TotalSize() <= kMaxClusterSize) {
                    m_clusterSize = header.TotalSize();
                    m_clusterStart = m_cluster.size();
                    continue;
                }
                if (m_synced && IsSkippedLevel1(header) && header.size <= UINT64_MAX - header.headSize) {
                    m_skipRemaining = header.TotalSize();
                    continue;
                }
            }
            // Not a level-1 element here: move on by one byte looking for a cluster.
            if (m_synced) {
                m_synced = 0;
                if (lostSync != nullptr)
                    *lostSync = 1;
            }
            ++pos;
        }
        return static_cast<uint32_t>(pos);
    } catch (...) {
        Reset(0);
        return 0;
    }
}

void MKVDemux::ParseCluster(const uint8_t* cluster, size_t size, PacketList* packets)
{
    const Bytes bytes(cluster, size);
    ElementHeader header;
    if (ReadElementHeader(bytes, header) != HeaderRead::Ok)
        return;
    int64_t timecode = 0;
    size_t pos = header.headSize;
    while (pos < size) {
        ElementHeader child;
        if (ReadElementHeader(bytes.subspan(pos), child) != HeaderRead::Ok || child.unknownSize)
            return;
        const size_t dataStart = pos + child.headSize;
        if (!Has(size, dataStart, child.size))
            return;
        const Bytes data = bytes.subspan(dataStart, static_cast<size_t>(child.size));
        if (HasId<KaxClusterTimecode>(child)) {
            timecode = static_cast<int64_t>(ReadUnsigned(data));
        } else if (HasId<KaxSimpleBlock>(child)) {
            ParseBlock(data.data(), data.size(), timecode, true, false, 0, packets);
        } else if (HasId<KaxBlockGroup>(child)) {
            // Block, BlockDuration and ReferenceBlock; a group without a reference
            // holds a keyframe.
            Bytes block;
            uint64_t duration = 0;
            bool referenced = false;
            size_t at = 0;
            while (at < data.size()) {
                ElementHeader h;
                if (ReadElementHeader(data.subspan(at), h) != HeaderRead::Ok || h.unknownSize ||
                    !Has(data.size(), at + h.headSize, h.size))
                    break;
                const Bytes value = data.subspan(at + h.headSize, static_cast<size_t>(h.size));
                if (HasId<KaxBlock>(h))
                    block = value;
                else if (HasId<KaxBlockDuration>(h))
                    duration = ReadUnsigned(value);
                else if (HasId<KaxReferenceBlock>(h))
                    referenced = true;
                at += static_cast<size_t>(h.TotalSize());
            }
            if (!block.empty())
                ParseBlock(block.data(), block.size(), timecode, false, !referenced, ToUInt32(duration), packets);
        }
        pos = dataStart + static_cast<size_t>(child.size);
    }
}

void MKVDemux::ParseBlock(const uint8_t* block, size_t size, int64_t clusterTimecode, bool simpleBlock, bool keyframe,
                          uint32_t duration, PacketList* packets)
{
    BlockHead head;
    if (DecodeBlockHead(Bytes(block, size), size, head) != BlockRead::Ok || packets == nullptr)
        return;
    if (simpleBlock)
        keyframe = (head.flags & 0x80) != 0;
    AppendFrames(head, clusterTimecode, keyframe, duration, block + head.dataOffset, *packets);
}

}  // namespace md
