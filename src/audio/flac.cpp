#include "audio/flac.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "audio/id3.h"
#include "es/audio_headers.h"
#include "input/file_piece.h"
#include "tags/pictures.h"
#include "tags/vorbis_comment.h"

namespace md {
namespace {

constexpr uint8_t kMarker[4] = {'f', 'L', 'a', 'C'};
constexpr uint32_t kBlockHeaderSize = 4;  // last-block flag and type in one byte, a 24-bit length
constexpr uint32_t kStreamInfoSize = 34;
constexpr uint32_t kTotalSamplesEnd = 18;  // the STREAMINFO bytes up to the end of the total samples
constexpr uint8_t kLastBlockFlag = 0x80;
constexpr uint8_t kBlockTypeMask = 0x7F;
constexpr uint8_t kStreamInfoType = 0;
constexpr uint8_t kVorbisCommentType = 4;
constexpr uint8_t kPictureType = 6;
// At most this much of a PICTURE block's start is read to place its picture (the MIME type and description come
// before it).
constexpr uint32_t kMaxPictureHeaderReadBytes = 4096;
// At most this much of a VORBIS_COMMENT block is read for its fields (a longer one is read in part).
constexpr uint32_t kMaxCommentReadBytes = 64 * 1024;
// A chain holds a handful of blocks; at most this many headers are read looking for the last one.
constexpr int kMaxBlocks = 1024;

// The WAVEFORMATEXTENSIBLE speaker bits of the channel assignment FLAC gives 3 to 8 independent channels (RFC 9639
// 9.1.3): L R C; L R BL BR; L R C BL BR; L R C LFE BL BR; L R C LFE BC SL SR; L R C LFE BL BR SL SR. Mono and stereo
// have no mask.
uint32_t FlacChannelMask(uint32_t channels)
{
    constexpr uint32_t kMasks[9] = {0, 0, 0, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F};
    return channels < 9 ? kMasks[channels] : 0;
}

bool OpensWithStreamInfo(Bytes b)
{
    return Has(b, 0, 8) && std::memcmp(b.data(), kMarker, sizeof kMarker) == 0 &&
           (b[4] & kBlockTypeMask) == kStreamInfoType && Be24(b.data() + 5) >= kStreamInfoSize;
}

// Where the frames start: after the block whose last-block flag is set, walking from the first block by the
// lengths the headers state; 0 when the chain runs past the end of the file or never ends within kMaxBlocks. With
// tags, the fields of the first VORBIS_COMMENT block on the way are listed, and with cover, the pictures of the
// PICTURE blocks placed.
uint64_t FramesStart(ZPMP::InputStream& input, uint64_t firstBlock, TagList* tags = nullptr,
                     CoverLocation* cover = nullptr)
{
    const uint64_t fileSize = input.Size();
    // The walk takes each block header, and the tag readers each VORBIS_COMMENT and PICTURE start, from the piece
    // that holds it.
    FilePiece piece(input, kFlacMetadataReadBytes);
    uint64_t pos = firstBlock;
    for (int n = 0; n < kMaxBlocks; ++n) {
        const Bytes h = piece.Header(pos, kBlockHeaderSize);
        if (h.size() != kBlockHeaderSize)
            return 0;  // the file ends within the header
        const uint64_t body = pos + kBlockHeaderSize;
        const uint32_t length = Be24(h.data() + 1);
        if (length > fileSize - body)
            return 0;  // a block longer than the rest of the file
        pos = body + length;
        if (tags && (h[0] & kBlockTypeMask) == kVorbisCommentType) {
            ReadVorbisComment(piece.Body(body, std::min(length, kMaxCommentReadBytes)), *tags);
            tags = nullptr;
        }
        if (cover && (h[0] & kBlockTypeMask) == kPictureType)
            PlaceFlacPicture(piece.Body(body, std::min(length, kMaxPictureHeaderReadBytes)), body, length, *cover);
        if (h[0] & kLastBlockFlag)
            return pos;
    }
    return 0;
}

}  // namespace

bool ProbeFlac(const ProbeInput& input) { return OpensWithStreamInfo(input.head); }

uint32_t FlacDemux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    m_times = {};
    if (input == nullptr)
        return 0;
    const uint64_t start = Id3v2TagsEnd(*input);
    uint8_t head[sizeof kMarker + kBlockHeaderSize + kStreamInfoSize] = {};
    const uint32_t n = ZPMP::ReadAt(*input, start, head, sizeof head);
    if (!OpensWithStreamInfo(Bytes(head, n)))
        return 0;
    const uint8_t* block = head + sizeof kMarker;
    FlacStreamInfo info{};
    if (!ParseFlacStreamInfo(block, n - sizeof kMarker, info))
        return 1;
    // The STREAMINFO fields after the sample rate, channels and sample size: 36 bits of total samples (0: not
    // known), from the low nibble of body byte 13 on.
    const uint8_t* body = block + kBlockHeaderSize;
    const bool counted = n >= sizeof kMarker + kBlockHeaderSize + kTotalSamplesEnd;
    const uint64_t totalSamples = counted ? uint64_t(body[13] & 0x0F) << 32 | Be32(body + 14) : 0;
    // The walk to the frames, for their byte rate when the duration is known, lists the tags on its way.
    m_tags.Clear();
    m_cover = {};
    if (WantsTags() && start != 0)
        ReadStartTags(*input, m_tags, &m_cover);  // ID3v2 tags ahead of the stream
    uint64_t frames = 0;
    if (WantsTags())
        frames = FramesStart(*input, start + sizeof kMarker, &m_tags, &m_cover);
    else if (totalSamples != 0)
        frames = FramesStart(*input, start + sizeof kMarker);

    auto r = NewStreamRecord();
    if (!r)
        return 1;
    r->streamClass = StreamClass::Audio;
    r->streamId = 1;
    r->codec = StreamCodec::Flac;
    r->audio.channels = info.channels;
    r->audio.sampleRate = info.sampleRate;
    r->audio.bitsPerSample = info.bitsPerSample;
    r->audio.blockAlign = 1;  // frames vary in length
    r->audio.channelMask = FlacChannelMask(info.channels);

    const uint32_t minBlockSize = Be16(body), maxBlockSize = Be16(body + 2);
    if (totalSamples != 0) {
        // A stream of one block size (all but the last frame) has frames of that duration, where it fits the field.
        const int64_t frame = minBlockSize == maxBlockSize ? SamplesToUnits(maxBlockSize, info.sampleRate) : 0;
        m_times.SetAudio(SamplesToUnits(totalSamples, info.sampleRate), frame <= 0xFFFFFFFF ? uint32_t(frame) : 0);
        // The average byte rate of the frames, from the end of the metadata to the end of the file.
        const uint64_t fileSize = input->Size();
        if (frames != 0 && frames < fileSize) {
            const double rate = double(fileSize - frames) * info.sampleRate / double(totalSamples);
            r->audio.bytesPerSecond = rate < 4294967295.0 ? uint32_t(rate) : 0xFFFFFFFFu;
        }
    }
    if (streams)
        streams->Append(std::move(r));
    return 1;
}

}  // namespace md
