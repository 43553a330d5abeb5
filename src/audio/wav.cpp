#include "audio/wav.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "es/audio_headers.h"
#include "es/wave_format.h"
#include "input/file_piece.h"
#include "tags/riff_info.h"

namespace md {
namespace {

// Wave64 chunk GUIDs: the RIFF one, then those whose first four bytes are the RIFF chunk id, followed by the same
// twelve bytes.
constexpr std::array<uint8_t, 16> kW64Riff = {0x72, 0x69, 0x66, 0x66, 0x2E, 0x91, 0xCF, 0x11,
                                              0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
constexpr std::array<uint8_t, 12> kW64Tail = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1,
                                              0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};

bool IsW64Guid(const uint8_t* p, const char (&id)[5])
{
    return std::memcmp(p, id, 4) == 0 && std::memcmp(p + 4, kW64Tail.data(), kW64Tail.size()) == 0;
}

bool IsW64(Bytes b)
{
    return Has(b, 0, 40) && std::memcmp(b.data(), kW64Riff.data(), kW64Riff.size()) == 0 &&
           IsW64Guid(b.data() + 24, "wave");
}

// The RIFF forms: RIFF, RF64 and BW64 with the form type WAVE.
bool IsRiffWave(Bytes b)
{
    if (!Has(b, 0, 12) || std::memcmp(b.data() + 8, "WAVE", 4) != 0)
        return false;
    return std::memcmp(b.data(), "RIFF", 4) == 0 || std::memcmp(b.data(), "RF64", 4) == 0 ||
           std::memcmp(b.data(), "BW64", 4) == 0;
}

// At most this many chunks are walked before 'data', and this much of a 'fmt ' chunk is read.
constexpr int kMaxChunks = 1024;
constexpr uint32_t kMaxFormatBytes = 4096;
constexpr uint32_t kFirstFrameBytes = 8192;
constexpr uint32_t kUnknownSize = 0xFFFFFFFF;
// The chunk walk reads the file in pieces of this size: the chunks ahead of 'data' in one read, as a rule.
constexpr uint32_t kWalkPieceBytes = 16 * 1024;

struct WaveChunks {
    std::vector<uint8_t> format;  // the 'fmt ' body
    uint64_t dataStart = 0;
    uint64_t dataSize = 0;
    bool data = false;
    uint64_t factSamples = 0;
};

// Lists the tags of a tag chunk whose body (of size bytes) starts at body: a LIST INFO (other lists are left), a
// Broadcast Wave 'bext' or an 'iXML'; false for any other chunk.
bool TakeTagChunk(FilePiece& piece, const uint8_t* id, uint64_t body, uint64_t size, TagList& tags)
{
    const auto read = [&](size_t limit) {
        return piece.Body(body, static_cast<uint32_t>(std::min<uint64_t>(size, limit)));
    };
    if (std::memcmp(id, "LIST", 4) == 0)
        ReadRiffInfo(read(kMaxRiffInfoBytes), tags);
    else if (std::memcmp(id, "bext", 4) == 0)
        ReadBext(read(kMaxBextBytes), tags);
    else if (std::memcmp(id, "iXML", 4) == 0)
        ReadIxml(read(kMaxIxmlBytes), tags);
    else
        return false;
    return true;
}

// At most this many chunks after 'data' are looked at for tags (writers that add them after the samples).
constexpr int kMaxChunksAfterData = 4;

// Lists the tag chunks among the few plain RIFF chunks from pos on.
void TakeListsAfter(FilePiece& piece, uint64_t fileSize, uint64_t pos, TagList& tags)
{
    for (int n = 0; n < kMaxChunksAfterData && pos < fileSize && fileSize - pos >= 8; ++n) {
        uint8_t h[8] = {};
        const Bytes header = piece.Header(pos, sizeof h);
        if (header.size() != sizeof h)
            return;
        std::memcpy(h, header.data(), sizeof h);
        const uint64_t size = Le32(h + 4);
        TakeTagChunk(piece, h, pos + 8, size, tags);
        pos += 8 + size + (size & 1);
    }
}

// Walks the chunks from the first one after the form header to 'data'; with tags, the tag chunks on the way and
// among the few after 'data' are listed.
WaveChunks WalkChunks(ZPMP::InputStream& input, bool w64, TagList* tags)
{
    WaveChunks c;
    const uint64_t fileSize = input.Size();
    const uint32_t headerSize = w64 ? 24 : 8;
    uint64_t ds64Data = 0;
    bool ds64 = false;
    uint64_t pos = w64 ? 40 : 12;
    FilePiece piece(input, kWalkPieceBytes);
    for (int n = 0; n < kMaxChunks && pos + headerSize <= fileSize; ++n) {
        uint8_t h[24] = {};
        const Bytes header = piece.Header(pos, headerSize);
        if (header.size() != headerSize)
            break;
        std::memcpy(h, header.data(), headerSize);
        uint64_t size = w64 ? Le64(h + 16) : Le32(h + 4);
        if (w64 && size < headerSize)
            break;
        if (w64)
            size -= headerSize;
        const auto is = [&](const char(&id)[5]) { return w64 ? IsW64Guid(h, id) : std::memcmp(h, id, 4) == 0; };
        const uint64_t body = pos + headerSize;
        if (is("ds64")) {
            const Bytes d = piece.Body(body, 16);
            ds64 = d.size() == 16;
            ds64Data = ds64 ? Le64(d.data() + 8) : 0;
        } else if (is("fmt ")) {
            const Bytes format = piece.Body(body, static_cast<uint32_t>(std::min<uint64_t>(size, kMaxFormatBytes)));
            c.format.assign(format.begin(), format.end());
        } else if (tags && !w64 && TakeTagChunk(piece, h, body, size, *tags)) {
        } else if (is("fact")) {
            const Bytes d = size >= 4 ? piece.Body(body, 4) : Bytes();
            if (d.size() == 4)
                c.factSamples = Le32(d.data());
        } else if (is("data")) {
            if (!w64 && size == kUnknownSize && ds64)
                size = ds64Data;
            // A size of 0 or 0xFFFFFFFF (a stream written before its length was known) runs to the end of the
            // file; so does a size past it (a file cut short).
            const uint64_t available = fileSize - std::min(body, fileSize);
            if (size == 0 || (!w64 && size == kUnknownSize) || size > available)
                size = available;
            c.data = true, c.dataStart = body, c.dataSize = size;
            if (tags && !w64)
                TakeListsAfter(piece, fileSize, body + size + (size & 1), *tags);
            break;
        }
        if (!w64 && size == kUnknownSize)
            break;  // no way past a chunk of unknown size
        const uint64_t padded = w64 ? (size + 7) / 8 * 8 : size + (size & 1);
        if (padded > fileSize - body)
            break;
        pos = body + padded;
    }
    return c;
}

}  // namespace

bool ProbeWav(const ProbeInput& input) { return IsRiffWave(input.head) || IsW64(input.head); }

uint32_t WavDemux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    m_times = {};
    if (input == nullptr)
        return 0;
    uint8_t head[40] = {};
    const uint32_t n = ZPMP::ReadAt(*input, 0, head, sizeof head);
    const Bytes b(head, n);
    const bool w64 = IsW64(b);
    if (!w64 && !IsRiffWave(b))
        return 0;
    m_tags.Clear();
    const WaveChunks c = WalkChunks(*input, w64, WantsTags() ? &m_tags : nullptr);
    WaveFormat format;
    if (!ParseWaveFormat(Bytes(c.format), format))
        return 1;

    auto r = NewStreamRecord();
    if (!r)
        return 1;
    r->streamClass = StreamClass::Audio;
    r->streamId = 1;
    r->codec = WaveFormatCodec(format.formatTag);
    SetWaveAudio(format, r->audio);
    const bool framed = r->codec == StreamCodec::Mpeg1Audio || r->codec == StreamCodec::Ac3 ||
                        r->codec == StreamCodec::Dts;
    if (framed && c.data) {  // MPEG audio, AC-3 and DTS in WAV: the first frame near the start of the data
        std::vector<uint8_t> frame(static_cast<size_t>(std::min<uint64_t>(c.dataSize, kFirstFrameBytes)));
        frame.resize(ZPMP::ReadAt(*input, c.dataStart, frame.data(), static_cast<uint32_t>(frame.size())));
        ReadFirstFrameRecord(frame, *r);
    }

    // The duration: whole sample frames of the data for sampled formats, the 'fact' count for compressed ones
    // (ADPCM states its bits per sample, but a block of it holds many sample frames), else the data over the stated
    // byte rate.
    const bool sampled =
        r->audio.bitsPerSample != 0 && format.blockAlign != 0 && r->codec != StreamCodec::Adpcm;
    int64_t duration = -1;
    if (c.data && sampled)
        duration = SamplesToUnits(c.dataSize / format.blockAlign, format.sampleRate);
    else if (c.factSamples != 0)
        duration = SamplesToUnits(c.factSamples, format.sampleRate);
    else if (c.data && format.bytesPerSecond != 0)
        duration = SamplesToUnits(c.dataSize, format.bytesPerSecond);
    const bool mpeg = r->codec == StreamCodec::Mpeg1Audio || r->codec == StreamCodec::Mpeg2Audio;
    const uint32_t frame = mpeg && r->audio.sampleRate != 0 ? uint32_t(SamplesToUnits(1152, r->audio.sampleRate)) : 0;
    m_times.SetAudio(duration, frame);
    if (streams)
        streams->Append(std::move(r));
    return 1;
}

}  // namespace md
