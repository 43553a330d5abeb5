#include "audio/aiff.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "audio/id3.h"
#include "input/file_piece.h"
#include "tags/id3v2.h"
#include "tags/tag_keys.h"
#include "tags/tag_text.h"

namespace md {
namespace {

constexpr uint32_t kFormHeaderSize = 12;  // 'FORM', the form size, the form type
constexpr uint32_t kChunkHeaderSize = 8;
constexpr uint32_t kUnknownSize = 0xFFFFFFFF;
// At most this many chunks are walked looking for 'COMM'.
constexpr int kMaxChunks = 1024;
// numChannels (16 bits), numSampleFrames (32), sampleSize (16), sampleRate (80): 18 bytes; AIFF-C adds the
// compressionType (and a Pascal-string name, not read).
constexpr uint32_t kCommonSize = 18;
constexpr uint32_t kCommonCompressedSize = 22;
// IMA ADPCM as QuickTime stores it: packets of 64 frames, 34 bytes per channel.
constexpr uint32_t kIma4Frames = 64;
constexpr uint32_t kIma4PacketBytes = 34;

bool IsAiffForm(Bytes b, bool& compressed)
{
    if (!Has(b, 0, kFormHeaderSize) || std::memcmp(b.data(), "FORM", 4) != 0)
        return false;
    compressed = std::memcmp(b.data() + 8, "AIFC", 4) == 0;
    return compressed || std::memcmp(b.data() + 8, "AIFF", 4) == 0;
}

// The sample rate of COMM: an IEEE 754 80-bit extended value (sign, 15-bit exponent biased by 16383, 64-bit
// mantissa with an explicit integer bit: value = mantissa x 2^(exponent - 16383 - 63)), rounded to whole Hz. 0 for
// a negative, infinite or NaN value, and one below 1 Hz or beyond 32 bits.
uint32_t ExtendedToRate(const uint8_t* p)
{
    const uint32_t signAndExponent = Be16(p);
    const uint64_t mantissa = Be64(p + 2);
    constexpr uint32_t kSign = 0x8000, kExponentMask = 0x7FFF, kBias = 16383;
    const uint32_t exponent = signAndExponent & kExponentMask;
    if ((signAndExponent & kSign) || exponent == kExponentMask || exponent < kBias || exponent > kBias + 31)
        return 0;
    // 2^0 <= the exponent's scale <= 2^31: the integer part is the mantissa's top (exponent - bias + 1) bits.
    const uint32_t shift = 63 - (exponent - kBias);
    const uint64_t rounded = (mantissa >> shift) + (mantissa >> (shift - 1) & 1);
    return rounded <= 0xFFFFFFFFu ? uint32_t(rounded) : 0;
}

struct Common {
    bool found = false;
    uint32_t channels = 0;
    uint32_t frames = 0;
    uint32_t sampleSize = 0;
    uint32_t rate = 0;
    char compression[4] = {'N', 'O', 'N', 'E'};
};

// A text chunk longer than this is skipped; an "ID3 " chunk is read this far.
constexpr uint32_t kMaxTextChunkBytes = 4096;
// The chunk walk reads the file in pieces of this size: the chunks ahead of the sound data in one read, as a rule.
constexpr uint32_t kWalkPieceBytes = 16 * 1024;

// Walks the chunks from the first one after the form header to 'COMM'. With tags, the walk goes on over every
// chunk and lists what the text chunks (NAME, AUTH, "(c) ", ANNO) and an ID3v2 tag in an "ID3 " chunk say.
Common WalkChunks(ZPMP::InputStream& input, bool compressed, TagList* tags)
{
    Common c;
    bool commonSeen = false;
    const uint64_t fileSize = input.Size();
    FilePiece piece(input, kWalkPieceBytes);
    uint64_t pos = kFormHeaderSize;
    for (int n = 0; n < kMaxChunks && pos + kChunkHeaderSize <= fileSize; ++n) {
        uint8_t h[kChunkHeaderSize] = {};
        const Bytes header = piece.Header(pos, sizeof h);
        if (header.size() != sizeof h)
            break;
        std::memcpy(h, header.data(), sizeof h);
        const uint32_t size = Be32(h + 4);
        const uint64_t body = pos + kChunkHeaderSize;
        const std::string_view id(reinterpret_cast<const char*>(h), 4);
        if (id == "COMM" && !commonSeen) {
            commonSeen = true;
            // A file cut short inside COMM keeps what is there; the chunk must state the fields the form needs.
            const uint32_t need = compressed ? kCommonCompressedSize : kCommonSize;
            const Bytes d = size >= need ? piece.Body(body, need) : Bytes();
            if (d.size() == need) {
                c.found = true;
                c.channels = Be16(d.data());
                c.frames = Be32(d.data() + 2);
                c.sampleSize = Be16(d.data() + 6);
                c.rate = ExtendedToRate(d.data() + 8);
                if (compressed)
                    std::memcpy(c.compression, d.data() + kCommonSize, 4);
            }
            if (tags == nullptr)
                break;
        }
        const bool text = id == "NAME" || id == "AUTH" || id == "(c) " || id == "ANNO";
        if (tags && ((text && size <= kMaxTextChunkBytes) || id == "ID3 " || id == "id3 ")) {
            const Bytes tag = piece.Body(body, std::min<uint32_t>(size, text ? kMaxTextChunkBytes : kMaxId3ReadBytes));
            if (text)
                tags->Set(TagKey(TagSystem::Aiff, id), Utf8OrLatin1(tag, kMaxTagValueBytes));
            else
                ReadId3v2Tag(tag, *tags);
        }
        const uint64_t padded = uint64_t(size) + (size & 1);
        if (size == kUnknownSize || padded > fileSize - body)
            break;  // no way past a chunk of unknown size or one longer than the file
        pos = body + padded;
    }
    return c;
}

bool Is(const char (&id)[4], const char (&name)[5]) { return std::memcmp(id, name, 4) == 0; }

// The codec, bits per sample, bytes per block and frames per block of a compression type; false for one the
// record has no code for.
struct Coding {
    StreamCodec codec;
    uint32_t bits;
    uint32_t blockBytes;
    uint32_t blockFrames;
};

bool CodingOf(const Common& c, Coding& coding)
{
    const char(&t)[4] = c.compression;
    if (Is(t, "NONE") || Is(t, "twos") || Is(t, "in24") || Is(t, "in32") || Is(t, "sowt") || Is(t, "raw ")) {
        // Big-endian two's complement, but 'sowt' is little-endian and 'raw ' unsigned 8-bit (offset binary).
        const bool little = Is(t, "sowt") || Is(t, "raw ");
        const uint32_t bits = Is(t, "in24") ? 24 : Is(t, "in32") ? 32 : c.sampleSize;
        coding = {little ? StreamCodec::PcmLittleEndian : StreamCodec::Lpcm, bits, c.channels * ((bits + 7) / 8), 1};
    } else if (Is(t, "fl32") || Is(t, "FL32")) {
        coding = {StreamCodec::PcmFloat, 32, c.channels * 4, 1};
    } else if (Is(t, "fl64") || Is(t, "FL64")) {
        coding = {StreamCodec::PcmFloat, 64, c.channels * 8, 1};
    } else if (Is(t, "alaw") || Is(t, "ALAW")) {
        coding = {StreamCodec::Alaw, 8, c.channels, 1};  // G.711 codes a sample in 8 bits, whatever sampleSize says
    } else if (Is(t, "ulaw") || Is(t, "ULAW")) {
        coding = {StreamCodec::Mulaw, 8, c.channels, 1};
    } else if (Is(t, "ima4")) {
        coding = {StreamCodec::Adpcm, 4, c.channels * kIma4PacketBytes, kIma4Frames};
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool ProbeAiff(const ProbeInput& input)
{
    bool compressed = false;
    return IsAiffForm(input.head, compressed);
}

uint32_t AiffDemux::Parse(ZPMP::InputStream* input, StreamList* streams)
{
    m_times = {};
    if (input == nullptr)
        return 0;
    uint8_t head[kFormHeaderSize] = {};
    const uint32_t n = ZPMP::ReadAt(*input, 0, head, sizeof head);
    bool compressed = false;
    if (!IsAiffForm(Bytes(head, n), compressed))
        return 0;
    m_tags.Clear();
    const Common c = WalkChunks(*input, compressed, WantsTags() ? &m_tags : nullptr);
    if (!c.found || c.rate == 0 || c.channels == 0)
        return 1;

    auto r = NewStreamRecord();
    if (!r)
        return 1;
    r->streamClass = StreamClass::Audio;
    r->streamId = 1;
    r->audio.channels = c.channels;
    r->audio.sampleRate = c.rate;
    Coding coding{};
    if (CodingOf(c, coding)) {
        r->codec = coding.codec;
        r->audio.bitsPerSample = coding.bits;
        r->audio.blockAlign = coding.blockBytes;
        const uint64_t byteRate = uint64_t(c.rate) * coding.blockBytes / coding.blockFrames;
        r->audio.bytesPerSecond = byteRate <= 0xFFFFFFFFu ? uint32_t(byteRate) : 0xFFFFFFFFu;
        m_times.SetAudio(SamplesToUnits(uint64_t(c.frames) * coding.blockFrames, c.rate), 0);
    } else {
        // A compression the record has no code for (as WAV's unmapped format tags): listed, not described, and no
        // duration, since such types count numSampleFrames in packets of their own size.
        r->codec = StreamCodec::VfwVideo;
    }
    if (streams)
        streams->Append(std::move(r));
    return 1;
}

}  // namespace md
