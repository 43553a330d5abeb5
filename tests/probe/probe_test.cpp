// The container probe on synthetic streams: each test's length limits, marker bits and the kinds the pack scans
// tell apart.
#include "probe/probe.h"

#include <gtest/gtest.h>

#include "input/memory_input_stream.h"
#include "input/ms_file_input_stream.h"
#include "mediadetect/records.h"
#include "support/stream_builders.h"

namespace {

using namespace mdtest;
using md::MemoryInputStream;

int32_t Probe(const ByteVec& bytes, uint32_t hint = 0)
{
    MemoryInputStream s(bytes.data(), bytes.size());
    return ProbeMediaKind(&s, hint);
}

ByteVec Flip(ByteVec bytes, size_t at, uint8_t bits)
{
    bytes[at] ^= bits;
    return bytes;
}

const ByteVec kMpeg2Sequence = Concat({VideoSequenceHeader(720, 576, 2, 3), GopHeaderFlags(), PictureHeaderFields()});
const ByteVec kMpeg1Sequence =
    Concat({VideoSequenceHeader(352, 288, 12, 3, false), GopHeaderFlags(), PictureHeaderFields()});

TEST(Probe, TransportDirecTvAndCdxaBufferTests)
{
    EXPECT_EQ(ProbeMediaKind(nullptr, 0), 0);
    MSFileInputStream missing(L"/nonexistent/dir/file.mpg");
    EXPECT_EQ(ProbeMediaKind(&missing, 0), 0);
    // The buffer tests share one read of the first 512 KiB.
    const ByteVec big = TsStream(188, 4000);
    MemoryInputStream s(big.data(), big.size());
    EXPECT_EQ(ProbeMediaKind(&s, 0), MK_MPEG2_TRANSPORT);
    EXPECT_EQ(std::tuple(s.Reads(), s.BytesRead()), std::tuple(1u, size_t(kProbeBufferSize)));

    const ByteVec ts = TsStream(188, 40), dtv = DirecTvStream(40);
    ByteVec adapted = TsPacket(0x100, true, 0, PesPacket(0xE0, kMpeg2Sequence, 90000));  // adaptation field first
    ByteVec noStart, broken = ts;  // no packet starts a payload unit; every eighth packet loses its sync
    for (int k = 1; k < 40; ++k) {
        Append(adapted, TsPacket(0x100, false, uint8_t(k), ByteVec(184, 0xFF)));
        Append(noStart, TsPacket(0x1FFF, false, uint8_t(k), ByteVec(184, 0xFF)));
    }
    for (size_t i = 8 * 188; i < broken.size(); i += 8 * 188)
        broken[i] = 0x48;
    std::vector<ByteVec> vcd(10, ByteVec{}), svcd, pair(60, ByteVec{}), lonely(60, ByteVec{});  // empty sectors first
    for (int k = 0; k < 50; ++k)
        vcd.push_back(VcdPackSector(uint64_t(k) * 1200, 3528, k == 0 ? kMpeg1Sequence : ByteVec{}));
    for (int k = 0; k < 55; ++k)
        svcd.push_back(SvcdVideoSector(uint64_t(k) * 1200, k == 0 ? kMpeg2Sequence : ByteVec{}));
    pair[0] = pair[5] = pair[6] = lonely[0] = lonely[2] = VcdPackSector(0);  // a pack must start the next sector
    const ByteVec cdxa = CdxaFile(std::vector<ByteVec>(50, VcdPackSector(0)));
    const ByteVec fast = CdxaFile(std::vector<ByteVec>(50, VcdPackSector(0, 3529)));
    const auto t = [](const ByteVec& b, size_t n = SIZE_MAX) { return ProbeTransport(b.data(), std::min(n, b.size())); };
    const auto d = [](const ByteVec& b, size_t n = SIZE_MAX) { return ProbeDirecTV(b.data(), std::min(n, b.size())); };
    const auto c = [](const ByteVec& b, size_t n = SIZE_MAX) { return md::ProbeCdxa(b.data(), std::min(n, b.size())); };
    const std::tuple<const char*, int32_t, int32_t> cases[] = {
        {"188", Probe(TsStream(188, 60)), MK_MPEG2_TRANSPORT},
        {"192, sync at byte 4", Probe(TsStream(192, 60)), MK_MPEG2_TRANSPORT},
        {"204 with the DirecTV hint: transport is tested first", Probe(TsStream(204, 60), MK_DIRECTV),
         MK_MPEG2_TRANSPORT},
        {"2040 bytes", t(ts, 2040), 0},
        {"2041 bytes", t(ts, 2041), MK_MPEG2_TRANSPORT},
        {"no buffer", ProbeTransport(nullptr, 5000), 0},
        {"adaptation field before the PES", t(adapted), MK_MPEG2_TRANSPORT},
        {"no payload unit start", t(noStart), 0},
        {"seven following syncs", t(broken), 0},
        {"DirecTV with its hint", Probe(dtv, MK_DIRECTV), MK_DIRECTV},
        {"DirecTV without", Probe(dtv), 0},
        {"DirecTV 1300 bytes", d(dtv, 1300), 0},
        {"DirecTV 1301 bytes", d(dtv, 1301), MK_DIRECTV},
        {"DirecTV from packet 1: the first framing bit clear", ProbeDirecTV(dtv.data() + 130, dtv.size() - 130),
         MK_DIRECTV},
        {"constant top bit 1", d(ByteVec(5000, 0x80)), 0},
        {"VCD sectors", Probe(CdxaFile(vcd)), MK_VCD},
        {"SVCD sectors", Probe(CdxaFile(svcd)), MK_SVCD},
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
    const ByteVec vcdFile = CdxaFile(vcd);
    MemoryInputStream v(vcdFile.data(), vcdFile.size());
    EXPECT_EQ(ProbeMediaKind(&v, 0), MK_VCD);
    EXPECT_EQ(v.Reads(), 1u);  // never tested for packs
}

TEST(Probe, Mp4FtypAndTheBoxWalk)
{
    const auto atoms = [](const ByteVec& bytes) {
        MemoryInputStream s(bytes.data(), bytes.size());
        return ProbeMp4Atoms(s);
    };
    const ByteVec zeroMdat = Flip(Mp4Box("mdat", ByteVec(100, 0x22)), 3, 108);  // size 0: to the end of the file
    const ByteVec zeroFree = Flip(Mp4Box("free", ByteVec(10, 0)), 3, 18);
    // largesize 2^64 - 16: the running sum would pass the largest file position.
    ByteVec huge = Mp4Box("moov", ByteVec(8, 0), true);
    std::fill(huge.begin() + 8, huge.begin() + 16, 0xFF);
    huge[15] = 0xF0;
    Append(huge, Mp4Box("mdat", ByteVec(8, 0)));
    ByteVec tiny;
    for (int i = 0; i < 1000; ++i)
        Append(tiny, ByteVec{0x00, 0x00, 0x00, 0x04});
    ByteVec payload(3000, 0x11);  // with a pack header inside
    const ByteVec pack = Mpeg2PackHeader(0, 25200);
    std::copy(pack.begin(), pack.end(), payload.begin() + 1000);
    // 00 00 01 BA "ftyp": byte 4 reads as an MPEG-2 pack with wrong marker bits.
    ByteVec packFirst = {0x00, 0x00, 0x01, 0xBA, 'f', 't', 'y', 'p'};
    packFirst.resize(4000, 0);
    const ByteVec smallMoov = Concat({Mp4Ftyp(), Mp4Box("moov", ByteVec(200, 0)), Mp4Box("mdat", ByteVec(500, 0))});
    const ByteVec smallNoMoov = Concat({Mp4Ftyp(), Mp4Box("free", ByteVec(16, 0)), Mp4Box("mdat", ByteVec(1000, 0))});
    // {what, file, kind, atoms}; -1: not checked. Up to 2048 bytes the box walk decides; above, 'ftyp' at byte 4.
    const std::tuple<const char*, ByteVec, int32_t, int32_t> cases[] = {
        {"small, moov and mdat", smallMoov, MK_MP4, 14},
        {"small, ftyp without moov", smallNoMoov, 0, -1},
        {"ftyp alone", Concat({Mp4Ftyp(), Mp4Box("mdat", ByteVec(3000, 0x11))}), MK_MP4, 0},
        {"ftyp, then a pack header", Concat({Mp4Ftyp(), Mp4Box("mdat", payload)}), MK_MP4, -1},
        {"pack header at byte 0", packFirst, 0, -1},
        {"mdat and moov without ftyp", Concat({Mp4Box("mdat", ByteVec(5000, 0x22)), Mp4Box("moov", ByteVec(100, 0))}),
         MK_MP4, -1},
        {"large-size box",
         Concat({Mp4Box("free", ByteVec(10, 0)), Mp4Box("mdat", ByteVec(3000, 0x22), true),
                 Mp4Box("moov", ByteVec(50, 0))}),
         -1, 14},
        {"size 0 last: its type counts", Concat({Mp4Box("moov", ByteVec(50, 0)), zeroMdat}), -1, 14},
        {"size 0 first", Concat({zeroFree, Mp4Box("moov", ByteVec(50, 0)), Mp4Box("mdat", ByteVec(50, 0))}), -1, 0},
        {"huge size", huge, -1, 0},
        {"tiny boxes to the end", tiny, -1, 0},
    };
    for (const auto& [what, file, kind, count] : cases) {
        EXPECT_EQ(kind < 0 ? -1 : Probe(file), kind) << what;
        EXPECT_EQ(count < 0 ? -1 : atoms(file), count) << what;
    }
    MemoryInputStream s(huge.data(), huge.size());
    ProbeMp4Atoms(s);
    EXPECT_LE(s.Reads(), 2u);
}

ByteVec Mpeg1File(uint64_t scr, uint32_t muxRate, size_t packs = 4)
{
    ByteVec file;
    for (size_t k = 0; k < packs; ++k)
        Append(file, Mpeg1Pack(scr + k * 1000, {Mpeg1PesPacket(0xE0, k == 0 ? kMpeg1Sequence : ByteVec{1, 2, 3})}, 2324,
                               muxRate));
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
    Append(file, SvcdAudioSector(100));
    Append(file, SvcdVideoSector(200, sequence));
    for (size_t k = 3; k < 24; ++k)
        Append(file, k % 3 == 0 ? SvcdAudioSector(k * 100) : SvcdVideoSector(k * 100));
    return file;
}

TEST(Probe, PackKinds)
{
    const ByteVec vcd = Mpeg1File(0, 3528);
    const ByteVec seq = DvdVideoPack(100, kMpeg2Sequence, 90000), filler = VideoPacks(3, 1000);
    const ByteVec good = Concat({DvdNavPack(0), seq});
    const auto pes = [](const ByteVec& es) { return Concat({DvdVideoPack(0, es), VideoPacks(3, 1000)}); };
    // A video packet starting 200 bytes before the end of the first 10240-byte read: its header lies after it.
    ByteVec head = Mpeg2PackHeader(0, 25200);
    Append(head, DvdNavPciPacket());
    Append(head, PaddingPacket(10040 - head.size()));
    const auto split = [&](const ByteVec& unit) {
        return Concat({head, PesPacket(0xE0, Concat({ByteVec(400, 0xFF), unit})), filler});
    };
    ByteVec svcdNav = SvcdFile(VideoSequenceHeader(720, 576, 2, 3));
    const ByteVec nav = Mpeg2Pack(0, {DvdNavPciPacket()}, 2324, 6972);
    std::copy(nav.begin(), nav.end(), svcdNav.begin());
    ByteVec sectors;  // SVCD sectors without a sequence header
    for (size_t k = 0; k < 16; ++k)
        Append(sectors, k % 2 ? SvcdAudioSector(k * 100) : SvcdVideoSector(k * 100));
    const ByteVec svcd = SvcdFile(VideoSequenceHeader(480, 576, 2, 3));
    // A sequence-header start code in the last four bytes of sector 2 is found first; its fields are the next
    // sector's pack start code: not an SVCD size.
    ByteVec edge = SvcdFile(Concat({ByteVec(2301 - 4, 0xFF), ByteVec{0, 0, 1, 0xB3}}));
    const ByteVec later = SvcdVideoSector(400, VideoSequenceHeader(480, 576, 2, 3));
    std::copy(later.begin(), later.end(), edge.begin() + 4 * 2324);
    ByteVec one = Mpeg1File(0, 3528, 1);
    one.resize(2048);
    const std::tuple<const char*, ByteVec, int32_t> cases[] = {
        // MPEG-1: VCD with a mux rate up to 3528 and a clock below 2^22.
        {"VCD", vcd, MK_VCD},
        {"clock 2^22 - 1", Mpeg1File((1u << 22) - 1001, 1000), MK_VCD},
        {"mux rate 3529", Mpeg1File(0, 3529), MK_MPEG1_SYSTEM},
        {"clock 2^22", Mpeg1File(1u << 22, 1000), MK_MPEG1_SYSTEM},
        {"MPEG-1 marker in byte 6", Flip(vcd, 6, 1), 0},
        {"2048 bytes", one, 0},
        {"2049 bytes", Concat({one, ByteVec{0}}), MK_VCD},
        // MPEG-2: the packet scan.
        {"plain", Concat({seq, filler}), MK_MPEG2_PROGRAM},
        {"navigation packet before the sequence header", Concat({good, filler}), MK_DVD_VIDEO},
        {"DVD-VR data packet before it", Concat({DvdVrRdiPack(0), seq, filler}), MK_DVD_VR},
        {"the later private stream 2 counts", Concat({DvdNavPack(0), DvdVrRdiPack(50), seq, filler}), MK_DVD_VR},
        {"... either way", Concat({DvdVrRdiPack(0), DvdNavPack(50), seq, filler}), MK_DVD_VIDEO},
        {"navigation after the sequence header", Concat({seq, DvdNavPack(200), filler}), MK_MPEG2_PROGRAM},
        {"private stream 2 of another length", Concat({Mpeg2Pack(0, {PrivateStream2Packet(900, 0)}), seq, filler}),
         MK_MPEG2_PROGRAM},
        {"private stream 2 of another sub-stream", Concat({Mpeg2Pack(0, {PrivateStream2Packet(980, 1)}), seq, filler}),
         MK_MPEG2_PROGRAM},
        {"no sequence header: scanned to the end", Concat({DvdNavPack(0), VideoPacks(30, 1000)}), MK_DVD_VIDEO},
        {"no sequence header, no navigation", VideoPacks(30, 0), MK_MPEG2_PROGRAM},
        {"VOP", pes(Mpeg4IVop()), MK_MPEG2_PROGRAM_MPEG4},
        {"VOS, video object", pes(Concat({Mpeg4VisualObjectSequence(), Mpeg4VideoObject()})), MK_MPEG2_PROGRAM_MPEG4},
        {"group of VOP", pes(Concat({Mpeg4GroupOfVop(), Mpeg4IVop()})), MK_MPEG2_PROGRAM_MPEG4},
        {"VOS, visual object: none of the shapes", pes(Concat({Mpeg4VisualObjectSequence(), Mpeg4VisualObject()})),
         MK_MPEG2_PROGRAM},
        {"sequence header after the first read", split(kMpeg2Sequence), MK_DVD_VIDEO},
        {"VOP after the first read", split(Mpeg4IVop()), MK_MPEG2_PROGRAM_MPEG4},
        {"MPEG-2 marker in byte 4", Flip(good, 4, 0x04), 0},
        {"MPEG-2 marker in byte 9", Flip(good, 9, 0x01), 0},
        // SVCD: 480 or 704 wide, 576 lines at 25 Hz or 480 at 29.97 Hz.
        {"SVCD 480x576", svcd, MK_SVCD},
        {"SVCD 704x480", SvcdFile(VideoSequenceHeader(704, 480, 2, 4)), MK_SVCD},
        {"720x576", SvcdFile(VideoSequenceHeader(720, 576, 2, 3)), MK_MPEG2_PROGRAM},
        {"480x576 at 29.97", SvcdFile(VideoSequenceHeader(480, 576, 2, 4)), MK_MPEG2_PROGRAM},
        {"480x480 at 25", SvcdFile(VideoSequenceHeader(480, 480, 2, 3)), MK_MPEG2_PROGRAM},
        {"another picture, navigation in sector 0", svcdNav, MK_DVD_VIDEO},
        {"two groups of 8 sectors", sectors, MK_SVCD},
        {"a start code at the end of a sector decides", edge, MK_MPEG2_PROGRAM},
        {"... the SVCD header after it alone", Flip(edge, 3 * 2324 - 1, 0xB3), MK_SVCD},
        {"one sector short", ByteVec(sectors.begin(), sectors.begin() + 15 * 2324), MK_MPEG2_PROGRAM},
        {"a sector without a pack header", Flip(svcd, 2324 + 3, 0xBA ^ 0xBB), MK_MPEG2_PROGRAM},
    };
    for (const auto& [what, file, kind] : cases)
        EXPECT_EQ(Probe(file), kind) << what;

    // The pack tests read at the position they are given, and alone with a lent buffer too small.
    ByteVec shifted(777, 0x55);
    Append(shifted, vcd);
    MemoryInputStream s(shifted.data(), shifted.size());
    EXPECT_EQ(std::tuple(ProbeMpeg1Pack(s, 777), ProbeMpeg1Pack(s, 0), ProbeMediaKind(&s, 0)),
              std::tuple(MK_VCD, MK_MPEG1_SYSTEM, MK_VCD));
    MemoryInputStream sv(svcd.data(), svcd.size());
    std::vector<uint8_t> small(100);
    EXPECT_EQ(std::tuple(ProbeMpeg2Pack(sv, 0), ProbeMpeg2Pack(sv, 0, small)), std::tuple(MK_SVCD, 0));

    // A 20 MB DVD-like stream: the packet scan stops at the first sequence header.
    ByteVec big = good;
    const ByteVec pack = VideoPacks(1, 2000);
    while (big.size() < 20u * 1024 * 1024)
        Append(big, pack);
    MemoryInputStream b(big.data(), big.size());
    EXPECT_EQ(ProbeMediaKind(&b, 0), MK_DVD_VIDEO);
    // 512 KiB first read, two 16-byte box headers, 16 bytes of the EBML test, 18592 bytes of the SVCD phase and
    // one 10240-byte read of the packet scan.
    EXPECT_EQ(b.BytesRead(), kProbeBufferSize + 3 * 16 + kSvcdGroupSize + 10240);
}

}  // namespace
