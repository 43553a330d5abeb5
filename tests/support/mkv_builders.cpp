#include "support/mkv_builders.h"

#include <bit>

namespace mdtest {

void EbmlBuilder::Id(uint32_t id)
{
    const int length = id > 0xFFFFFF ? 4 : id > 0xFFFF ? 3 : id > 0xFF ? 2 : 1;
    for (int i = length - 1; i >= 0; --i)
        m_bytes.push_back(static_cast<uint8_t>(id >> (8 * i)));
}

// An EBML variable-size integer: the length marker bit, then the value; width 0
// takes the fewest bytes that do not read as "unknown size".
void EbmlBuilder::Size(uint64_t size, int width)
{
    if (width == 0)
        for (width = 1; width < 8 && size >= (uint64_t(1) << (7 * width)) - 1;)
            ++width;
    const uint64_t coded = size | uint64_t(1) << (7 * width);
    for (int i = width - 1; i >= 0; --i)
        m_bytes.push_back(static_cast<uint8_t>(coded >> (8 * i)));
}

EbmlBuilder& EbmlBuilder::Begin(uint32_t id)
{
    Id(id);
    m_open.push_back(m_bytes.size());
    Size(0, 8);
    return *this;
}

EbmlBuilder& EbmlBuilder::End()
{
    const size_t at = m_open.back();
    m_open.pop_back();
    const uint64_t coded = (m_bytes.size() - at - 8) | uint64_t(1) << 56;
    for (int i = 0; i < 8; ++i)
        m_bytes[at + i] = static_cast<uint8_t>(coded >> (56 - 8 * i));
    return *this;
}

EbmlBuilder& EbmlBuilder::UInt(uint32_t id, uint64_t value, int width)
{
    while (width == 0 || (width < 8 && value >> (8 * width) != 0))
        ++width;
    std::vector<uint8_t> bytes;
    for (int i = width - 1; i >= 0; --i)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return Binary(id, bytes);
}

EbmlBuilder& EbmlBuilder::Float(uint32_t id, double value)
{
    const auto bits = std::bit_cast<uint64_t>(value);
    std::vector<uint8_t> bytes;
    for (int i = 7; i >= 0; --i)
        bytes.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    return Binary(id, bytes);
}

EbmlBuilder& EbmlBuilder::String(uint32_t id, std::string_view text)
{
    return Binary(id, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

EbmlBuilder& EbmlBuilder::Binary(uint32_t id, std::span<const uint8_t> bytes)
{
    Id(id);
    Size(bytes.size(), 0);
    return Raw(bytes);
}

EbmlBuilder& EbmlBuilder::Raw(std::span<const uint8_t> bytes)
{
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
}

std::vector<uint8_t> BlockBody(uint8_t track, int16_t relativeTimecode, uint8_t flags, std::span<const uint8_t> data)
{
    std::vector<uint8_t> body = {static_cast<uint8_t>(0x80 | track),
                                 static_cast<uint8_t>(static_cast<uint16_t>(relativeTimecode) >> 8),
                                 static_cast<uint8_t>(relativeTimecode), flags};
    body.insert(body.end(), data.begin(), data.end());
    return body;
}

namespace {

void PutTrackEntry(EbmlBuilder& b, const MkvTrack& t)
{
    b.Begin(mkvid::kTrackEntry).UInt(mkvid::kTrackNumber, t.number).UInt(mkvid::kTrackType, t.type);
    b.String(mkvid::kCodecId, t.codecId);
    if (t.defaultDuration)
        b.UInt(mkvid::kDefaultDuration, *t.defaultDuration);
    if (t.flagDefault)
        b.UInt(mkvid::kFlagDefault, *t.flagDefault);
    if (t.language)
        b.String(mkvid::kLanguage, *t.language);
    if (t.name)
        b.String(mkvid::kName, *t.name);
    if (!t.codecPrivate.empty())
        b.Binary(mkvid::kCodecPrivate, t.codecPrivate);
    if (t.type == 1) {
        b.Begin(mkvid::kVideo).UInt(mkvid::kPixelWidth, t.pixelWidth).UInt(mkvid::kPixelHeight, t.pixelHeight);
        if (t.displayWidth)
            b.UInt(mkvid::kDisplayWidth, *t.displayWidth);
        if (t.displayHeight)
            b.UInt(mkvid::kDisplayHeight, *t.displayHeight);
        b.End();
    } else if (t.type == 2) {
        b.Begin(mkvid::kAudio).Float(mkvid::kSamplingFrequency, t.samplingFrequency);
        b.UInt(mkvid::kChannels, t.channels);
        if (t.bitDepth)
            b.UInt(mkvid::kBitDepth, t.bitDepth);
        b.End();
    }
    b.End();
}

std::vector<uint8_t> Cluster(const MkvCluster& c)
{
    EbmlBuilder b;
    b.Begin(mkvid::kCluster).UInt(mkvid::kTimecode, c.timecode);
    for (const MkvFrame& f : c.frames) {
        if (f.blockGroup) {
            b.Begin(mkvid::kBlockGroup).Binary(mkvid::kBlock, BlockBody(f.track, f.relativeTimecode, 0, f.data));
            if (!f.keyframe)
                b.UInt(mkvid::kReferenceBlock, 0xFF);  // -1 as a one-byte signed value
            b.End();
        } else {
            b.Binary(mkvid::kSimpleBlock, BlockBody(f.track, f.relativeTimecode, f.keyframe ? 0x80 : 0, f.data));
        }
    }
    return b.End().Take();
}

// One cue point per cluster, at its first frame of track 1; positions are
// written in 8 bytes, so the size of the Cues does not depend on their values.
std::vector<uint8_t> Cues(const MkvLayout& layout, const std::vector<uint64_t>& clusterPositions)
{
    EbmlBuilder b;
    b.Begin(mkvid::kCues);
    for (size_t i = 0; i < layout.clusters.size(); ++i) {
        const MkvCluster& c = layout.clusters[i];
        uint64_t time = c.timecode;
        for (const MkvFrame& f : c.frames)
            if (f.track == 1) {
                time = c.timecode + static_cast<uint64_t>(f.relativeTimecode);
                break;
            }
        b.Begin(mkvid::kCuePoint).UInt(mkvid::kCueTime, time);
        b.Begin(mkvid::kCueTrackPositions).UInt(mkvid::kCueTrack, 1);
        b.UInt(mkvid::kCueClusterPosition, clusterPositions[i], 8).End().End();
    }
    return b.End().Take();
}

}  // namespace

std::vector<uint8_t> MatroskaFile(const MkvLayout& layout)
{
    // Segment children before the clusters, with positions relative to the segment data.
    EbmlBuilder head;
    head.Begin(mkvid::kInfo).UInt(mkvid::kTimecodeScale, 1000000).Float(mkvid::kDuration, layout.duration).End();
    head.Begin(mkvid::kTracks);
    for (const MkvTrack& t : layout.tracks)
        PutTrackEntry(head, t);
    const std::vector<uint8_t> infoAndTracks = head.End().Take();
    std::vector<std::vector<uint8_t>> clusters;
    for (const MkvCluster& c : layout.clusters)
        clusters.push_back(Cluster(c));
    const auto seekHead = [](uint64_t cuesPosition) {
        EbmlBuilder b;
        b.Begin(mkvid::kSeekHead)
            .Begin(mkvid::kSeek)
            .Binary(mkvid::kSeekId, std::vector<uint8_t>{0x1C, 0x53, 0xBB, 0x6B});
        return b.UInt(mkvid::kSeekPosition, cuesPosition, 8).End().End().Take();
    };
    std::vector<uint64_t> positions(clusters.size());
    uint64_t end = seekHead(0).size() + infoAndTracks.size();
    for (size_t i = 0; i < clusters.size(); ++i) {
        positions[i] = end;
        end += clusters[i].size();
    }
    const std::vector<uint8_t> cues = Cues(layout, positions);

    EbmlBuilder file;
    file.Begin(mkvid::kEbml).String(mkvid::kDocType, layout.docType).End().Begin(mkvid::kSegment);
    file.Raw(seekHead(end)).Raw(infoAndTracks);
    for (const auto& c : clusters)
        file.Raw(c);
    file.Raw(cues);
    if (layout.padding > 0)
        file.Binary(mkvid::kVoid, std::vector<uint8_t>(layout.padding));
    return file.End().Take();
}

}  // namespace mdtest
