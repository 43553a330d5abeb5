#include "ogg/ogg_demux.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <numeric>
#include <vector>

#include "es/audio_headers.h"
#include "es/xiph_headers.h"
#include "ogg/ogg_page.h"
#include "tags/vorbis_comment.h"

namespace md {
namespace {

// The head is walked no further than this, the end from this many bytes before it; a read of either is one window.
constexpr uint64_t kHeadLimit = 512 * 1024;
constexpr uint64_t kTailSize = 64 * 1024;
constexpr uint32_t kWindowSize = 64 * 1024;
static_assert(kWindowSize >= kOggMaxPageSize, "a window holds any page");

// Caps on a walk's pages and on the logical streams followed over every link.
constexpr int kMaxPagesPerWalk = 32768;
constexpr size_t kMaxLogicalStreams = 64;

// A duration longer than this (136 years) is taken for a broken granule position.
constexpr uint64_t kMaxSeconds = uint64_t(1) << 32;

// The FLAC-in-Ogg mapping header: 0x7F "FLAC", major and minor version, the number of header packets after this
// one (big-endian 16 bits, 0 = not stated), then the native "fLaC" marker and the STREAMINFO metadata block.
constexpr uint8_t kFlacMappingMagic[5] = {0x7F, 'F', 'L', 'A', 'C'};
constexpr size_t kFlacMappingSize = 13;
constexpr uint32_t kFlacMappingMajor = 1;

// Opus versions 0-15 share the header layout (RFC 7845 5.1); a higher major version is another format.
constexpr uint32_t kOpusMaxVersion = 15;

// Header packets before the first data packet, per mapping.
constexpr uint64_t kVorbisHeaderPackets = 3;  // identification, comment, setup
constexpr uint64_t kTheoraHeaderPackets = 3;
constexpr uint64_t kOpusHeaderPackets = 2;  // OpusHead, OpusTags
constexpr uint64_t kSpeexHeaderPackets = 2;  // header, comment; then the header's extra_headers

// No Speex packet holds more than this many samples (frames of at most 640 samples at 32 kHz, a handful a packet).
constexpr uint64_t kMaxSpeexPacketSamples = 640 * 64;

enum class Mapping { Unknown, Vorbis, Opus, Flac, Speex, Theora };

// One logical stream: what its header says about its time base, and what the walks saw of it.
struct LogicalStream {
    uint32_t serial = 0;
    uint32_t link = 0;
    Mapping mapping = Mapping::Unknown;
    uint32_t rate = 0;  // granule units per second for audio
    uint32_t frameRateNumerator = 0, frameRateDenominator = 0;  // Theora
    uint32_t granuleShift = 0;  // Theora: KFGSHIFT
    bool granuleCountsFrame = true;  // Theora from 3.2.1 on
    uint32_t preSkip = 0;  // Opus
    uint64_t samplesPerPacket = 0;  // Speex: frame size x frames per packet
    uint64_t headerPackets = 0;
    uint64_t packetsSeen = 0;
    uint32_t nextSequence = 1;
    bool startKnown = false;
    int64_t start = 0;  // samples (frames for Theora) before the first one
    int64_t last = -1;  // the position the last trusted granule gives, -1 before one
    bool commentSeen = false;  // the page after the BOS page, where the comment header starts, was looked at
    std::unique_ptr<StreamRecord> record;  // for the listed streams of the first link
};

// A link: where its BOS pages start in the file.
struct Link {
    uint64_t position = 0;
};

// Reads of one part of the file in windows of kWindowSize, the part ending at end.
class PageWindow {
public:
    PageWindow(ZPMP::InputStream& input, uint64_t end) : m_input(input), m_end(end) {}

    uint64_t End() const { return m_end; }

    // The page at pos, which must lie wholly before the end: the header, then the segment table, then the page
    // as long as they make it, so that the window is read again only when the page runs past it.
    OggPageStatus PageAt(uint64_t pos, OggPage& page)
    {
        const Bytes header = Load(pos, kOggHeaderSize);
        if (header.size() < kOggHeaderSize)
            return ReadOggPage(header, page);
        const uint32_t segments = header[kOggSegmentCountOffset];
        const Bytes table = Load(pos, kOggHeaderSize + segments);
        if (table.size() < kOggHeaderSize + segments)
            return ReadOggPage(table, page);
        uint32_t size = kOggHeaderSize + segments;
        for (uint32_t i = 0; i < segments; ++i)
            size += table[kOggHeaderSize + i];
        return ReadOggPage(Load(pos, size), page);
    }

    // The first capture pattern at or after pos, or the end when there is none before it.
    uint64_t FindCapture(uint64_t pos)
    {
        for (int n = 0; n < kMaxPagesPerWalk && pos < m_end; ++n) {
            const Bytes b = Load(pos, kWindowSize);
            if (b.size() < 4)
                break;
            for (size_t i = 0; i + 4 <= b.size(); ++i)
                if (std::memcmp(b.data() + i, "OggS", 4) == 0)
                    return pos + i;
            pos += b.size() - 3;  // a pattern may start in the last three bytes
        }
        return m_end;
    }

private:
    // The bytes [pos, pos + n) cut at the end, re-reading the window from pos when it does not hold them.
    Bytes Load(uint64_t pos, uint32_t n)
    {
        if (pos >= m_end)
            return {};
        const size_t want = size_t(std::min<uint64_t>(n, m_end - pos));
        if (!m_buffer) {
            // Not zero-filled: only the pages a read writes to are touched.
            m_capacity = size_t(std::min<uint64_t>(kWindowSize, m_end));
            m_buffer.reset(new (std::nothrow) uint8_t[m_capacity]);
            if (!m_buffer)
                return {};
        }
        if (pos < m_at || pos + want > m_at + m_length) {
            // The bytes from pos the window holds already move to its front; the read brings the rest.
            size_t kept = 0;
            if (pos >= m_at && pos < m_at + m_length) {
                kept = size_t(m_at + m_length - pos);
                std::memmove(m_buffer.get(), m_buffer.get() + (pos - m_at), kept);
            }
            m_at = pos;
            const auto more = uint32_t(std::min<uint64_t>(m_capacity - kept, m_end - pos - kept));
            m_length = kept + ZPMP::ReadAt(m_input, pos + kept, m_buffer.get() + kept, more);
        }
        const size_t offset = size_t(pos - m_at);
        return Bytes(m_buffer.get() + offset, std::min(want, m_length - std::min(offset, m_length)));
    }

    ZPMP::InputStream& m_input;
    uint64_t m_end;
    std::unique_ptr<uint8_t[]> m_buffer;
    size_t m_capacity = 0;
    uint64_t m_at = 0;
    size_t m_length = 0;
};

// The first packet of a BOS page, whole (the identification headers fill a page of their own).
Bytes FirstPacket(const OggPage& page)
{
    OggPacketWalk walk(page);
    Bytes packet;
    bool complete = false;
    return walk.Next(packet, complete) && complete && !page.Continued() ? packet : Bytes{};
}

// The display aspect of a Theora picture: its size times the pixel aspect (square pixels when not stated),
// reduced.
void SetTheoraAspect(const TheoraIdHeader& h, VideoParams& video)
{
    const bool stated = h.pixelAspectNumerator != 0 && h.pixelAspectDenominator != 0;
    uint64_t x = uint64_t(h.pictureWidth) * (stated ? h.pixelAspectNumerator : 1);
    uint64_t y = uint64_t(h.pictureHeight) * (stated ? h.pixelAspectDenominator : 1);
    if (x == 0 || y == 0)
        return;
    const uint64_t g = std::gcd(x, y);
    x /= g, y /= g;
    while (x > std::numeric_limits<uint32_t>::max() || y > std::numeric_limits<uint32_t>::max())
        x >>= 1, y >>= 1;
    video.aspectX = uint32_t(x), video.aspectY = uint32_t(y);
}

// The stream a BOS page opens: its mapping and time base from the identification header, and for the first link
// its record.
void Identify(const OggPage& page, bool listed, LogicalStream& s)
{
    const Bytes id = FirstPacket(page);
    std::unique_ptr<StreamRecord> r = NewStreamRecord();
    if (!r) {
        s.startKnown = true;  // not described, not measured
        return;
    }
    StreamRecord& rec = *r;
    rec.streamClass = StreamClass::Audio;

    VorbisIdHeader vorbis{};
    OpusHead opus{};
    SpeexHeader speex{};
    TheoraIdHeader theora{};
    FlacStreamInfo flac{};
    if (ParseVorbisIdHeader(id, vorbis)) {
        s.mapping = Mapping::Vorbis, s.rate = vorbis.sampleRate, s.headerPackets = kVorbisHeaderPackets;
        rec.codec = StreamCodec::Vorbis;
        rec.audio.channels = vorbis.channels, rec.audio.sampleRate = vorbis.sampleRate;
        rec.audio.bytesPerSecond = vorbis.bitrateNominal > 0 ? uint32_t(vorbis.bitrateNominal) / 8 : 0;
    } else if (ParseOpusHead(id, opus) && opus.version <= kOpusMaxVersion) {
        s.mapping = Mapping::Opus, s.rate = kOpusOutputRate, s.headerPackets = kOpusHeaderPackets;
        s.preSkip = opus.preSkip;
        rec.codec = StreamCodec::Opus;
        rec.audio.channels = opus.channels, rec.audio.sampleRate = kOpusOutputRate;
        rec.audio.channelMask = OpusChannelMask(opus.mappingFamily, opus.channels);
    } else if (id.size() >= kFlacMappingSize &&
               std::memcmp(id.data(), kFlacMappingMagic, sizeof kFlacMappingMagic) == 0 && id[5] == kFlacMappingMajor &&
               std::memcmp(id.data() + 9, "fLaC", 4) == 0 &&
               ParseFlacStreamInfo(id.data() + kFlacMappingSize, id.size() - kFlacMappingSize, flac)) {
        s.mapping = Mapping::Flac, s.rate = flac.sampleRate, s.headerPackets = 1 + Be16(id.data() + 7);
        rec.codec = StreamCodec::Flac;
        rec.audio.channels = flac.channels, rec.audio.sampleRate = flac.sampleRate;
        rec.audio.bitsPerSample = flac.bitsPerSample;  // as Matroska describes FLAC
    } else if (ParseSpeexHeader(id, speex)) {
        s.mapping = Mapping::Speex, s.rate = speex.sampleRate;
        s.headerPackets = kSpeexHeaderPackets + speex.extraHeaders;
        const uint64_t samples = uint64_t(speex.frameSize) * speex.framesPerPacket;
        s.samplesPerPacket = samples <= kMaxSpeexPacketSamples ? samples : 0;
        rec.codec = StreamCodec::Speex;
        rec.audio.channels = speex.channels, rec.audio.sampleRate = speex.sampleRate;
        rec.audio.bytesPerSecond = speex.bitrate > 0 ? uint32_t(speex.bitrate) / 8 : 0;
    } else if (ParseTheoraIdHeader(id, theora)) {
        s.mapping = Mapping::Theora, s.headerPackets = kTheoraHeaderPackets;
        s.frameRateNumerator = theora.frameRateNumerator, s.frameRateDenominator = theora.frameRateDenominator;
        s.granuleShift = theora.keyframeGranuleShift, s.granuleCountsFrame = theora.versionRevision >= 1;
        rec.streamClass = StreamClass::Video;
        rec.codec = StreamCodec::Theora;
        rec.video.width = theora.pictureWidth, rec.video.height = theora.pictureHeight;
        rec.video.bitRate = theora.nominalBitrate;
        SetTheoraAspect(theora, rec.video);
        if (theora.frameRateNumerator != 0 && theora.frameRateDenominator != 0) {
            rec.frameRate = double(theora.frameRateNumerator) / theora.frameRateDenominator;
            rec.video.frameDuration = SamplesToUnits(theora.frameRateDenominator, theora.frameRateNumerator);
        }
        rec.progressive = 1;  // Theora codes whole frames only
        const size_t n = std::min(id.size(), kExtraDataSize);
        std::memcpy(rec.extraData1, id.data(), n);
        rec.extraData1Length = int32_t(n);
    }
    // Vorbis and FLAC packet lengths in samples need the codec's setup: their streams are taken to start at 0.
    s.startKnown = s.mapping == Mapping::Vorbis || s.mapping == Mapping::Flac || s.mapping == Mapping::Unknown;
    if (listed && s.mapping != Mapping::Unknown)
        s.record = std::move(r);
}

// The position a granule gives: samples for audio, for Theora the frames up to and including the frame the page
// ends with (the keyframe number in the high bits plus the frames since it; before 3.2.1 the granule numbers the
// frame from 0). -1 for a granule no packet ends with, or one out of range.
int64_t PositionOf(const LogicalStream& s, int64_t granule)
{
    if (granule < 0)
        return -1;
    if (s.mapping != Mapping::Theora)
        return granule;
    const uint64_t g = uint64_t(granule);
    const uint64_t frames =
        (g >> s.granuleShift) + (g & ((uint64_t(1) << s.granuleShift) - 1)) + (s.granuleCountsFrame ? 0 : 1);
    return frames <= uint64_t(std::numeric_limits<int64_t>::max()) ? int64_t(frames) : -1;
}

// The samples (frames for Theora) of the last `count` packets a page completes, where the codec gives them
// without decoding; -1 where it does not or a packet began on an earlier page.
int64_t SamplesOfLastPackets(const LogicalStream& s, const OggPage& page, uint64_t count)
{
    if (s.mapping == Mapping::Theora)
        return int64_t(count);  // one frame a packet
    if (s.mapping == Mapping::Speex)
        return s.samplesPerPacket != 0 ? int64_t(count * s.samplesPerPacket) : -1;
    if (s.mapping != Mapping::Opus)
        return -1;
    const uint64_t completed = OggPacketsEnding(page);
    OggPacketWalk walk(page);
    Bytes packet;
    bool complete = false;
    int64_t samples = 0;
    for (uint64_t i = 0; walk.Next(packet, complete) && complete; ++i) {
        if (i + count < completed)
            continue;  // a header packet
        if (i == 0 && page.Continued())
            return -1;  // its first bytes, the TOC byte among them, are on the page before
        const uint32_t n = OpusPacketSamples(packet);
        if (n == 0)
            return -1;
        samples += n;
    }
    return samples;
}

// The walks over a file: the head's from the start, which lists the first link's streams; the head's on to its
// bound (for chained files); the tail's.
enum class Pass { Head, HeadOn, Tail };

// What the walks over the file have seen: the logical streams of every link, and the pages of the tail that no
// stream claims.
class OggScan {
public:
    // Takes a page found at pos.
    void Take(const OggPage& page, uint64_t pos, Pass pass)
    {
        if (pass == Pass::Tail && !m_tailTaken) {
            m_tailTaken = true;
            m_tailContinues = !page.Bos() && IndexOf(page.serial) >= 0;
        }
        if (page.Bos()) {
            TakeBos(page, pos, pass == Pass::Head);
            return;
        }
        m_dataSinceBos = true;
        LogicalStream* s = Find(page.serial);
        if (s == nullptr) {
            // A stream whose BOS page is missing: not described. In the tail, unless the head met it already, it
            // may be a link whose start no walk saw.
            const bool known = std::find(m_orphans.begin(), m_orphans.end(), page.serial) != m_orphans.end();
            if (pass != Pass::Tail && !known && m_orphans.size() < kMaxLogicalStreams)
                m_orphans.push_back(page.serial);
            if (pass == Pass::Tail && !known)
                ++m_unclaimedPages;
            return;
        }
        if (s->mapping == Mapping::Unknown)
            return;
        if (m_tags && pass == Pass::Head && !s->commentSeen)
            TakeComment(*s, page, pos);
        // A page lost before the first data packet loses the packet count: the start is then taken as 0.
        if (!s->startKnown && page.sequence != s->nextSequence)
            s->startKnown = true;
        s->nextSequence = page.sequence + 1;
        if (!s->startKnown)
            TakeStart(*s, page);
        // A granule position that goes backwards is not trusted.
        const int64_t position = PositionOf(*s, page.granule);
        if (position >= 0 && position >= s->last)
            s->last = position;
    }

    // Whether the head walk has what the description needs: the BOS pages of the first link are over and every
    // stream's start is known.
    bool StartsKnown() const
    {
        return m_dataSinceBos &&
               std::all_of(m_streams.begin(), m_streams.end(), [](const LogicalStream& s) { return s.startKnown; });
    }

    // Whether a serial number is that of a stream, or of pages the head walks met without their BOS page.
    bool Knows(uint32_t serial) const
    {
        return IndexOf(serial) >= 0 || std::find(m_orphans.begin(), m_orphans.end(), serial) != m_orphans.end();
    }

    std::vector<LogicalStream>& Streams() { return m_streams; }
    const std::vector<Link>& Links() const { return m_links; }
    // The list the comment header of the first stream of the first link that has one goes into (none: not read).
    void ListTagsIn(TagList* tags, CoverLocation* cover)
    {
        m_tags = tags;
        m_cover = cover;
    }
    uint64_t UnclaimedPages() const { return m_unclaimedPages; }
    // Whether the first page the tail walk took was of a stream the head walks saw open: of their last link, as
    // links follow one another.
    bool TailContinuesHead() const { return m_tailContinues; }

private:
    // The comment header opens the page after a stream's BOS page; what of it lies on that page is read (a
    // comment longer than a page, with a picture in it, loses the fields after the page). The page lies at pos: a
    // picture field on it is placed in the file.
    void TakeComment(LogicalStream& s, const OggPage& page, uint64_t pos)
    {
        s.commentSeen = true;
        if (s.link != 0 || page.Continued() || !m_tags->Empty())
            return;
        OggPacketWalk walk(page);
        Bytes packet;
        bool complete = false;
        if (!walk.Next(packet, complete))
            return;
        constexpr uint8_t kFlacCommentBlock = 4;  // a FLAC metadata block header: type, 24-bit length
        // The packet's first byte in the file: after the page header and segment table.
        const uint64_t at = pos + (page.size - page.body.size()) + uint64_t(packet.data() - page.body.data());
        if (s.mapping == Mapping::Speex)
            ReadVorbisComment(packet, *m_tags, m_cover, at);
        else if (s.mapping == Mapping::Flac && !packet.empty() && (packet[0] & 0x7F) == kFlacCommentBlock)
            ReadVorbisComment(packet.subspan(std::min<size_t>(4, packet.size())), *m_tags, m_cover, at + 4);
        else
            ReadXiphCommentPacket(packet, *m_tags, m_cover, at);
    }

    void TakeBos(const OggPage& page, uint64_t pos, bool listing)
    {
        if (m_links.empty() || m_dataSinceBos) {
            m_links.push_back({pos});
            m_dataSinceBos = false;
        }
        const auto link = uint32_t(m_links.size() - 1);
        const LogicalStream* same = Find(page.serial);
        if ((same && same->link == link) || m_streams.size() >= kMaxLogicalStreams)
            return;  // a second BOS page of a stream, or one stream too many
        LogicalStream s;
        s.serial = page.serial, s.link = link, s.nextSequence = page.sequence + 1;
        s.packetsSeen = OggPacketsEnding(page);
        Identify(page, listing && link == 0 && m_listed < kMaxFileStreams, s);
        m_listed += s.record ? 1 : 0;
        m_streams.push_back(std::move(s));
    }

    // Counts the packets of a stream's pages up to its first data page, whose granule position less the samples of
    // the data packets it completes is the stream's start.
    static void TakeStart(LogicalStream& s, const OggPage& page)
    {
        const uint64_t completed = OggPacketsEnding(page);
        if (s.packetsSeen + completed <= s.headerPackets) {
            s.packetsSeen += completed;
            return;
        }
        const uint64_t data = s.packetsSeen + completed - std::max(s.packetsSeen, s.headerPackets);
        s.packetsSeen += completed;
        s.startKnown = true;
        // On a page that also ends the stream the granule position may cut the last packet short (end trimming):
        // the start is taken as 0.
        const int64_t end = PositionOf(s, page.granule);
        const int64_t samples = SamplesOfLastPackets(s, page, data);
        if (end >= 0 && samples >= 0 && !page.Eos())
            s.start = end - samples;
    }

    // The stream of a serial number: the one opened last, as a later link may use a serial again; -1 for none.
    ptrdiff_t IndexOf(uint32_t serial) const
    {
        for (auto i = ptrdiff_t(m_streams.size()) - 1; i >= 0; --i)
            if (m_streams[size_t(i)].serial == serial)
                return i;
        return -1;
    }
    LogicalStream* Find(uint32_t serial)
    {
        const ptrdiff_t i = IndexOf(serial);
        return i >= 0 ? &m_streams[size_t(i)] : nullptr;
    }

    std::vector<LogicalStream> m_streams;
    std::vector<uint32_t> m_orphans;
    std::vector<Link> m_links;
    uint32_t m_listed = 0;
    bool m_dataSinceBos = false;
    uint64_t m_unclaimedPages = 0;
    TagList* m_tags = nullptr;
    CoverLocation* m_cover = nullptr;
    bool m_tailTaken = false;
    bool m_tailContinues = false;
};

// Hands take(page, position) the pages from pos on whose start lies before stopAt, each whole inside the window,
// until it returns false; a page that fails its CRC or is no page is skipped to the next capture pattern, a page
// cut short by the window's end ends the walk. Returns the position after the last page taken (pos for none).
template <typename Take>
uint64_t WalkPages(PageWindow& window, uint64_t pos, uint64_t stopAt, Take&& take)
{
    uint64_t end = pos;
    for (int n = 0; n < kMaxPagesPerWalk && pos < stopAt; ++n) {
        OggPage page;
        const OggPageStatus status = window.PageAt(pos, page);
        if (status == OggPageStatus::Truncated)
            break;
        if (status != OggPageStatus::Ok) {
            pos = window.FindCapture(pos + 1);
            continue;
        }
        if (!take(page, pos))
            break;
        pos += page.size;
        end = pos;
    }
    return end;
}

// A walk that gives every page to the scan; the head's first walk stops as soon as the streams' starts are known.
uint64_t Walk(PageWindow& window, uint64_t pos, uint64_t stopAt, OggScan& scan, Pass pass)
{
    return WalkPages(window, pos, stopAt, [&](const OggPage& page, uint64_t at) {
        if (pass == Pass::Head && scan.StartsKnown())
            return false;
        scan.Take(page, at, pass);
        return true;
    });
}

// Whether the tail's first page opens a link or belongs to a stream the scan does not know: then links the head
// walk has not reached may lie before it. (A tail that goes on with a stream the head saw open has none between.)
bool TailStartsElsewhere(PageWindow& window, uint64_t pos, const OggScan& scan)
{
    bool elsewhere = false;
    WalkPages(window, pos, window.End(), [&](const OggPage& page, uint64_t) {
        elsewhere = page.Bos() || !scan.Knows(page.serial);
        return false;
    });
    return elsewhere;
}

// 100-ns units of a stream's length in its own positions; -1 when unknown.
int64_t StreamUnits(const LogicalStream& s)
{
    if (s.last < 0)
        return -1;
    int64_t length = s.last - s.start;
    if (s.mapping == Mapping::Opus)
        length -= s.preSkip;
    if (length < 0)
        return -1;
    const auto count = uint64_t(length);
    if (s.mapping == Mapping::Theora) {
        const uint64_t num = s.frameRateNumerator, den = s.frameRateDenominator;
        if (num == 0 || den == 0 || count > std::numeric_limits<uint64_t>::max() / den ||
            count * den / num > kMaxSeconds)
            return -1;
        return SamplesToUnits(count * den, uint32_t(num));
    }
    if (s.rate == 0 || count / s.rate > kMaxSeconds)
        return -1;
    return SamplesToUnits(count, s.rate);
}

}  // namespace

bool ProbeOgg(const ProbeInput& input)
{
    OggPage page;
    return ReadOggPage(input.head, page) == OggPageStatus::Ok && page.Bos();
}

uint32_t OggDemux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    m_times = {};
    if (input == nullptr)
        return 0;
    const uint64_t size = input->Size();
    const uint64_t headEnd = std::min(size, kHeadLimit);
    PageWindow head(*input, headEnd);
    OggPage first;
    if (head.PageAt(0, first) != OggPageStatus::Ok || !first.Bos())
        return 0;

    // The head as far as the starts need, then the tail; a tail that starts in another link has the head walked on
    // to its bound first, so that the links between are seen.
    OggScan scan;
    m_tags.Clear();
    m_cover = {};
    if (WantsTags())
        scan.ListTagsIn(&m_tags, &m_cover);
    uint64_t headWalked = Walk(head, 0, headEnd, scan, Pass::Head);
    const uint64_t tailStart = std::max(headWalked, size > kTailSize ? size - kTailSize : 0);
    PageWindow tail(*input, size);
    uint64_t tailPos = tailStart < size ? tail.FindCapture(tailStart) : size;
    if (tailPos < size && headWalked < std::min(headEnd, tailStart) && TailStartsElsewhere(tail, tailPos, scan)) {
        headWalked = Walk(head, headWalked, std::min(headEnd, tailStart), scan, Pass::HeadOn);
        if (headWalked > tailPos)
            tailPos = tail.FindCapture(headWalked);
    }
    const uint64_t tailWalked = Walk(tail, tailPos, size, scan, Pass::Tail);

    // Each link lasts as long as its longest stream, the links one after the other in file order.
    std::vector<LogicalStream>& all = scan.Streams();
    const std::vector<Link>& links = scan.Links();
    std::vector<int64_t> linkUnits(links.size(), 0);
    for (const LogicalStream& s : all)
        linkUnits[s.link] = std::max(linkUnits[s.link], StreamUnits(s));
    int64_t videoEnd = -1, audioEnd = -1;
    uint32_t videoFrame = 0;
    for (const LogicalStream& s : all) {
        const int64_t units = StreamUnits(s);
        if (units < 0)
            continue;
        int64_t offset = 0;
        for (size_t k = 0; k < links.size(); ++k)
            if (links[k].position < links[s.link].position)
                offset += linkUnits[k];
        int64_t& end = s.mapping == Mapping::Theora ? videoEnd : audioEnd;
        end = std::max(end, offset + units);
        if (s.mapping == Mapping::Theora && videoFrame == 0 && s.frameRateNumerator != 0) {
            const int64_t frame = SamplesToUnits(s.frameRateDenominator, s.frameRateNumerator);
            videoFrame = frame <= int64_t(std::numeric_limits<uint32_t>::max()) ? uint32_t(frame) : 0;
        }
    }
    m_times.SetVideo(videoEnd, videoFrame);
    m_times.SetAudio(audioEnd, 0);
    // Pages of a link whose start no read saw, or a tail that does not go on with the head's last link after bytes
    // no walk took: the sum may leave links out.
    const bool gap = headWalked < tailPos && tailWalked > tailPos;
    m_times.estimated = scan.UnclaimedPages() != 0 || (gap && !scan.TailContinuesHead());

    // The listed streams, numbered by serial; serial 0 takes the smallest id no other listed serial uses.
    std::vector<uint32_t> serials;
    for (const LogicalStream& s : all)
        if (s.record)
            serials.push_back(s.serial);
    uint32_t zeroId = 1;
    while (std::find(serials.begin(), serials.end(), zeroId) != serials.end())
        ++zeroId;
    for (LogicalStream& s : all) {
        if (!s.record)
            continue;
        s.record->streamId = s.serial != 0 ? s.serial : zeroId;
        if (streams)
            streams->Append(std::move(s.record));
    }
    return 1;
}

}  // namespace md
