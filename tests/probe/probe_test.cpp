// The container probe on synthetic streams (length limits, marker bits, the kinds the pack scans tell apart), and on
// random data, which is never taken for a structured container (as FFmpeg's tools/probetest.c checks).
#include "probe/probe.h"

#include <gtest/gtest.h>

#include "input/memory_input_stream.h"
#include "mediadetect/records.h"
#include "support/box_builder.h"
#include "support/mp4_builders.h"
#include "support/stream_builders.h"

namespace {

using namespace mdtest;
using md::MemoryInputStream;

int32_t Probe(const ByteVec& bytes, uint32_t hint = 0, uint32_t extensions = 0)
{
    MemoryInputStream s(bytes.data(), bytes.size());
    return ProbeMediaKind(&s, hint, extensions);
}

ByteVec Flip(ByteVec bytes, size_t at, uint8_t bits) { return bytes[at] ^= bits, bytes; }

const ByteVec kMpeg2Sequence = Concat({VideoSequenceHeader(720, 576, 2, 3), GopHeaderFlags(), PictureHeaderFields()});
const ByteVec kMpeg1Seq =
    Concat({VideoSequenceHeader(352, 288, 12, 3, false), GopHeaderFlags(), PictureHeaderFields()});

TEST(Probe, TransportDirecTvAndCdxaBufferTests)
{
    EXPECT_EQ(ProbeMediaKind(nullptr, 0), 0);

    const ByteVec ts = TsStream(188, 40), dtv = DirecTvStream(40);
    ByteVec noStart, broken = ts;  // no packet starts a payload unit; every eighth packet loses its sync
    for (int k = 1; k < 40; ++k)
        Append(noStart, TsPacket(0x1FFF, false, uint8_t(k), ByteVec(184, 0xFF)));
    for (size_t i = 8 * 188; i < broken.size(); i += 8 * 188)
        broken[i] = 0x48;
    std::vector<ByteVec> pair(60, ByteVec{}), lonely(60, ByteVec{});
    pair[0] = pair[5] = pair[6] = lonely[0] = lonely[2] = VcdPackSector(0);  // a pack must start the next sector
    const ByteVec cdxa = CdxaFile(std::vector<ByteVec>(50, VcdPackSector(0)));
    const ByteVec fast = CdxaFile(std::vector<ByteVec>(50, VcdPackSector(0, 3529)));
    const auto d = [](const ByteVec& b, size_t n = SIZE_MAX) { return ProbeDirecTV(b.data(), std::min(n, b.size())); };
    const auto c = [](const ByteVec& b, size_t n = SIZE_MAX) { return md::ProbeCdxa(b.data(), std::min(n, b.size())); };
    const std::tuple<const char*, int32_t, int32_t> cases[] = {
        {"204-byte packets, DirecTV hint: transport first", Probe(TsStream(204, 60), MK_DIRECTV), MK_MPEG2_TRANSPORT},
        {"2040 bytes", ProbeTransport(ts.data(), 2040), 0},
        {"2041 bytes", ProbeTransport(ts.data(), 2041), MK_MPEG2_TRANSPORT},
        {"no buffer", ProbeTransport(nullptr, 5000), 0},
        {"no payload unit start", ProbeTransport(noStart.data(), noStart.size()), 0},
        {"seven following syncs", ProbeTransport(broken.data(), broken.size()), 0},
        {"DirecTV with its hint", Probe(dtv, MK_DIRECTV), MK_DIRECTV},
        {"DirecTV 1300 bytes", d(dtv, 1300), 0},
        {"DirecTV 1301 bytes", d(dtv, 1301), MK_DIRECTV},
        {"DirecTV from packet 1: the first framing bit clear", d(ByteVec(dtv.begin() + 130, dtv.end())), MK_DIRECTV},
        {"constant top bit 1", d(ByteVec(5000, 0x80)), 0},
        {"above the VCD mux rate: not CDXA", c(fast), 0},
        {"... but the pack at byte 68 is MPEG-1", Probe(fast), MK_MPEG1_SYSTEM},
        {"117599 bytes", c(cdxa, 117599), 0},
        {"117600 bytes: fifty raw sectors", c(cdxa, 117600), MK_VCD},
        {"CDXA", c(Flip(cdxa, 8, 0x20)), 0},
        {"packs in sectors 5 and 6", c(CdxaFile(pair)), MK_VCD},
        {"no pack in the next sector", c(CdxaFile(lonely)), 0},
    };
    for (const auto& [what, kind, want] : cases)
        EXPECT_EQ(kind, want) << what;
}

// The box walk ends at a size that would pass the largest file position (largesize 2^64 - 16) after one read; boxes
// of 4 bytes are walked one by one to the file's end (1000 headers and the read of 0 bytes there).
TEST(Probe, Mp4FtypAndTheBoxWalk)
{
    ByteVec huge = mdtest::BoxBuilder().BeginLarge("moov").Zeros(8).End().Begin("mdat").Zeros(8).End().Take(), tiny;
    std::fill(huge.begin() + 8, huge.begin() + 15, 0xFF), huge[15] = 0xF0;
    for (int i = 0; i < 1000; ++i)
        Append(tiny, ByteVec{0x00, 0x00, 0x00, 0x04});
    for (const auto& [bytes, reads] : {std::pair(huge, size_t{1}), std::pair(tiny, size_t{1001})}) {
        MemoryInputStream s(bytes.data(), bytes.size());
        const int32_t kind = ProbeMp4Atoms(s);  // before Reads(): the order of function arguments is unspecified
        EXPECT_EQ(std::pair(kind, s.Reads()), std::pair(0, reads)) << bytes.size();
    }
}

// Whole structures below the size the base tests need: found with MD_EXT_SMALL_FILES only, and only whole.
TEST(Probe, SmallWholeStructures)
{
    ByteVec ts;  // seven 192-byte packets: a time code, then a PAT and null packets
    for (int k = 0; k < 7; ++k)
        Append(ts, Concat({ByteVec{0, 0, 0, uint8_t(k)}, TsPacket(k == 0 ? 0 : 0x1FFF, k == 0, 0, ByteVec{0})}));
    ByteVec pack = Mpeg2Pack(0, {PesPacket(0xBD, Ac3FrameStart(0, 10, 8, 2, false, 1900))}, 2048);
    const ByteVec ended = Concat({Mpeg2Pack(0, {PesPacket(0xBD, Ac3FrameStart(0, 10, 8, 2, false, 1900))}, 2044),
                                  ByteVec{0, 0, 1, 0xB9}});  // MPEG_program_end_code
    const ByteVec moov = BoxBuilder().Begin("moov").BeginFull("mvhd", 0, 0).Zeros(96).End().End().Take();
    const ByteVec trak = BoxBuilder().Begin("moov").Begin("trak").End().End().Take();
    struct Case {
        const char* name;
        ByteVec bytes;
        int32_t kind;
    };
    const Case cases[] = {
        {"7 x 192-byte packets with a PAT", ts, MK_MPEG2_TRANSPORT},
        {"one sync byte lost", Flip(ts, 4 * 192 + 4, 0x01), 0},
        {"no PAT", Flip(ts, 4 + 2, 0x01), 0},  // PID 1
        {"one 2048-byte pack of AC-3", pack, MK_MPEG2_PROGRAM},
        {"a pack whose packet runs past the file", ByteVec(pack.begin(), pack.end() - 1), 0},
        {"a pack, then the program end code", ended, MK_MPEG2_PROGRAM},
        {"'moov' with its 'mvhd', no 'mdat'", moov, MK_MP4},
        {"'moov' starting with another box", trak, 0},
        {"a box past the end", Concat({moov, ByteVec{0, 0, 0, 9, 'f', 'r', 'e', 'e'}}), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Probe(c.bytes), 0) << c.name;
        EXPECT_EQ(Probe(c.bytes, 0, MD_EXT_SMALL_FILES), c.kind) << c.name;
    }
}

// A bare H.264 stream (MD_EXT_ANNEXB_ES) may open with a 3-byte start code as well as with the 4-byte one.
TEST(Probe, AnnexBStreamFromAThreeByteStartCode)
{
    const ByteVec es = Concat({ByteVec{0, 0, 1}, AvcSpsNal({}), ByteVec{0, 0, 1}, AvcPpsNal({})});
    EXPECT_EQ(std::pair(Probe(es), Probe(es, 0, MD_EXT_ANNEXB_ES)), std::pair(0, int32_t(MK_H264_ES)));
}

ByteVec Mpeg1File(uint64_t scr, uint32_t muxRate, size_t packs = 4)
{
    ByteVec file;
    for (size_t k = 0; k < packs; ++k)
        Append(file,
               Mpeg1Pack(scr + k * 1000, {Mpeg1PesPacket(0xE0, k == 0 ? kMpeg1Seq : ByteVec{1, 2, 3})}, 2324, muxRate));
    return file;
}

ByteVec VideoPacks(size_t count, uint64_t scr)
{
    ByteVec out;
    for (size_t k = 0; k < count; ++k)
        Append(out, DvdVideoPack(scr + k * 300, ByteVec(100, 0xFF)));
    return out;
}

// Sector 0: pack and system header; 1: audio; 2: video with the sequence header; then video and audio.
ByteVec SvcdFile(const ByteVec& sequence)
{
    ByteVec file = Mpeg2Pack(0, {SystemHeader(6972, 1, 1, {{0xE0, true, 230}, {0xC0, false, 32}})}, 2324, 6972);
    for (size_t k = 1; k < 24; ++k)
        Append(file, k == 2 ? SvcdVideoSector(200, sequence)
                            : (k == 1 || k % 3 == 0 ? SvcdAudioSector(k * 100) : SvcdVideoSector(k * 100)));
    return file;
}

TEST(Probe, PackKinds)
{
    const ByteVec vcd = Mpeg1File(0, 3528);
    const ByteVec seq = DvdVideoPack(100, kMpeg2Sequence, 90000), filler = VideoPacks(3, 1000);
    const ByteVec good = Concat({DvdNavPack(0), seq});
    const auto pes = [](const ByteVec& es) { return Concat({DvdVideoPack(0, es), VideoPacks(3, 1000)}); };
    ByteVec sectors;  // SVCD sectors without a sequence header
    for (size_t k = 0; k < 16; ++k)
        Append(sectors, k % 2 ? SvcdAudioSector(k * 100) : SvcdVideoSector(k * 100));
    const ByteVec svcd = SvcdFile(VideoSequenceHeader(480, 576, 2, 3));
    const std::tuple<const char*, ByteVec, int32_t> cases[] = {
        // VCD: mux rate up to 3528, clock below 2^22. The corpus has the plain VCD, SVCD, DVD and MPEG-4 VOS forms.
        {"clock 2^22 - 1", Mpeg1File((1u << 22) - 1001, 1000), MK_VCD},
        {"mux rate 3529", Mpeg1File(0, 3529), MK_MPEG1_SYSTEM},
        {"clock 2^22", Mpeg1File(1u << 22, 1000), MK_MPEG1_SYSTEM},
        {"MPEG-1 marker in byte 6", Flip(vcd, 6, 1), 0},
        {"DVD-VR data packet before it", Concat({DvdVrRdiPack(0), seq, filler}), MK_DVD_VR},
        {"the later private stream 2 counts", Concat({DvdNavPack(0), DvdVrRdiPack(50), seq, filler}), MK_DVD_VR},
        {"navigation after the sequence header", Concat({seq, DvdNavPack(200), filler}), MK_MPEG2_PROGRAM},
        {"PS2 of another sub-stream", Concat({Mpeg2Pack(0, {PrivateStream2Packet(980, 1)}), seq, filler}),
         MK_MPEG2_PROGRAM},
        {"no sequence header: scanned to the end", Concat({DvdNavPack(0), VideoPacks(30, 1000)}), MK_DVD_VIDEO},
        {"VOP", pes(Mpeg4IVop()), MK_MPEG2_PROGRAM_MPEG4},
        {"group of VOP", pes(Concat({Mpeg4GroupOfVop(), Mpeg4IVop()})), MK_MPEG2_PROGRAM_MPEG4},
        {"MPEG-2 marker in byte 4", Flip(good, 4, 0x04), 0},
        // SVCD: 480 or 704 wide, 576 lines at 25 Hz or 480 at 29.97 Hz.
        {"SVCD 704x480", SvcdFile(VideoSequenceHeader(704, 480, 2, 4)), MK_SVCD},
        {"480x576 at 29.97", SvcdFile(VideoSequenceHeader(480, 576, 2, 4)), MK_MPEG2_PROGRAM},
        {"two groups of 8 sectors", sectors, MK_SVCD},
        {"one sector short", ByteVec(sectors.begin(), sectors.begin() + 15 * 2324), MK_MPEG2_PROGRAM},
        {"a sector without a pack header", Flip(svcd, 2324 + 3, 0xBA ^ 0xBB), MK_MPEG2_PROGRAM},
    };
    for (const auto& [what, file, kind] : cases)
        EXPECT_EQ(Probe(file), kind) << what;

    // The SVCD phase alone, and with a lent buffer too small.
    MemoryInputStream sv(svcd.data(), svcd.size());
    std::vector<uint8_t> small(100);
    EXPECT_EQ(std::tuple(ProbeMpeg2Pack(sv, 0), ProbeMpeg2Pack(sv, 0, small)), std::tuple(MK_SVCD, 0));
}

// Random buffers of many sizes, and of start-code-rich bytes, are neither transport, DirecTV, program stream nor
// elementary video, while transport packets at their start are still found.
TEST(ProbeRandomData, IsNeverTakenForAStructuredKind)
{
    const ByteVec ts = TsStream(188, 12);  // 2256 bytes
    for (const size_t size : std::initializer_list<size_t>{1, 1301, 2041, 2049, 117600, kProbeBufferSize + 50000})
        for (uint32_t seed = 1; seed <= 12; ++seed) {
            auto bytes = RandomBytes(size, seed * 1000003u + uint32_t(size));
            EXPECT_EQ(std::tuple(Probe(bytes), Probe(bytes, 0, MD_EXT_ALL),
                                 md::ProbeCdxa(bytes.data(), std::min<size_t>(size, kProbeBufferSize))),
                      std::tuple(0, 0, 0))
                << "size " << size << " seed " << seed;
            if (size >= ts.size()) {
                std::copy(ts.begin(), ts.end(), bytes.begin());
                EXPECT_EQ(Probe(bytes), MK_MPEG2_TRANSPORT) << "size " << size << " seed " << seed;
            }
        }
    // Bytes drawn mostly from {00, 01, BA, B3, E0, 47}: many start-code prefixes and sync bytes, no structure.
    static constexpr uint8_t kAlphabet[] = {0x00, 0x00, 0x00, 0x01, 0xBA, 0xB3, 0xE0, 0x47, 0xFF, 0x21};
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        auto bytes = RandomBytes(200000, seed);
        for (auto& b : bytes)
            b = kAlphabet[b % sizeof(kAlphabet)];
        for (const uint32_t extensions : {0u, uint32_t(MD_EXT_ALL)}) {
            const uint32_t kind = uint32_t(Probe(bytes, 0, extensions));
            EXPECT_TRUE(kind != MK_MPEG2_TRANSPORT && kind != MK_DIRECTV &&
                        (kind < MK_MPEG1_VIDEO_ES || kind > MK_MPEG4_VIDEO_ES) && kind < MK_H264_ES)
                << seed << ": " << kind;
        }
    }
    // The DirecTV test alone (top bits of bytes 130 apart) accepts most random data: the host's hint guards it.
    const auto bytes = RandomBytes(65536, 42);
    EXPECT_EQ(std::tuple(ProbeDirecTV(bytes.data(), bytes.size()), Probe(bytes)), std::tuple(MK_DIRECTV, 0));
}

}  // namespace
