// Turning a demultiplexer's StreamRecord into the host's result records. Three
// callers build records and each accepts a different set of codecs: the open
// method, the stream-selection methods (transport, DirecTV, Matroska) and the
// program-stream re-open method. The container families beyond MPEG, MP4 and
// Matroska have a fourth builder that describes every codec with a format code,
// the field order as the record states it.
#pragma once

#include <cstdint>
#include <optional>

#include "mediadetect/records.h"
#include "demux/demux.h"
#include "demux/stream_record.h"

namespace md {

enum class RecordBuilder { Open, Selection, Reopen, File };

// How the video's field order is settled after the copy.
enum class FieldOrderScan {
    None,          // fieldOrder stays as built
    Mpeg2Picture,  // picture coding extensions of the file
    Mp4FirstSample,
    Mp4Slice,
};

struct VideoBuild {
    VideoInfo info{};
    FieldOrderScan scan = FieldOrderScan::None;
    std::optional<uint32_t> fieldCoding;   // set where the record's field coding is taken
    std::optional<uint8_t> encoderMarker;  // set where the record's encoder marker is taken
};

VideoBuild BuildVideo(const StreamRecord& record, RecordBuilder builder);

struct AudioBuild {
    bool accepted = false;  // false: this builder makes no audio record for the codec
    AudioInfo info{};
    std::optional<AudioInfoEx> ex;
    std::optional<MpegAudioLayerInfo> mpegAudio;
    std::optional<MultiChannelInfo> multiChannel;
    std::optional<uint32_t> aacClass;
};

AudioBuild BuildAudio(const StreamRecord& record, RecordBuilder builder);

// The records a builder takes from a stream list: the first video record and
// the first audio record whose codec the builder accepts (null when none).
struct FirstStreams {
    const StreamRecord* video = nullptr;
    const StreamRecord* audio = nullptr;
};
FirstStreams FindFirstStreams(const StreamList& streams, RecordBuilder builder);

// Speaker mask (WAVEFORMATEXTENSIBLE bits) of a coding mode, plus the LFE bit.
// withExtendedModes: modes 16 and 17 are mapped too.
uint32_t ChannelMask(uint8_t codingMode, bool lfe, bool withExtendedModes);

}  // namespace md
