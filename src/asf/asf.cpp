#include "asf/asf.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <numeric>
#include <vector>

#include "es/bitmap_info.h"
#include "es/wave_format.h"
#include "tags/asf_tags.h"

namespace md {
namespace {

using Guid = std::array<uint8_t, 16>;

// A GUID as ASF stores it: Data1, Data2 and Data3 little-endian, then the eight bytes of Data4 in order.
constexpr Guid AsfGuid(uint32_t data1, uint16_t data2, uint16_t data3, uint64_t data4)
{
    Guid g{};
    for (int i = 0; i < 4; ++i)
        g[i] = uint8_t(data1 >> (8 * i));
    for (int i = 0; i < 2; ++i) {
        g[4 + i] = uint8_t(data2 >> (8 * i));
        g[6 + i] = uint8_t(data3 >> (8 * i));
    }
    for (int i = 0; i < 8; ++i)
        g[8 + i] = uint8_t(data4 >> (56 - 8 * i));
    return g;
}

constexpr Guid kHeaderObject = AsfGuid(0x75B22630, 0x668E, 0x11CF, 0xA6D900AA0062CE6C);
constexpr Guid kDataObject = AsfGuid(0x75B22636, 0x668E, 0x11CF, 0xA6D900AA0062CE6C);
constexpr Guid kFileProperties = AsfGuid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365);
constexpr Guid kStreamProperties = AsfGuid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365);
constexpr Guid kHeaderExtension = AsfGuid(0x5FBF03B5, 0xA92E, 0x11CF, 0x8EE300C00C205365);
constexpr Guid kExtendedStreamProperties = AsfGuid(0x14E6A5CB, 0xC672, 0x4332, 0x8399A96952065B5A);
constexpr Guid kMetadata = AsfGuid(0xC5F8CBEA, 0x5BAF, 0x4877, 0x8467AA8C44FA4CCA);
constexpr Guid kMetadataLibrary = AsfGuid(0x44231C94, 0x9498, 0x49D1, 0xA1411D134E457054);
constexpr Guid kAudioMedia = AsfGuid(0xF8699E40, 0x5B4D, 0x11CF, 0xA8FD00805F5C442B);
constexpr Guid kVideoMedia = AsfGuid(0xBC19EFC0, 0x5B4D, 0x11CF, 0xA8FD00805F5C442B);

bool IsGuid(Bytes b, size_t off, const Guid& g)
{
    return Has(b, off, g.size()) && std::memcmp(b.data() + off, g.data(), g.size()) == 0;
}

constexpr size_t kObjectHeaderSize = 24;      // Object ID (GUID), Object Size (QWORD, the header included)
constexpr size_t kHeaderObjectStart = 30;     // then Number of Header Objects (DWORD), Reserved1, Reserved2
constexpr size_t kHeaderExtensionStart = 22;  // Reserved Field 1 (GUID), Reserved Field 2 (WORD), Data Size (DWORD)
constexpr size_t kFilePropertiesSize = 80;
constexpr size_t kStreamPropertiesStart = 54;  // the fixed fields before the Type-Specific Data
constexpr size_t kExtendedStreamPropertiesStart = 64;
constexpr size_t kVideoMediaStart = 11;  // Encoded Image Width, Height (DWORDs), Reserved Flags, Format Data Size
constexpr uint32_t kBroadcastFlag = 0x1;
constexpr uint32_t kStreamNumberMask = 0x7F;
constexpr uint32_t kMaxStreamNumber = 127;
constexpr uint64_t kUnitsPerMillisecond = 10000;

// At most this many objects are walked in one list, and this many Stream Properties Objects kept.
constexpr int kMaxObjects = 4096;
constexpr size_t kMaxStreamObjects = 256;

// The frame rate of a video stream whose header states none is measured on the presentation times of its first
// media objects: at most kRateFrames of them, in the data packets of the first kRateBytes of the Data Object (read
// kRateBlock at a time), and at least kMinRateIntervals intervals. Data packets are of one size, which File
// Properties states (Minimum and Maximum Data Packet Size equal), between kMinPacketSize and kRateBlock.
constexpr size_t kDataObjectStart = 50;  // Object ID, Object Size, File ID, Total Data Packets, Reserved
constexpr size_t kRateFrames = 48;
constexpr uint64_t kRateBytes = 256 * 1024;
constexpr uint32_t kRateBlock = 64 * 1024;
constexpr size_t kMinRateIntervals = 4;
constexpr uint32_t kMinPacketSize = 8;  // Length Type and Property Flags, Send Time, Duration

bool IsHeaderStart(Bytes b) { return Has(b, 0, kHeaderObjectStart) && IsGuid(b, 0, kHeaderObject); }

// What a stream's entries in the Header Extension state.
struct StreamExtras {
    uint64_t avgTimePerFrame = 0;  // 100-ns units; 0: not stated
    uint32_t aspectX = 0;          // the pixel aspect, AspectRatioX : AspectRatioY
    uint32_t aspectY = 0;
};

struct AsfHeader {
    bool fileProperties = false;
    uint64_t playDuration = 0;  // 100-ns units, the preroll included
    uint64_t preroll = 0;       // milliseconds
    uint32_t flags = 0;
    uint32_t packetSize = 0;  // the Data Object's packets, 0 when their sizes vary
    std::array<Bytes, kMaxStreamObjects> streams{};  // Stream Properties bodies, in header order
    size_t streamCount = 0;
    std::array<StreamExtras, kMaxStreamNumber + 1> extras{};  // by stream number; 0: the whole file
};

// Calls take(id, body) for each object of area in order. The walk ends at an object whose size is below its own
// 24-byte header (it could not advance) or runs past the area.
template <typename Take>
void WalkObjects(Bytes area, Take&& take)
{
    size_t pos = 0;
    for (int n = 0; n < kMaxObjects && Has(area, pos, kObjectHeaderSize); ++n) {
        const uint64_t size = Le64(area.data() + pos + 16);
        if (size < kObjectHeaderSize || size > area.size() - pos)
            break;
        take(area.subspan(pos, 16), area.subspan(pos + kObjectHeaderSize, size - kObjectHeaderSize));
        pos += size;
    }
}

void KeepStreamProperties(Bytes body, AsfHeader& h)
{
    if (h.streamCount < h.streams.size())
        h.streams[h.streamCount++] = body;
}

// Extended Stream Properties: Stream Number (offset 48) and AvgTimePerFrame (52); past the Stream Names and the
// Payload Extension Systems, an optional Stream Properties Object (a hidden stream's, or this stream's own).
void ReadExtendedStreamProperties(Bytes body, AsfHeader& h)
{
    if (!Has(body, 0, kExtendedStreamPropertiesStart))
        return;
    const uint32_t number = Le16At(body, 48);
    if (number >= 1 && number <= kMaxStreamNumber)
        h.extras[number].avgTimePerFrame = Le64At(body, 52);
    const uint32_t names = Le16At(body, 60);
    const uint32_t systems = Le16At(body, 62);
    ByteReader r(body.subspan(kExtendedStreamPropertiesStart));
    for (uint32_t i = 0; i < names && r.ok(); ++i)  // Language ID Index, Stream Name Length (WORDs), the name
        r.Skip(Le16At(r.Span(4), 2));
    for (uint32_t i = 0; i < systems && r.ok(); ++i)  // Extension System ID, Data Size (WORD), Info Length (DWORD)
        r.Skip(Le32At(r.Span(22), 18));
    if (r.failed())
        return;
    const Bytes rest = r.Rest();
    const uint64_t size = Le64At(rest, 16);
    if (IsGuid(rest, 0, kStreamProperties) && size >= kObjectHeaderSize && size <= rest.size())
        KeepStreamProperties(rest.subspan(kObjectHeaderSize, size - kObjectHeaderSize), h);
}

// Whether a UTF-16LE name is the ASCII text, a terminating NUL allowed.
bool NameIs(Bytes name, const char* text)
{
    const size_t n = std::strlen(text);
    if (name.size() != 2 * n && name.size() != 2 * n + 2)
        return false;
    for (size_t i = 0; i < name.size() / 2; ++i)
        if (Le16At(name, 2 * i) != (i < n ? uint32_t(uint8_t(text[i])) : 0u))
            return false;
    return true;
}

// A numeric description value: WORD (type 5), DWORD (3) or QWORD (4) that fits in 32 bits.
bool NumericValue(uint32_t type, Bytes data, uint32_t& value)
{
    if (type == 5 && data.size() == 2)
        value = Le16At(data, 0);
    else if (type == 3 && data.size() == 4)
        value = Le32At(data, 0);
    else if (type == 4 && data.size() == 8 && Le64At(data, 0) <= std::numeric_limits<uint32_t>::max())
        value = uint32_t(Le64At(data, 0));
    else
        return false;
    return true;
}

// Metadata and Metadata Library: Description Records Count (WORD), then records of a WORD (reserved, or the
// Language List Index), Stream Number, Name Length, Data Type (WORDs), Data Length (DWORD), the UTF-16LE name and
// the data. AspectRatioX and AspectRatioY give the pixel aspect of their stream (stream 0: the whole file).
void ReadMetadata(Bytes body, AsfHeader& h)
{
    ByteReader r(body);
    const uint32_t count = Le16At(r.Span(2), 0);
    for (uint32_t i = 0; i < count; ++i) {
        const Bytes fixed = r.Span(12);
        const Bytes name = r.Span(Le16At(fixed, 4));
        const Bytes data = r.Span(Le32At(fixed, 8));
        if (r.failed())
            return;
        const uint32_t number = Le16At(fixed, 2);
        uint32_t value = 0;
        if (number > kMaxStreamNumber || !NumericValue(Le16At(fixed, 6), data, value))
            continue;
        if (NameIs(name, "AspectRatioX"))
            h.extras[number].aspectX = value;
        else if (NameIs(name, "AspectRatioY"))
            h.extras[number].aspectY = value;
    }
}

// Header Extension: after its fixed fields, Header Extension Data Size bytes of objects.
void ReadHeaderExtension(Bytes body, AsfHeader& h)
{
    if (!Has(body, 0, kHeaderExtensionStart))
        return;
    const size_t size = std::min<size_t>(Le32At(body, 18), body.size() - kHeaderExtensionStart);
    WalkObjects(body.subspan(kHeaderExtensionStart, size), [&h](Bytes id, Bytes object) {
        if (IsGuid(id, 0, kExtendedStreamProperties))
            ReadExtendedStreamProperties(object, h);
        else if (IsGuid(id, 0, kMetadata) || IsGuid(id, 0, kMetadataLibrary))
            ReadMetadata(object, h);
    });
}

// The objects after the Header Object's own fields; with tags, the content descriptions too.
void ReadHeaderObjects(Bytes objects, AsfHeader& h, TagList* tags)
{
    WalkObjects(objects, [&h, tags](Bytes id, Bytes body) {
        if (tags && std::memcmp(id.data(), kAsfContentDescription, 16) == 0)
            ReadAsfContentDescription(body, *tags);
        else if (tags && std::memcmp(id.data(), kAsfExtendedContentDescription, 16) == 0)
            ReadAsfExtendedContent(body, *tags);
        if (IsGuid(id, 0, kFileProperties) && Has(body, 0, kFilePropertiesSize)) {
            h.fileProperties = true;
            h.playDuration = Le64At(body, 40);
            h.preroll = Le64At(body, 56);
            h.flags = Le32At(body, 64);
            h.packetSize = Le32At(body, 68) == Le32At(body, 72) ? Le32At(body, 68) : 0;
        } else if (IsGuid(id, 0, kStreamProperties)) {
            KeepStreamProperties(body, h);
        } else if (IsGuid(id, 0, kHeaderExtension)) {
            ReadHeaderExtension(body, h);
        }
    });
}

// MPEG audio in a WAVEFORMATEX: the layer, channel mode and bit rate words the detector reports. MPEG1WAVEFORMAT
// (tag 0x50) states fwHeadLayer (1, 2, 4: Layer I, II, III), dwHeadBitrate and fwHeadMode (1 stereo, 2 joint
// stereo, 4 dual channel, 8 single channel); tag 0x55 is Layer III. The rates below 32 kHz are MPEG-2's.
void SetMpegAudioWords(const WaveFormat& format, StreamRecord& r)
{
    uint32_t layer = format.formatTag == kWaveFormatMpegLayer3 ? 2 : 1;
    uint32_t mode = format.channels == 1 ? 3 : 0;
    uint32_t bitRate = format.bytesPerSecond * 8;
    if (format.formatTag == kWaveFormatMpeg && Has(format.extra, 0, 8)) {
        const uint32_t headLayer = Le16At(format.extra, 0);
        const uint32_t headMode = Le16At(format.extra, 6);
        layer = headLayer == 1 ? 0 : headLayer == 4 ? 2 : 1;
        mode = headMode == 2 ? 1 : headMode == 4 ? 2 : headMode == 8 ? 3 : mode;
        bitRate = Le32At(format.extra, 2) != 0 ? Le32At(format.extra, 2) : bitRate;
    }
    r.codec = format.sampleRate < 32000 ? StreamCodec::Mpeg2Audio : StreamCodec::Mpeg1Audio;
    r.audio.codecSpecific[0] = layer;
    r.audio.codecSpecific[1] = mode;
    r.audio.codecSpecific[2] = bitRate;
}

// Audio Media: the type-specific data is a WAVEFORMATEX.
std::unique_ptr<StreamRecord> DescribeAudio(Bytes specific)
{
    WaveFormat format;
    if (!ParseWaveFormat(specific, format))
        return nullptr;
    auto r = NewStreamRecord();
    if (!r)
        return nullptr;
    r->streamClass = StreamClass::Audio;
    r->codec = WaveFormatCodec(format.formatTag);
    SetWaveAudio(format, r->audio);
    if (format.formatTag == kWaveFormatMpeg || format.formatTag == kWaveFormatMpegLayer3)
        SetMpegAudioWords(format, *r);
    return r;
}

// Video Media: Encoded Image Width and Height, Reserved Flags, Format Data Size (WORD), then Format Data, a
// BITMAPINFOHEADER whose bytes after its 40 are the codec's own header (a WMV3 sequence header, VC-1's sequence
// header and entry point), kept for the host.
std::unique_ptr<StreamRecord> DescribeVideo(Bytes specific)
{
    if (!Has(specific, 0, kVideoMediaStart))
        return nullptr;
    const size_t formatSize = std::min<size_t>(Le16At(specific, 9), specific.size() - kVideoMediaStart);
    BitmapInfo bitmap;
    if (!ParseBitmapInfo(specific.subspan(kVideoMediaStart, formatSize), bitmap))
        return nullptr;
    auto r = NewStreamRecord();
    if (!r)
        return nullptr;
    r->streamClass = StreamClass::Video;
    r->codec = BitmapCodec(bitmap.compression);
    r->video.width = bitmap.width;
    r->video.height = bitmap.height;
    const size_t n = std::min(bitmap.extra.size(), kExtraDataSize);
    std::memcpy(r->extraData1, bitmap.extra.data(), n);
    r->extraData1Length = static_cast<int32_t>(n);
    return r;
}

// A record for a Stream Properties Object of a video or audio stream; null for the other stream types, a stream
// number of 0 or Type-Specific Data that runs past the object.
std::unique_ptr<StreamRecord> DescribeStream(Bytes body)
{
    if (!Has(body, 0, kStreamPropertiesStart))
        return nullptr;
    const uint32_t number = Le16At(body, 48) & kStreamNumberMask;
    const uint32_t specificLength = Le32At(body, 40);
    if (number == 0 || specificLength > body.size() - kStreamPropertiesStart)
        return nullptr;
    const Bytes specific = body.subspan(kStreamPropertiesStart, specificLength);
    std::unique_ptr<StreamRecord> r = IsGuid(body, 0, kVideoMedia)   ? DescribeVideo(specific)
                                      : IsGuid(body, 0, kAudioMedia) ? DescribeAudio(specific)
                                                                     : nullptr;
    if (r)
        r->streamId = number;
    return r;
}

// The display aspect of the picture from its pixel aspect, reduced; none when either is 0 or it does not fit.
void SetDisplayAspect(VideoParams& v, uint32_t pixelX, uint32_t pixelY)
{
    if (pixelX == 0 || pixelY == 0)
        return;
    uint64_t x = uint64_t(v.width) * pixelX;
    uint64_t y = uint64_t(v.height) * pixelY;
    const uint64_t divisor = std::gcd(x, y);
    x /= divisor, y /= divisor;
    if (x > std::numeric_limits<uint32_t>::max() || y > std::numeric_limits<uint32_t>::max())
        return;
    v.aspectX = uint32_t(x), v.aspectY = uint32_t(y);
}

// The frame rate and the display aspect a video stream's Header Extension entries state.
void SetVideoExtras(StreamRecord& r, const AsfHeader& h)
{
    const StreamExtras& own = h.extras[r.streamId];
    const StreamExtras& file = h.extras[0];
    const bool ownAspect = own.aspectX != 0 && own.aspectY != 0;
    SetDisplayAspect(r.video, ownAspect ? own.aspectX : file.aspectX, ownAspect ? own.aspectY : file.aspectY);
    const uint64_t frame = own.avgTimePerFrame;
    if (frame != 0 && frame <= std::numeric_limits<uint32_t>::max()) {
        r.video.frameDuration = int64_t(frame);
        r.video.statedFrameDuration = uint32_t(frame);
        r.frameRate = 1e7 / double(frame);
    }
}

// ---- The frame rate from the data packets ----

// A little-endian walk over the fields of a data packet; failed once a field runs past the bytes.
class PacketFields {
public:
    explicit PacketFields(Bytes b) : m_b(b) {}
    bool failed() const { return m_failed; }
    size_t Position() const { return m_pos; }
    // Ends the bytes at end (the padding after the payloads); failed when the walk is already past it.
    void Limit(size_t end)
    {
        m_failed = m_failed || end < m_pos || end > m_b.size();
        m_b = m_failed ? m_b : m_b.first(end);
    }
    uint32_t Take(size_t n)
    {
        const Bytes v = Span(n);
        uint32_t value = 0;
        for (size_t i = v.size(); i-- > 0;)
            value = value << 8 | v[i];
        return value;
    }
    // A field whose size a 2-bit length type gives: absent, BYTE, WORD or DWORD.
    uint32_t Typed(uint32_t lengthType)
    {
        static constexpr size_t kSizes[4] = {0, 1, 2, 4};
        return Take(kSizes[lengthType & 3]);
    }
    Bytes Span(size_t n)
    {
        if (m_failed || !Has(m_b, m_pos, n)) {
            m_failed = true;
            return {};
        }
        m_pos += n;
        return m_b.subspan(m_pos - n, n);
    }
    Bytes Rest() const { return m_failed ? Bytes{} : m_b.subspan(m_pos); }

private:
    Bytes m_b;
    size_t m_pos = 0;
    bool m_failed = false;
};

// Appends the presentation times (milliseconds) of the media objects of stream that start in the data packet:
// a payload at offset 0 of its object, whose replicated data (media object size, presentation time) states its
// time; or a compressed payload (replicated data length 1), whose offset field is the time of its first
// sub-payload, each sub-payload a whole object one presentation time delta after the one before. The packet's
// first byte is the Error Correction Flags when its bit 7 is set (then bits 0-3 count the bytes of error
// correction data), else the Length Type Flags of the payload parsing information.
void ReadPacketTimes(Bytes packet, uint32_t stream, std::vector<uint32_t>& times)
{
    constexpr uint8_t kErrorCorrectionPresent = 0x80, kErrorCorrectionLengthType = 0x60;
    constexpr uint8_t kErrorCorrectionDataLength = 0x0F, kMultiplePayloads = 0x01, kPayloadCount = 0x3F;
    constexpr uint32_t kByteStreamNumber = 1;  // the Stream Number Length Type every packet states
    PacketFields f(packet);
    if (!packet.empty() && (packet[0] & kErrorCorrectionPresent) != 0) {
        if ((packet[0] & kErrorCorrectionLengthType) != 0)
            return;
        f.Span(1 + (packet[0] & kErrorCorrectionDataLength));
    }
    const uint32_t lengthTypes = f.Take(1), properties = f.Take(1);
    const uint32_t packetLength = f.Typed(lengthTypes >> 5);
    f.Typed(lengthTypes >> 1);  // Sequence
    const uint32_t padding = f.Typed(lengthTypes >> 3);
    f.Span(6);  // Send Time, Duration
    if (f.failed() || (properties >> 6) != kByteStreamNumber)
        return;
    const size_t length = packetLength != 0 && packetLength < packet.size() ? packetLength : packet.size();
    f.Limit(padding <= length ? length - padding : 0);

    const bool multiple = (lengthTypes & kMultiplePayloads) != 0;
    const uint32_t payloadFlags = multiple ? f.Take(1) : 0;
    const uint32_t count = multiple ? payloadFlags & kPayloadCount : 1;
    for (uint32_t i = 0; i < count && !f.failed() && times.size() < kRateFrames; ++i) {
        const uint32_t number = f.Take(1) & kStreamNumberMask;
        f.Typed(properties >> 4);  // Media Object Number
        const uint32_t offset = f.Typed(properties >> 2);
        const Bytes replicated = f.Span(f.Typed(properties));
        const Bytes data = multiple ? f.Span(f.Typed(payloadFlags >> 6)) : f.Rest();
        if (f.failed() || number != stream)
            continue;
        if (replicated.size() == 1) {
            uint32_t time = offset;
            for (size_t pos = 0; pos < data.size() && times.size() < kRateFrames; pos += 1 + size_t(data[pos])) {
                times.push_back(time);
                time += replicated[0];
            }
        } else if (replicated.size() >= 8 && offset == 0) {
            times.push_back(Le32At(replicated, 4));
        }
    }
}

// The presentation times of the first media objects of stream, from the data packets of the Data Object at
// dataObject; none when no Data Object is there.
std::vector<uint32_t> FirstPresentationTimes(ZPMP::InputStream& input, uint64_t dataObject, uint32_t packetSize,
                                             uint32_t stream)
{
    std::vector<uint32_t> times;
    uint8_t head[kDataObjectStart] = {};
    if (ZPMP::ReadAt(input, dataObject, head, sizeof head) != sizeof head || !IsGuid(Bytes(head), 0, kDataObject))
        return times;
    const uint64_t start = dataObject + kDataObjectStart;
    const uint64_t end = std::min(input.Size(), start + kRateBytes);
    const uint32_t perRead = packetSize * (kRateBlock / packetSize);
    std::vector<uint8_t> block(perRead);
    for (uint64_t pos = start; end > pos && end - pos >= packetSize && times.size() < kRateFrames;) {
        const auto want = uint32_t(std::min<uint64_t>(perRead, (end - pos) / packetSize * packetSize));
        const uint32_t got = ZPMP::ReadAt(input, pos, block.data(), want);
        for (uint32_t p = 0; got - p >= packetSize && times.size() < kRateFrames; p += packetSize)
            ReadPacketTimes(Bytes(block.data() + p, packetSize), stream, times);
        if (got < want)
            break;
        pos += got;
    }
    return times;
}

// Frames per second from the presentation times of a stream's first pictures; 0 when fewer than
// kMinRateIntervals intervals are known. The times are sorted (a B-picture comes after the later picture it refers
// to) and taken up to the first interval longer than one and a half of the shortest (pictures still to come).
// Millisecond times state most rates only to a millisecond: the whole rate nearest the mean interval is taken when
// every time lies within a millisecond of it, else its NTSC neighbour (x 1000/1001) when they do, else the mean.
// Some thirty pictures tell 30 from 29.97; with fewer both fit and the whole rate is taken.
double RateOfTimes(std::vector<uint32_t> times)
{
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    if (times.size() < 2)
        return 0;
    uint64_t shortest = UINT32_MAX;
    for (size_t i = 1; i < times.size(); ++i)
        shortest = std::min<uint64_t>(shortest, times[i] - times[i - 1]);
    size_t n = 1;
    while (n < times.size() && uint64_t(times[n] - times[n - 1]) * 2 <= shortest * 3)
        ++n;
    const size_t intervals = n - 1;
    if (intervals < kMinRateIntervals)
        return 0;
    const double fps = 1000.0 * double(intervals) / double(times[n - 1] - times[0]);
    const auto fits = [&times, n](double rate) {
        if (rate <= 0)
            return false;
        for (size_t i = 1; i < n; ++i)
            if (std::abs(double(times[i] - times[0]) - double(i) * 1000.0 / rate) > 1.0)
                return false;
        return true;
    };
    const double whole = std::round(fps), ntsc = std::round(fps * 1.001) / 1.001;
    return fits(whole) ? whole : fits(ntsc) ? ntsc : fps;
}

// Play Duration less Preroll; -1 for a broadcast file (the field is not valid there), without File Properties,
// or when the preroll is not shorter than the play duration.
int64_t PlayTime(const AsfHeader& h)
{
    if (!h.fileProperties || (h.flags & kBroadcastFlag) != 0)
        return -1;
    if (h.playDuration > uint64_t(std::numeric_limits<int64_t>::max()) ||
        h.preroll > h.playDuration / kUnitsPerMillisecond)
        return -1;
    const uint64_t duration = h.playDuration - h.preroll * kUnitsPerMillisecond;
    return duration > 0 ? int64_t(duration) : -1;
}

}  // namespace

bool ProbeAsf(const ProbeInput& input) { return IsHeaderStart(input.head); }

uint32_t AsfDemux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    m_times = {};
    if (input == nullptr)
        return 0;
    uint8_t start[kHeaderObjectStart] = {};
    if (!IsHeaderStart(Bytes(start, ZPMP::ReadAt(*input, 0, start, sizeof start))))
        return 0;

    // The Header Object as its size states it, but no more than the file holds or the limit allows.
    const uint64_t length = std::min<uint64_t>({Le64(start + 16), input->Size(), kMaxAsfHeaderBytes});
    if (length <= kHeaderObjectStart)
        return 1;
    const std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[length]);
    if (!buffer)
        return 1;
    const uint32_t got = ZPMP::ReadAt(*input, 0, buffer.get(), static_cast<uint32_t>(length));
    const Bytes header(buffer.get(), got);
    AsfHeader h;
    m_tags.Clear();
    ReadHeaderObjects(header.subspan(std::min<size_t>(kHeaderObjectStart, got)), h, WantsTags() ? &m_tags : nullptr);

    StreamList local;
    StreamList& out = streams ? *streams : local;
    StreamRecord* video = nullptr;
    bool audio = false;
    for (size_t i = 0; i < h.streamCount && out.Count() < kMaxFileStreams; ++i) {
        std::unique_ptr<StreamRecord> r = DescribeStream(h.streams[i]);
        if (!r || out.Contains(r->streamId))
            continue;
        if (r->streamClass == StreamClass::Video) {
            SetVideoExtras(*r, h);
            video = video ? video : r.get();
        } else {
            audio = true;
        }
        out.Append(std::move(r));
    }

    // No AvgTimePerFrame (ffmpeg writes no Extended Stream Properties): the rate of the first pictures.
    if (video && video->frameRate <= 0 && h.packetSize >= kMinPacketSize && h.packetSize <= kRateBlock) {
        const uint64_t dataObject = Le64(start + 16);  // it follows the Header Object
        const double rate = RateOfTimes(FirstPresentationTimes(*input, dataObject, h.packetSize, video->streamId));
        if (rate > 0) {
            video->frameRate = rate;
            video->video.frameDuration = std::llround(1e7 / rate);
        }
    }

    const int64_t duration = PlayTime(h);
    if (video)
        m_times.SetVideo(duration, static_cast<uint32_t>(video->video.frameDuration));
    if (audio)
        m_times.SetAudio(duration, 0);
    return 1;
}

}  // namespace md
