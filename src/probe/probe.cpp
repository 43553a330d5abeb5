#include "probe/probe.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "audio/id3.h"
#include "input/byte_window.h"
#include "es/start_code.h"
#include "input/bytes.h"
#include "input/chunk_buffer.h"
#include "mediadetect/records.h"
#include "mpeg/cdxa.h"
#include "probe/families.h"

namespace {

using md::Be16;
using md::Be24;
using md::Be32;
using md::Be64;
using md::FourCC;
using md::Has;
using md::IsStartCode;
using md::IsStartCodePrefix;

// Trace switch: MEDIADETECT_DEBUG=probe (or a list containing "probe", or "all")
// writes each decision of the driver to stderr.
bool TraceEnabled()
{
    static const bool enabled = [] {
        const char* v = std::getenv("MEDIADETECT_DEBUG");
        return v != nullptr && (std::strstr(v, "probe") != nullptr || std::strstr(v, "all") != nullptr);
    }();
    return enabled;
}

int32_t Decide(const char* step, int32_t kind)
{
    if (TraceEnabled())
        std::fprintf(stderr, "probe: %s -> kind %d\n", step, kind);
    return kind;
}

constexpr uint8_t kPackStartCode = 0xBA;
constexpr uint8_t kSequenceHeaderCode = 0xB3;
// The EBML header's element ID: the Matroska test needs it at byte 0, and only
// then is the Matroska code loaded.
constexpr uint32_t kEbmlHeaderId = 0x1A45DFA3;


// Phase A of ProbeMpeg2Pack: groups of 8 SVCD sectors of 2324 bytes from the pack
// position on. True when the file is SVCD.
bool ProbeSvcdSectors(ZPMP::InputStream& stream, uint64_t pack, std::span<uint8_t> group)
{
    stream.Seek(pack);
    for (;;) {
        uint64_t got = stream.Read(group.data(), kSvcdGroupSize);
        if (got == 0)
            return true;  // SVCD sectors to the end of the file
        if (got < kSvcdGroupSize)
            return false;
        for (uint32_t s = 0; s < 8; ++s)
            if (!IsStartCode(group.data() + s * kSvcdSectorSize, kPackStartCode))
                return false;
        for (uint32_t s = 0; s < 8; ++s) {
            const size_t base = size_t(s) * kSvcdSectorSize;
            const uint8_t* sector = group.data() + base;
            // A video packet right after a 14-byte pack header.
            if (!IsStartCode(sector + 14, 0xE0))
                continue;
            for (size_t i = 18; i + 4 <= kSvcdSectorSize; ++i) {
                if (!IsStartCode(sector + i, kSequenceHeaderCode))
                    continue;
                // horizontal_size_value(12) vertical_size_value(12)
                // aspect_ratio_information(4) frame_rate_code(4)
                uint32_t fields = md::Be32At(group, base + i + 4);
                uint32_t width = fields >> 20;
                uint32_t height = (fields >> 8) & 0xFFF;
                uint32_t frameRateCode = fields & 0xF;
                bool svcdWidth = width == 480 || width == 704;
                return (frameRateCode == 4 && svcdWidth && height == 480) ||
                       (frameRateCode == 3 && svcdWidth && height == 576);
            }
        }
    }
}

// Phase B of ProbeMpeg2Pack: the packet scan from the start of the file.
int32_t ScanProgramStreamPackets(ZPMP::InputStream& stream)
{
    constexpr uint32_t kCapacity = 512000;
    constexpr uint32_t kReadSize = 10240;
    ByteWindow window;
    if (!window.Allocate(kCapacity, kReadSize))
        return 0;

    int32_t result = MK_MPEG2_PROGRAM;
    uint64_t total = 0;
    stream.Seek(0);
    for (;;) {
        // The window keeps write offset + reserve below its capacity after every
        // Consume, so a full read always fits; the test only guards that.
        if (window.Writable() < kReadSize)
            return result;
        uint64_t got = stream.Read(window.WritePointer(), kReadSize);
        if (got <= 4 || got > kReadSize || !window.Commit(static_cast<uint32_t>(got)))
            return result;
        total += got;

        uint32_t available = 0;
        const uint8_t* data = window.ReadPointer(available);
        uint32_t pos = 0;
        while (available - pos > 20) {
            const uint8_t* q = data + pos;
            const uint32_t remaining = available - pos;
            const uint32_t code = Be32(q);
            if (code < 0x1BB || code > 0x1FF) {
                pos += 1;
                continue;
            }
            const uint32_t len = Be16(q + 4);  // PES_packet_length
            if (remaining < len + 20)
                break;  // finish this packet after the next read
            if (code >= 0x1E0 && code <= 0x1EF) {
                // From the first payload byte (PES_header_data_length + 9) on;
                // every look below stays inside the len + 20 bytes checked above.
                for (int64_t j = int64_t(q[8]) + 3; j < int64_t(len) - 4; ++j) {
                    const uint8_t* c = q + j + 6;
                    if (!IsStartCodePrefix(c))
                        continue;
                    if (c[3] == 0xB6)  // VOP start code
                        return MK_MPEG2_PROGRAM_MPEG4;
                    if (c[3] == 0xB0) {  // visual_object_sequence_start_code
                        const uint8_t* next = q + j + 11;
                        if (IsStartCodePrefix(next) && (next[3] == 0xB2 || next[3] <= 0x1F))
                            return MK_MPEG2_PROGRAM_MPEG4;
                    } else if (c[3] == kSequenceHeaderCode &&
                               // the count of the last read minus j, unsigned
                               static_cast<uint32_t>(static_cast<uint32_t>(got) - static_cast<uint32_t>(j)) >= 10) {
                        // An MPEG-4 group_of_VOP header (also 00 00 01 B3) is
                        // followed by a start code after three bytes; an MPEG-1/2
                        // sequence header carries at least eight bytes of fields.
                        return IsStartCodePrefix(q + j + 13) ? int32_t(MK_MPEG2_PROGRAM_MPEG4) : result;
                    }
                }
            } else if (code == 0x1BF) {  // private_stream_2
                if (q[4] == 0x07 && q[5] == 0xD4 && q[6] == 0x50)
                    result = MK_DVD_VR;  // RDI packet: length 2004, sub-stream 0x50
                else if (q[4] == 0x03 && q[5] == 0xD4 && q[6] == 0x00)
                    result = MK_DVD_VIDEO;  // navigation packet: length 980, sub-stream 0
            }
            pos += len + 6;
        }
        window.Consume(pos);
        stream.Seek(total);
    }
}

// Files too small for the tests above, taken only when every byte belongs to a structure that validates
// (MD_EXT_SMALL_FILES): transport packets of one size with a PAT among them; packs whose PES packets run to the
// end of the file; top-level boxes that cover the file with a 'moov' that starts with its 'mvhd'.
int32_t ProbeSmallFile(ZPMP::InputStream& stream, const uint8_t* buf, size_t n)
{
    for (const size_t size : {188, 192, 204}) {
        const size_t sync = size == 192 ? 4 : 0;  // a 192-byte packet starts with its 4-byte time code
        bool all = n <= 2040 && n % size == 0 && n / size >= 2, pat = false;
        for (size_t at = 0; all && at < n; at += size) {
            all = buf[at + sync] == 0x47;
            pat = pat || (Be16(buf + at + sync + 1) & 0x5FFF) == 0x4000;  // payload_unit_start_indicator, PID 0
        }
        if (all && pat)
            return MK_MPEG2_TRANSPORT;
    }

    if (n <= 2048 && n >= 16 && IsStartCode(buf, kPackStartCode)) {
        const bool mpeg2 = (buf[4] & 0xC0) == 0x40;
        size_t at = mpeg2 ? 14 + (buf[13] & 7) : 12;  // pack_stuffing_length
        uint32_t packets = 0;
        while (Has(n, at, 6) && IsStartCodePrefix(buf + at) && buf[at + 3] >= 0xBB) {
            at += 6 + Be16(buf + at + 4);  // a system header or a PES packet, after its length field
            ++packets;
        }
        const bool endCode = Has(n, at, 4) && at + 4 == n && IsStartCode(buf + at, 0xB9);
        if (packets > 0 && (at == n || endCode))
            return mpeg2 ? ProbeMpeg2Pack(stream, 0) : ProbeMpeg1Pack(stream, 0);
    }

    // A whole file of boxes has a handful at its top level; a walk past 64 is no such file.
    const uint64_t fileSize = stream.Size();
    bool moov = false;
    uint64_t pos = 0;
    for (int boxes = 0; pos < fileSize; ++boxes) {
        if (boxes == 64)
            return 0;
        uint8_t h[16] = {};
        stream.Seek(pos);
        if (stream.Read(h, sizeof h) < 8 || Be32(h) < 8 || Be32(h) > fileSize - pos)
            return 0;
        moov = moov || (Be32(h + 4) == FourCC("moov") && Be32(h) >= 16 && Be32(h + 12) == FourCC("mvhd"));
        pos += Be32(h);
    }
    return moov ? int32_t{MK_MP4} : 0;
}

// What the tests of the container families see: the first read, and where ID3v2 tags open the file, a read from
// their end on (for the families whose files may carry them).
class FamilyInputs {
public:
    FamilyInputs(ZPMP::InputStream& stream, const uint8_t* buf, size_t n, uint32_t extensions)
    {
        m_head = {.head = md::Bytes(buf, n), .headOffset = 0, .fileSize = stream.Size(), .stream = &stream};
        m_afterTags = m_head;
        bool tagged = false;
        for (const md::ContainerFamily& f : md::ContainerFamilies())
            tagged = tagged || ((extensions & f.extension) && f.afterTags);
        if (!tagged || md::Id3v2TagSize(m_head.head) == 0)
            return;
        const uint64_t end = md::Id3v2TagsEnd(stream);
        m_tail.reset(new (std::nothrow) uint8_t[kAfterTagsSize]);
        if (!m_tail)
            return;
        const uint32_t got = ZPMP::ReadAt(stream, end, m_tail.get(), kAfterTagsSize);
        m_afterTags.head = md::Bytes(m_tail.get(), got);
        m_afterTags.headOffset = end;
    }

    // The first family of the phase, among those turned on, whose test takes the file; 0 when none does.
    int32_t Probe(md::ProbePhase phase, uint32_t extensions) const
    {
        for (const md::ContainerFamily& f : md::ContainerFamilies())
            if ((extensions & f.extension) && f.phase == phase && f.probe(f.afterTags ? m_afterTags : m_head))
                return Decide(f.name, f.kind);
        return 0;
    }

private:
    static constexpr uint32_t kAfterTagsSize = 0x10000;
    md::ProbeInput m_head, m_afterTags;
    std::unique_ptr<uint8_t[]> m_tail;
};

}  // namespace

int32_t ProbeTransport(const uint8_t* buf, size_t n) noexcept
{
    if (buf == nullptr || n <= 2040)
        return 0;
    static constexpr size_t kPacketSizes[] = {188, 192, 204};
    bool synced = false;
    const size_t end = n - 2040;
    for (size_t i = 0; i < end; ++i) {
        // Out of sync only a sync byte can start a packet: skip to the next one.
        if (!synced && buf[i] != 0x47) {
            const auto* next = static_cast<const uint8_t*>(std::memchr(buf + i, 0x47, end - i));
            if (next == nullptr)
                break;
            i = static_cast<size_t>(next - buf);
        }
        bool aligned = false;
        if (buf[i] == 0x47) {
            for (size_t size : kPacketSizes) {
                bool all = true;
                for (size_t k = 1; k <= 8 && all; ++k)
                    all = Has(n, i + k * size, 1) && buf[i + k * size] == 0x47;
                if (all) {
                    aligned = true;
                    break;
                }
            }
        }
        if (aligned)
            synced = true;
        else if (!synced)
            continue;
        if (!Has(n, i, 188)) {
            synced = false;
            continue;
        }
        if (buf[i + 1] & 0x40) {  // payload_unit_start_indicator
            const unsigned adaptationFieldControl = (buf[i + 3] >> 4) & 3;
            if (adaptationFieldControl == 0 || adaptationFieldControl == 2)
                continue;  // no payload; synced stays as it is
            const size_t start = adaptationFieldControl == 1 ? 4 : size_t(buf[i + 4]) + 5;
            for (size_t k = start; k <= 185; ++k)
                if (IsStartCodePrefix(buf + i + k))
                    return MK_MPEG2_TRANSPORT;
        }
        synced = false;
    }
    return synced ? int32_t(MK_MPEG2_TRANSPORT) : 0;
}

int32_t ProbeDirecTV(const uint8_t* buf, size_t n) noexcept
{
    if (buf == nullptr || n <= 1300)
        return 0;
    constexpr size_t kPacket = 130;
    for (size_t i = 0; i < n - 1300; ++i) {
        const bool first = (buf[i] & 0x80) != 0;
        bool alternates = true;
        for (size_t m = 1; m <= 8 && alternates; ++m) {
            const size_t off = i + m * kPacket;
            const bool expected = (m % 2 == 0) ? first : !first;
            alternates = Has(n, off, 1) && ((buf[off] & 0x80) != 0) == expected;
        }
        if (alternates)
            return MK_DIRECTV;
    }
    return 0;
}

int32_t ProbeMp4Atoms(ZPMP::InputStream& stream) noexcept
{
    bool moov = false;
    bool mdat = false;
    uint64_t pos = 0;
    for (;;) {
        uint8_t header[16] = {};
        stream.Seek(pos);
        if (stream.Read(header, sizeof(header)) == 0)
            return 0;
        uint64_t size = Be32(header);
        if (size == 1)
            size = Be64(header + 8);  // largesize
        const uint32_t type = Be32(header + 4);
        if (type == FourCC("moov"))
            moov = true;
        else if (type == FourCC("mdat"))
            mdat = true;
        if (moov && mdat)
            return kMp4BoxesFound;
        if (size == 0)
            return 0;
        // A running sum that would wrap, or pass the largest position a file can
        // have, ends the walk (a seek there would be refused and the walk would
        // read on from the old position).
        if (size > uint64_t(INT64_MAX) - pos)
            return 0;
        pos += size;
    }
}

int32_t ProbeMpeg1Pack(ZPMP::InputStream& stream, uint64_t pack) noexcept
{
    uint8_t h[34] = {};
    stream.Seek(pack);
    const uint64_t got = stream.Read(h, sizeof(h));
    // A pack whose system_clock_reference is below 2^22 ticks (bytes 4, 5 = 21 00)
    // at a program_mux_rate of at most 3528.
    if (got >= 12 && IsStartCode(h, kPackStartCode) && h[4] == 0x21 && h[5] == 0x00 &&
        Be24(h + 9) < md::kVcdMuxRateLimit)
        return MK_VCD;
    return MK_MPEG1_SYSTEM;
}

int32_t ProbeMpeg2Pack(ZPMP::InputStream& stream, uint64_t pack, std::span<uint8_t> scratch) noexcept
{
    if (scratch.size() < kSvcdGroupSize)
        return 0;
    if (ProbeSvcdSectors(stream, pack, scratch.first(kSvcdGroupSize)))
        return MK_SVCD;
    return ScanProgramStreamPackets(stream);
}

int32_t ProbeMpeg2Pack(ZPMP::InputStream& stream, uint64_t pack) noexcept
{
    std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[kSvcdGroupSize]);
    if (!scratch)
        return 0;
    return ProbeMpeg2Pack(stream, pack, std::span<uint8_t>(scratch.get(), kSvcdGroupSize));
}

int32_t ProbeMediaKind(ZPMP::InputStream* stream, uint32_t containerHint, uint32_t extensions) noexcept
{
    if (stream == nullptr)
        return 0;
    // At least an SVCD sector group: the buffer serves that phase later.
    const uint32_t capacity = std::max(ZPMP::ChunkCapacity(*stream, kProbeBufferSize), kSvcdGroupSize);
    ZPMP::ChunkBuffer buffer = ZPMP::NewChunkBuffer(capacity);
    if (!buffer)
        return 0;
    stream->Seek(0);
    const size_t n = static_cast<size_t>(std::min<uint64_t>(stream->Read(buffer.get(), capacity), capacity));
    if (n == 0)
        return Decide("empty", 0);
    const uint8_t* buf = buffer.get();

    // The container families beyond the base kinds, each with its extension bit: those known by a signature
    // before the base tests, those found by a sync search after them.
    std::optional<FamilyInputs> families;
    if (extensions & md::FamilyExtensions()) {
        families.emplace(*stream, buf, n, extensions);
        if (const int32_t kind = families->Probe(md::ProbePhase::Signature, extensions))
            return kind;
    }

    if (ProbeTransport(buf, n) == MK_MPEG2_TRANSPORT)
        return Decide("transport packets", MK_MPEG2_TRANSPORT);
    if (containerHint == MK_DIRECTV && ProbeDirecTV(buf, n) == MK_DIRECTV)
        return Decide("DirecTV packets", MK_DIRECTV);
    const int32_t cdxa = md::ProbeCdxa(buf, n);
    if (cdxa == MK_VCD || cdxa == MK_SVCD)
        return Decide("RIFF/CDXA", cdxa);

    // Pack search over offsets [0, n - 2048); an "ftyp" at byte 4 wins unless a pack
    // header starts at byte 0.
    bool havePack = false;
    size_t pack = 0;
    if (n > 2048) {
        if (Be32(buf + 4) == FourCC("ftyp") && !IsStartCode(buf, kPackStartCode))
            return Decide("ftyp at byte 4", MK_MP4);
        const auto searched = static_cast<uint32_t>(n - 2048 + 3);  // the last offset's start code ends here
        pack = md::FindCode(buf, searched, kPackStartCode);
        havePack = pack < searched;
    }

    if (ProbeMp4Atoms(*stream) == kMp4BoxesFound)
        return Decide("moov and mdat boxes", MK_MP4);
    if (n >= 4 && Be32(buf) == kEbmlHeaderId) {
        const int32_t ebml = ProbeMatroska(*stream, extensions);
        if (ebml == MK_MATROSKA_PROBED)
            return Decide("EBML DocType matroska", MK_MATROSKA_PROBED);
        if (ebml == MK_WEBM)
            return Decide("EBML DocType webm", MK_WEBM);
    }

    if (havePack) {
        const uint8_t b4 = buf[pack + 4], b6 = buf[pack + 6], b8 = buf[pack + 8], b9 = buf[pack + 9];
        if ((b4 & 0xC0) == 0x40) {  // MPEG-2 pack header: check its marker bits
            if ((b4 & 0x04) && (b6 & 0x04) && (b8 & 0x04) && (b9 & 0x01)) {
                // The first read is no longer needed: its buffer serves the SVCD phase.
                const std::span<uint8_t> scratch(buffer.get(), capacity);
                return Decide("MPEG-2 pack", ProbeMpeg2Pack(*stream, pack, scratch));
            }
            return Decide("MPEG-2 pack with bad markers", 0);
        }
        if ((b4 & 0xF0) == 0x20 && (b4 & 0x01) && (b6 & 0x01) && (b8 & 0x01))
            return Decide("MPEG-1 pack", ProbeMpeg1Pack(*stream, pack));
        return Decide("pack with bad markers", 0);
    }

    const int32_t es = ProbeElementary(buf, n, extensions);
    if (es == MK_MPEG1_VIDEO_ES || es == MK_MPEG2_VIDEO_ES || es == MK_MPEG4_VIDEO_ES || es == MK_H264_ES ||
        es == MK_HEVC_ES)
        return Decide("elementary stream", es);
    if (families) {
        if (const int32_t kind = families->Probe(md::ProbePhase::Sync, extensions))
            return kind;
    }
    if (extensions & MD_EXT_SMALL_FILES) {
        const int32_t small = ProbeSmallFile(*stream, buf, n);
        if (small != 0)
            return Decide("a small whole structure", small);
    }
    return Decide("nothing recognised", 0);
}
