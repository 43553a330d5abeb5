#include "support/mkv_builders.h"

#include <bit>

namespace mdtest {

EbmlBuilder& EbmlBuilder::Big(uint64_t value, int width)
{
    for (int i = width - 1; i >= 0; --i)
        m_bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return *this;
}

EbmlBuilder& EbmlBuilder::Begin(uint32_t id)
{
    Big(id, std::bit_width(id) / 8 + (std::bit_width(id) % 8 != 0));
    m_open.push_back(m_bytes.size());
    Big(uint64_t(1) << 56, 8);
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
    while (width < 8 && value >> (8 * width) != 0)
        ++width;
    return Begin(id).Big(value, width).End();
}

EbmlBuilder& EbmlBuilder::Float(uint32_t id, double v) { return Begin(id).Big(std::bit_cast<uint64_t>(v), 8).End(); }

EbmlBuilder& EbmlBuilder::Binary(uint32_t id, std::span<const uint8_t> bytes)
{
    Begin(id);
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return End();
}

std::vector<uint8_t> BlockBody(uint8_t track, int16_t relativeTimecode, uint8_t flags, std::span<const uint8_t> data)
{
    std::vector<uint8_t> body = {static_cast<uint8_t>(0x80 | track),
                                 static_cast<uint8_t>(static_cast<uint16_t>(relativeTimecode) >> 8),
                                 static_cast<uint8_t>(relativeTimecode), flags};
    body.insert(body.end(), data.begin(), data.end());
    return body;
}

std::vector<uint8_t> MatroskaFile(const MkvLayout& layout)
{
    // Two passes: the first finds the clusters' positions, which the Cues give in 8 bytes.
    std::vector<uint64_t> positions(layout.clusters.size());
    for (int pass = 0;; ++pass) {
        EbmlBuilder b;  // EBML with DocType, Segment with Info (TimecodeScale, Duration) and Tracks
        b.Begin(0x1A45DFA3);
        if (layout.docType)
            b.String(0x4282, *layout.docType);
        b.End().Begin(0x18538067);
        const size_t segmentData = b.Size();
        b.Begin(0x1549A966).UInt(0x2AD7B1, 1000000).Float(0x4489, layout.duration).End().Begin(0x1654AE6B);
        for (const MkvTrack& t : layout.tracks) {  // TrackEntry: TrackNumber, TrackType, CodecID
            b.Begin(0xAE).UInt(0xD7, t.number).UInt(0x83, t.type).String(0x86, t.codecId);
            const auto optional = [&b](uint32_t id, std::optional<uint64_t> v) { v ? b.UInt(id, *v) : b; };
            optional(0x23E383, t.defaultDuration);  // DefaultDuration, FlagDefault
            optional(0x88, t.flagDefault);
            if (t.name)
                b.String(0x536E, *t.name);
            if (!t.codecPrivate.empty())
                b.Binary(0x63A2, t.codecPrivate);
            if (t.type == 1) {  // Video: PixelWidth, PixelHeight, DisplayWidth, DisplayHeight
                b.Begin(0xE0).UInt(0xB0, t.pixelWidth).UInt(0xBA, t.pixelHeight);
                optional(0x54B0, t.displayWidth);
                optional(0x54BA, t.displayHeight);
                b.End();
            } else if (t.type == 2) {  // Audio: SamplingFrequency, Channels, BitDepth
                b.Begin(0xE1).Float(0xB5, t.samplingFrequency).UInt(0x9F, t.channels);
                optional(0x6264, t.bitDepth ? std::optional(t.bitDepth) : std::nullopt);
                b.End();
            }
            b.End();
        }
        b.End().Begin(mkvid::kCues);  // CuePoint: CueTime, CueTrackPositions with CueTrack 1, CueClusterPosition
        for (size_t i = 0; i < positions.size(); ++i) {
            b.Begin(mkvid::kCuePoint).UInt(0xB3, layout.clusters[i].timecode).Begin(0xB7).UInt(0xF7, 1);
            b.UInt(0xF1, positions[i], 8).End().End();
        }
        b.End();
        for (size_t i = 0; i < positions.size(); ++i) {
            const MkvCluster& c = layout.clusters[i];
            positions[i] = b.Size() - segmentData;
            b.Begin(mkvid::kCluster).UInt(mkvid::kTimecode, c.timecode);
            for (const MkvFrame& f : c.frames)
                b.Binary(mkvid::kSimpleBlock, BlockBody(f.track, f.relativeTimecode, f.keyframe ? 0x80 : 0, f.data));
            b.End();
        }
        if (pass == 1)
            return b.End().Take();
    }
}

}  // namespace mdtest
