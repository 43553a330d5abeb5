#include "audio/amr.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

#include "audio/sampled_duration.h"

namespace md {
namespace {

struct AmrMagic {
    std::string_view text;
    bool wideband;
    bool multichannel;  // a 32-bit channel description follows the magic
};
constexpr AmrMagic kMagics[] = {
    {"#!AMR\n", false, false},
    {"#!AMR-WB\n", true, false},
    {"#!AMR_MC1.0\n", false, true},
    {"#!AMR-WB_MC1.0\n", true, true},
};

const AmrMagic* FindMagic(Bytes b)
{
    for (const AmrMagic& m : kMagics)
        if (b.size() >= m.text.size() && std::memcmp(b.data(), m.text.data(), m.text.size()) == 0)
            return &m;
    return nullptr;
}

// Bytes of a stored frame, its table-of-contents byte included, by frame type; 0 for the reserved types, whose
// size is unknown. AMR (3GPP TS 26.101): 4.75 to 12.2 kbit/s speech of 95, 103, 118, 134, 148, 159, 204 and 244
// bits, SID of 39 bits, 9..14 reserved, 15 NO_DATA. AMR-WB (TS 26.201): 6.60 to 23.85 kbit/s speech of 132, 177,
// 253, 285, 317, 365, 397, 461 and 477 bits, SID of 40 bits, 10..13 reserved, 14 SPEECH_LOST, 15 NO_DATA.
constexpr std::array<uint8_t, 16> kNarrowbandBytes = {13, 14, 16, 18, 20, 21, 27, 32, 6, 0, 0, 0, 0, 0, 0, 1};
constexpr std::array<uint8_t, 16> kWidebandBytes = {18, 24, 33, 37, 41, 47, 51, 59, 61, 6, 0, 0, 0, 0, 1, 1};

constexpr uint32_t kChannelDescriptionBytes = 4;
constexpr uint32_t kSampleBytes = 512 * 1024;
constexpr uint32_t kMaxBlocks = kSampleBytes;  // a frame takes a byte at least
constexpr uint32_t kBlockDuration = 200000;  // 20 ms in 100-ns units

}  // namespace

bool ProbeAmr(const ProbeInput& input) { return FindMagic(input.head) != nullptr; }

uint32_t AmrDemux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    m_times = {};
    if (input == nullptr)
        return 0;
    const uint64_t fileSize = input->Size();
    std::vector<uint8_t> buf(static_cast<size_t>(std::min<uint64_t>(fileSize, kSampleBytes)));
    const uint32_t n = ZPMP::ReadAt(*input, 0, buf.data(), static_cast<uint32_t>(buf.size()));
    const Bytes head(buf.data(), n);
    const AmrMagic* magic = FindMagic(head);
    if (magic == nullptr)
        return 0;

    // The channel count: 1, or CHAN, the low four bits of the channel description (0: no frames to read).
    size_t pos = magic->text.size();
    uint32_t channels = 1;
    if (magic->multichannel) {
        channels = Has(head, pos, kChannelDescriptionBytes) ? Be32At(head, pos) & 0x0F : 0;
        pos = std::min(pos + kChannelDescriptionBytes, head.size());
    }
    const size_t framesStart = pos;

    // The frame-blocks, each frame where the one before it ends.
    const std::array<uint8_t, 16>& sizes = magic->wideband ? kWidebandBytes : kNarrowbandBytes;
    uint64_t blocks = 0;
    bool reachedEnd = channels != 0 && pos >= head.size();
    for (uint32_t b = 0; channels != 0 && b < kMaxBlocks && !reachedEnd; ++b) {
        size_t at = pos;
        bool whole = true;
        for (uint32_t c = 0; c < channels && whole; ++c) {
            if (at >= head.size()) {
                reachedEnd = true, whole = false;
                break;
            }
            const uint32_t bytes = sizes[(head[at] >> 3) & 0x0F];
            if (bytes == 0)
                whole = false;  // a reserved frame type: no way past it
            else if (bytes > head.size() - at)
                reachedEnd = true, whole = false;  // a last frame cut short
            else
                at += bytes;
        }
        if (!whole)
            break;
        pos = at;
        ++blocks;
        reachedEnd = pos == head.size();
    }

    const uint32_t rate = magic->wideband ? 16000 : 8000;
    FrameSample sample;
    sample.samples = blocks * (rate / 50);
    sample.bytes = pos - framesStart;
    sample.wholeStream = reachedEnd && n >= fileSize;
    SetSampledDuration(m_times, sample, rate, fileSize - framesStart, kBlockDuration);

    auto r = NewStreamRecord();
    if (!r)
        return 1;
    r->streamClass = StreamClass::Audio;
    r->streamId = 1;
    r->codec = magic->wideband ? StreamCodec::AmrWb : StreamCodec::AmrNb;
    r->audio.channels = channels;
    r->audio.sampleRate = rate;
    r->audio.blockAlign = 1;  // frames vary with the mode
    if (blocks != 0)
        r->audio.bytesPerSecond = uint32_t(sample.bytes * 50 / blocks);
    if (streams)
        streams->Append(std::move(r));
    return 1;
}

}  // namespace md
