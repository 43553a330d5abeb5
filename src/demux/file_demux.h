// The container families read from their headers alone (audio files, Ogg, AVI, FLV, ASF, MXF, DV): what their
// probe tests see, and the demultiplexer each family implements. Parse describes every stream and measures the
// file's times from the head and, where the duration needs it, the end of the file; nothing is read later, so the
// detector keeps the records and the times and lets the demultiplexer go.
#pragma once

#include <cstdint>

#include "demux/demux.h"
#include "demux/tag_list.h"
#include "input/bytes.h"
#include "input/input_stream.h"
#include "mediadetect/records.h"

namespace md {

// The bytes a family's probe test looks at: the first read of the file, or where ID3v2 tags open the file and the
// family may follow them, a read from the end of the tags on.
struct ProbeInput {
    Bytes head;                  // the bytes from headOffset on (at most the probe's first read)
    uint64_t headOffset = 0;     // 0, or the end of the ID3v2 tags
    uint64_t fileSize = 0;
    ZPMP::InputStream* stream = nullptr;  // for tests that need more than the head (positioned anywhere after)
};

// The largest number of streams a family describes; more are left out of the list.
constexpr uint32_t kMaxFileStreams = 32;

// Times of a file in 100-ns units, -1 where unknown, as TimeRangeInfo lays them out, and whether the end was
// estimated (from a bit rate or a sample of frames) rather than stated by the file or counted.
struct FileTimes {
    TimeRangeInfo range{-1, -1, -1, -1, -1, 0, 0};
    bool estimated = false;

    // A file whose audio plays from 0 for duration (100-ns units; negative: unknown) in frames of frameDuration.
    void SetAudio(int64_t duration, uint32_t frameDuration)
    {
        if (duration < 0)
            return;
        range.startTime = range.audioFirstTime = 0;
        range.audioEndTime = duration;
        range.audioFrameDuration = frameDuration;
    }
    // The same for the video.
    void SetVideo(int64_t duration, uint32_t frameDuration)
    {
        if (duration < 0)
            return;
        range.startTime = range.videoFirstTime = 0;
        range.videoEndTime = duration;
        range.videoFrameDuration = frameDuration;
    }
    bool Known() const { return range.startTime >= 0 && (range.videoEndTime >= 0 || range.audioEndTime >= 0); }
};

class FileDemux : public CPDemux {
public:
    // Parse(input, streams): from offset 0, one record per stream in file order (streamId as the family numbers its
    // streams), 1 when the file is of the family, else 0. The packet operations are not used for these families.
    uint32_t ParsePackets(const uint8_t*, uint32_t, PacketList*, uint8_t*) override { return 0; }
    uint32_t ParseBuffer(const uint8_t*, uint32_t, StreamList*) override { return 0; }
    void Reset(int64_t) override {}
    bool HasContainerAspect() override { return false; }

    // What the last Parse measured.
    const FileTimes& Times() const { return m_times; }
    // What the file says about itself (title, artist, ...), read by the last Parse with MD_EXT_TAGS on; empty
    // without it.
    const TagList& Tags() const { return m_tags; }
    // Where the file's cover picture lies, placed by the last Parse with MD_EXT_TAGS on.
    const CoverLocation& Cover() const { return m_cover; }

protected:
    bool WantsTags() const { return (m_extensions & MD_EXT_TAGS) != 0; }

    FileTimes m_times;
    TagList m_tags;
    CoverLocation m_cover;
};

// 100-ns units of count samples at rate Hz (0 for a rate of 0), in integer arithmetic without overflow for any
// count a file can state.
constexpr int64_t SamplesToUnits(uint64_t count, uint32_t rate)
{
    return rate == 0 ? 0 : int64_t(count / rate * 10000000 + count % rate * 10000000 / rate);
}

}  // namespace md
