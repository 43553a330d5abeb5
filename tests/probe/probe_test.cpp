// The container probe, test by test, on synthetic streams.
#include "probe/probe.h"

#include <gtest/gtest.h>

#include <vector>

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

int32_t Atoms(const ByteVec& bytes)
{
    MemoryInputStream s(bytes.data(), bytes.size());
    return ProbeMp4Atoms(s);
}

const ByteVec kMpeg2Sequence = Concat({VideoSequenceHeader(720, 576, 2, 3), GopHeaderFlags(), PictureHeaderFields()});
const ByteVec kMpeg1Sequence = Concat({VideoSequenceHeader(352, 288, 12, 3, false), GopHeaderFlags(), PictureHeaderFields()});

TEST(ProbeMediaKind, NullEmptyUnopenedAndOneBufferRead)
{
    EXPECT_EQ(ProbeMediaKind(nullptr, 0), 0);
    EXPECT_EQ(Probe({}), 0);
    MSFileInputStream missing(L"/nonexistent/dir/file.mpg");
    EXPECT_EQ(ProbeMediaKind(&missing, 0), 0);
    // The buffer tests share one read of the first 512 KiB.
    const ByteVec ts = TsStream(188, 4000);  // 752000 bytes
    MemoryInputStream s(ts.data(), ts.size());
    EXPECT_EQ(ProbeMediaKind(&s, 0), MK_MPEG2_TRANSPORT);
    EXPECT_EQ(s.Reads(), 1u);
    EXPECT_EQ(s.BytesRead(), kProbeBufferSize);
}

TEST(ProbeTransport, PacketSizesAndLimits)
{
    for (size_t size : {188u, 192u, 204u}) {
        const ByteVec ts = TsStream(size, 60);
        EXPECT_EQ(ProbeTransport(ts.data(), ts.size()), MK_MPEG2_TRANSPORT) << size;
        EXPECT_EQ(Probe(ts), MK_MPEG2_TRANSPORT) << size;
        EXPECT_EQ(Probe(ts, MK_DIRECTV), MK_MPEG2_TRANSPORT) << size;  // transport is tested first
    }
    // 192-byte packets: the first sync is at the prefix offset.
    const ByteVec m2ts = TsStream(192, 60);
    ASSERT_NE(m2ts[0], 0x47);
    ASSERT_EQ(m2ts[4], 0x47);

    // More than 2040 bytes are needed.
    const ByteVec ts = TsStream(188, 20);
    EXPECT_EQ(ProbeTransport(ts.data(), 2040), 0);
    EXPECT_EQ(ProbeTransport(ts.data(), 2041), MK_MPEG2_TRANSPORT);  // i = 0 only
    EXPECT_EQ(ProbeTransport(nullptr, 5000), 0);

    // Only video packets; the first one starts a PES after an adaptation field.
    const ByteVec pes = PesPacket(0xE0, kMpeg2Sequence, 90000);
    ASSERT_LT(pes.size(), 184u);
    ByteVec adapted = TsPacket(0x100, true, 0, pes);
    ASSERT_EQ(adapted[3] & 0x30, 0x30);  // adaptation_field_control 3
    ByteVec noStart;  // no packet starts a payload unit
    for (int k = 1; k < 40; ++k) {
        Append(adapted, TsPacket(0x100, false, uint8_t(k), ByteVec(184, 0xFF)));
        Append(noStart, TsPacket(0x1FFF, false, uint8_t(k), ByteVec(184, 0xFF)));
    }
    EXPECT_EQ(ProbeTransport(adapted.data(), adapted.size()), MK_MPEG2_TRANSPORT);
    EXPECT_EQ(ProbeTransport(noStart.data(), noStart.size()), 0);

    // Seven following sync bytes are not enough: every eighth packet loses its sync.
    ByteVec broken = TsStream(188, 40);
    for (size_t i = 8 * 188; i < broken.size(); i += 8 * 188)
        broken[i] = 0x48;
    EXPECT_EQ(ProbeTransport(broken.data(), broken.size()), 0);

    // A program stream carried in transport packets is transport.
    const ByteVec ps = Concat({DvdNavPack(0), DvdVideoPack(100, kMpeg2Sequence)});
    ByteVec carried;
    for (size_t off = 0, k = 0; off < ps.size(); off += 184, ++k) {
        const size_t n = std::min<size_t>(184, ps.size() - off);
        Append(carried, TsPacket(0x200, k == 0, uint8_t(k), std::span(ps).subspan(off, n)));
    }
    EXPECT_EQ(Probe(carried), MK_MPEG2_TRANSPORT);
}

TEST(ProbeDirecTV, OnlyWithTheHintAndBothFramingPhases)
{
    const ByteVec dtv = DirecTvStream(40);
    EXPECT_EQ(Probe(dtv, MK_DIRECTV), MK_DIRECTV);
    EXPECT_EQ(Probe(dtv, 0), 0);
    EXPECT_EQ(Probe(dtv, MK_MPEG2_TRANSPORT), 0);
    EXPECT_EQ(ProbeDirecTV(dtv.data(), 1300), 0);  // more than 1300 bytes are needed
    EXPECT_EQ(ProbeDirecTV(dtv.data(), 1301), MK_DIRECTV);
    // From packet 1 on, the first framing bit is clear.
    EXPECT_EQ(ProbeDirecTV(dtv.data() + 130, dtv.size() - 130), MK_DIRECTV);
    // A constant top bit does not alternate.
    for (uint8_t fill : {0x80, 0x00}) {
        const ByteVec constant(5000, fill);
        EXPECT_EQ(ProbeDirecTV(constant.data(), constant.size()), 0) << int(fill);
    }
}

TEST(ProbeCdxa, VcdAndSvcdSectors)
{
    auto cdxa = [](const ByteVec& file) { return md::ProbeCdxa(file.data(), file.size()); };
    std::vector<ByteVec> sectors(10, ByteVec{});  // leading empty sectors are skipped
    for (int k = 0; k < 50; ++k)
        sectors.push_back(VcdPackSector(uint64_t(k) * 1200, 3528, k == 0 ? kMpeg1Sequence : ByteVec{}));
    const ByteVec vcd = CdxaFile(sectors);
    ASSERT_EQ(vcd.size(), 44u + 60 * 2352);
    EXPECT_EQ(cdxa(vcd), MK_VCD);
    MemoryInputStream s(vcd.data(), vcd.size());
    EXPECT_EQ(ProbeMediaKind(&s, 0), MK_VCD);
    EXPECT_EQ(s.Reads(), 1u);  // never tested for packs

    sectors.clear();
    for (int k = 0; k < 55; ++k)
        sectors.push_back(SvcdVideoSector(uint64_t(k) * 1200, k == 0 ? kMpeg2Sequence : ByteVec{}));
    EXPECT_EQ(Probe(CdxaFile(sectors)), MK_SVCD);

    // MPEG-1 above the VCD mux rate is not CDXA; the driver then finds the pack
    // at byte 68: MPEG-1, clock near zero, but the mux rate is above 3528.
    const ByteVec fast = CdxaFile(std::vector<ByteVec>(50, VcdPackSector(0, 3529)));
    EXPECT_EQ(cdxa(fast), 0);
    EXPECT_EQ(Probe(fast), MK_MPEG1_SYSTEM);

    // Fifty raw sectors and the RIFF fields are needed.
    const ByteVec file = CdxaFile(std::vector<ByteVec>(50, VcdPackSector(0)));
    EXPECT_EQ(md::ProbeCdxa(file.data(), 117599), 0);
    EXPECT_EQ(md::ProbeCdxa(file.data(), 117600), MK_VCD);
    for (size_t field : {0u, 8u, 36u}) {
        ByteVec broken = file;
        broken[field] ^= 0x20;
        EXPECT_EQ(cdxa(broken), 0) << field;
    }

    // A pack must also start the next sector.
    std::vector<ByteVec> pair(60, ByteVec{}), lonely(60, ByteVec{});
    pair[0] = pair[5] = pair[6] = VcdPackSector(0);  // sector 0 alone: no pack in sector 1
    lonely[0] = lonely[2] = VcdPackSector(0);
    EXPECT_EQ(cdxa(CdxaFile(pair)), MK_VCD);
    EXPECT_EQ(cdxa(CdxaFile(lonely)), 0);
}

TEST(ProbeMp4, FtypAndTheBoxWalk)
{
    ByteVec zeroMdat = Mp4Box("mdat", ByteVec(100, 0x22));
    zeroMdat[0] = zeroMdat[1] = zeroMdat[2] = zeroMdat[3] = 0;  // "to the end of the file"
    ByteVec zeroFree = Mp4Box("free", ByteVec(10, 0));
    zeroFree[3] = 0;
    // largesize 2^64 - 16: the running sum would pass the largest file position,
    // so the walk ends instead of reading on from the old position.
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
    // 00 00 01 BA "ftyp": byte 4 ('f') reads as an MPEG-2 pack whose marker bits
    // are wrong, so the file is unknown rather than MP4.
    ByteVec packFirst = {0x00, 0x00, 0x01, 0xBA, 'f', 't', 'y', 'p'};
    packFirst.resize(4000, 0);

    const struct {
        const char* what;
        ByteVec file;
        int32_t kind, atoms;  // atoms -1: not checked
    } cases[] = {
        // At most 2048 bytes: the box walk decides.
        {"small, moov and mdat", Concat({Mp4Ftyp(), Mp4Box("moov", ByteVec(200, 0)), Mp4Box("mdat", ByteVec(500, 0))}),
         MK_MP4, 14},
        {"small, ftyp without moov",
         Concat({Mp4Ftyp(), Mp4Box("free", ByteVec(16, 0)), Mp4Box("mdat", ByteVec(1000, 0))}), 0, -1},
        // Above 2048 bytes 'ftyp' at byte 4 is enough, and wins over a later pack header.
        {"ftyp alone", Concat({Mp4Ftyp(), Mp4Box("mdat", ByteVec(3000, 0x11))}), MK_MP4, 0},
        {"ftyp, then a pack header", Concat({Mp4Ftyp(), Mp4Box("mdat", payload)}), MK_MP4, -1},
        {"pack header at byte 0", packFirst, 0, -1},
        {"mdat and moov without ftyp", Concat({Mp4Box("mdat", ByteVec(5000, 0x22)), Mp4Box("moov", ByteVec(100, 0))}),
         MK_MP4, -1},
        {"large-size box", Concat({Mp4Box("free", ByteVec(10, 0)), Mp4Box("mdat", ByteVec(3000, 0x22), true),
                                   Mp4Box("moov", ByteVec(50, 0))}),
         -1, 14},
        // Size 0 ends the walk after its type counts.
        {"size 0 last", Concat({Mp4Box("moov", ByteVec(50, 0)), zeroMdat}), -1, 14},
        {"size 0 first", Concat({zeroFree, Mp4Box("moov", ByteVec(50, 0)), Mp4Box("mdat", ByteVec(50, 0))}), -1, 0},
        {"huge size", huge, -1, 0},
        {"tiny boxes to the end", tiny, -1, 0},
    };
    ASSERT_LE(cases[0].file.size(), 2048u);
    ASSERT_LE(cases[1].file.size(), 2048u);
    for (const auto& c : cases) {
        if (c.kind >= 0) {
            EXPECT_EQ(Probe(c.file), c.kind) << c.what;
        }
        if (c.atoms >= 0) {
            EXPECT_EQ(Atoms(c.file), c.atoms) << c.what;
        }
    }
    MemoryInputStream s(huge.data(), huge.size());
    ProbeMp4Atoms(s);
    EXPECT_LE(s.Reads(), 2u);
}

ByteVec Mpeg1File(uint64_t scr, uint32_t muxRate, size_t packs = 4)
{
    ByteVec file;
    for (size_t k = 0; k < packs; ++k)
        Append(file, Mpeg1Pack(scr + k * 1000, {Mpeg1PesPacket(0xE0, k == 0 ? kMpeg1Sequence : ByteVec{1, 2, 3})},
                               2324, muxRate));
    return file;
}

TEST(ProbeMpeg1Pack, VcdParametersMarkersAndLength)
{
    // VCD: mux rate at most 3528 and a clock below 2^22.
    const struct {
        uint64_t scr;
        uint32_t muxRate;
        int32_t kind;
    } cases[] = {
        {0, 3528, MK_VCD},
        {(1u << 22) - 1001, 1000, MK_VCD},
        {0, 3529, MK_MPEG1_SYSTEM},
        {1u << 22, 1000, MK_MPEG1_SYSTEM},
        {90000ull * 3600, 3528, MK_MPEG1_SYSTEM},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Probe(Mpeg1File(c.scr, c.muxRate)), c.kind) << c.scr << " " << c.muxRate;

    // The pack test reads at the pack position it is given.
    ByteVec file(777, 0x55);
    Append(file, Mpeg1File(0, 3528));
    MemoryInputStream s(file.data(), file.size());
    EXPECT_EQ(ProbeMpeg1Pack(s, 777), MK_VCD);
    EXPECT_EQ(ProbeMpeg1Pack(s, 0), MK_MPEG1_SYSTEM);
    EXPECT_EQ(ProbeMediaKind(&s, 0), MK_VCD);

    for (size_t byte : {4u, 6u, 8u}) {
        ByteVec bad = Mpeg1File(0, 3528);
        bad[byte] &= 0xFE;
        EXPECT_EQ(Probe(bad), 0) << "marker in byte " << byte;
    }
    // More than 2048 bytes are needed.
    ByteVec one = Mpeg1File(0, 3528, 1);
    one.resize(2048);
    EXPECT_EQ(Probe(one), 0);
    one.push_back(0);
    EXPECT_EQ(Probe(one), MK_VCD);
}

ByteVec VideoPacks(size_t count, uint64_t scr)
{
    ByteVec out;
    for (size_t k = 0; k < count; ++k)
        Append(out, DvdVideoPack(scr + k * 300, ByteVec(100, 0xFF)));
    return out;
}

TEST(ProbeMpeg2Pack, PacketScanKinds)
{
    const ByteVec seq = DvdVideoPack(100, kMpeg2Sequence, 90000);
    const ByteVec filler = VideoPacks(3, 1000);
    const ByteVec otherLength = Mpeg2Pack(0, {PrivateStream2Packet(900, 0x00)});
    const ByteVec otherSub = Mpeg2Pack(0, {PrivateStream2Packet(980, 0x01)});
    const struct {
        const char* what;
        ByteVec stream;
        int32_t kind;
    } cases[] = {
        {"plain", Concat({seq, filler}), MK_MPEG2_PROGRAM},
        {"navigation packet before the sequence header", Concat({DvdNavPack(0), seq, filler}), MK_DVD_VIDEO},
        {"DVD-VR data packet before it", Concat({DvdVrRdiPack(0), seq, filler}), MK_DVD_VR},
        {"the later private stream 2 packet counts", Concat({DvdNavPack(0), DvdVrRdiPack(50), seq, filler}),
         MK_DVD_VR},
        {"... either way", Concat({DvdVrRdiPack(0), DvdNavPack(50), seq, filler}), MK_DVD_VIDEO},
        {"navigation after the sequence header", Concat({seq, DvdNavPack(200), filler}), MK_MPEG2_PROGRAM},
        {"private stream 2 of another length", Concat({otherLength, seq, filler}), MK_MPEG2_PROGRAM},
        {"private stream 2 of another sub-stream", Concat({otherSub, seq, filler}), MK_MPEG2_PROGRAM},
        {"no sequence header: scanned to the end", Concat({DvdNavPack(0), VideoPacks(30, 1000)}), MK_DVD_VIDEO},
        {"no sequence header, no navigation", VideoPacks(30, 0), MK_MPEG2_PROGRAM},
        // MPEG-4 Visual: VOS, VO, VOL, then a group of VOP (B3 and a start code
        // three bytes later) before the first VOP.
        {"MPEG-4 stream", Concat({DvdNavPack(0), DvdVideoPack(100, Mpeg4VisualStream(352, 288), 90000), filler}),
         MK_MPEG2_PROGRAM_MPEG4},
        {"VOP", Concat({DvdVideoPack(0, Mpeg4IVop()), filler}), MK_MPEG2_PROGRAM_MPEG4},
        {"VOS, then a video object",
         Concat({DvdVideoPack(0, Concat({Mpeg4VisualObjectSequence(), Mpeg4VideoObject()})), filler}),
         MK_MPEG2_PROGRAM_MPEG4},
        {"VOS, then user data",
         Concat({DvdVideoPack(0, Concat({Mpeg4VisualObjectSequence(), ByteVec{0, 0, 1, 0xB2, 'x'}})), filler}),
         MK_MPEG2_PROGRAM_MPEG4},
        {"group of VOP", Concat({DvdVideoPack(0, Concat({Mpeg4GroupOfVop(), Mpeg4IVop()})), filler}),
         MK_MPEG2_PROGRAM_MPEG4},
        {"VOS, then a visual object: not one of the shapes",
         Concat({DvdVideoPack(0, Concat({Mpeg4VisualObjectSequence(), Mpeg4VisualObject()})), filler}),
         MK_MPEG2_PROGRAM},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Probe(c.stream), c.kind) << c.what;

    // A video packet that starts 200 bytes before the end of the first
    // 10240-byte read and carries its sequence header (or a VOP) after that
    // boundary is finished after the next read.
    ByteVec head = Mpeg2PackHeader(0, 25200);
    Append(head, DvdNavPciPacket());
    Append(head, PaddingPacket(10040 - head.size()));
    ASSERT_EQ(head.size(), 10040u);
    const std::pair<ByteVec, int32_t> split[] = {{kMpeg2Sequence, MK_DVD_VIDEO}, {Mpeg4IVop(), MK_MPEG2_PROGRAM_MPEG4}};
    for (const auto& [unit, kind] : split)
        EXPECT_EQ(Probe(Concat({head, PesPacket(0xE0, Concat({ByteVec(400, 0xFF), unit})), filler})), kind);

    const ByteVec good = Concat({DvdNavPack(0), seq});
    const std::pair<size_t, uint8_t> markers[] = {{4, 0x04}, {6, 0x04}, {8, 0x04}, {9, 0x01}};
    for (auto [byte, bit] : markers) {
        ByteVec bad = good;
        bad[byte] &= uint8_t(~bit);
        EXPECT_EQ(Probe(bad), 0) << "marker in byte " << byte;
    }

    // A 20 MB DVD-like stream: the packet scan stops at the first sequence header.
    ByteVec big = good;
    const ByteVec pack = VideoPacks(1, 2000);
    while (big.size() < 20u * 1024 * 1024)
        Append(big, pack);
    MemoryInputStream s(big.data(), big.size());
    EXPECT_EQ(ProbeMediaKind(&s, 0), MK_DVD_VIDEO);
    // 512 KiB first read, two 16-byte box headers (0x1BA, then zeros), the 16
    // bytes of the EBML header test, 18592 bytes of the SVCD phase, one
    // 10240-byte read of the packet scan.
    EXPECT_EQ(s.BytesRead(), kProbeBufferSize + 3 * 16 + kSvcdGroupSize + 10240);
}

ByteVec SvcdFile(const ByteVec& sequence, size_t sectors = 24)
{
    // Sector 0: pack, system header (not video at byte 14); sector 1: audio;
    // sector 2: video with the sequence header; then video and audio sectors.
    ByteVec file = Mpeg2Pack(0, {SystemHeader(6972, 1, 1, {{0xE0, true, 230}, {0xC0, false, 32}})}, 2324, 6972);
    Append(file, SvcdAudioSector(100));
    Append(file, SvcdVideoSector(200, sequence));
    for (size_t k = 3; k < sectors; ++k)
        Append(file, k % 3 == 0 ? SvcdAudioSector(k * 100) : SvcdVideoSector(k * 100));
    return file;
}

TEST(ProbeMpeg2Pack, SvcdSectorPhase)
{
    // SVCD picture sizes: 480 or 704 wide, 576 lines at 25 Hz or 480 at 29.97 Hz.
    const uint32_t sizes[][4] = {
        {480, 576, 3, MK_SVCD}, {704, 576, 3, MK_SVCD}, {480, 480, 4, MK_SVCD}, {704, 480, 4, MK_SVCD},
        {720, 576, 3, MK_MPEG2_PROGRAM}, {480, 576, 4, MK_MPEG2_PROGRAM}, {480, 480, 3, MK_MPEG2_PROGRAM},
    };
    for (const auto& z : sizes)
        EXPECT_EQ(Probe(SvcdFile(VideoSequenceHeader(z[0], z[1], 2, uint8_t(z[2])))), int32_t(z[3]))
            << z[0] << "x" << z[1] << " rate " << z[2];

    // Another picture with a DVD navigation packet in the first sector: the packet scan says 6.
    ByteVec file = SvcdFile(VideoSequenceHeader(720, 576, 2, 3));
    const ByteVec nav = Mpeg2Pack(0, {DvdNavPciPacket()}, 2324, 6972);
    std::copy(nav.begin(), nav.end(), file.begin());
    EXPECT_EQ(Probe(file), MK_DVD_VIDEO);

    // SVCD sectors to the end without a sequence header: exactly two groups of
    // 8 sectors are SVCD; one sector short, the short read ends the phase.
    ByteVec sectors;
    for (size_t k = 0; k < 16; ++k)
        Append(sectors, k % 2 ? SvcdAudioSector(k * 100) : SvcdVideoSector(k * 100));
    EXPECT_EQ(Probe(sectors), MK_SVCD);
    sectors.resize(15 * 2324);
    EXPECT_EQ(Probe(sectors), MK_MPEG2_PROGRAM);

    // A sector without a pack header ends the phase.
    file = SvcdFile(VideoSequenceHeader(480, 576, 2, 3));
    file[1 * 2324 + 3] = 0xBB;
    EXPECT_EQ(Probe(file), MK_MPEG2_PROGRAM);

    // Called alone, with its own scratch buffer or a lent one that is too small.
    file[1 * 2324 + 3] = 0xBA;
    MemoryInputStream s(file.data(), file.size());
    EXPECT_EQ(ProbeMpeg2Pack(s, 0), MK_SVCD);
    std::vector<uint8_t> small(100);
    EXPECT_EQ(ProbeMpeg2Pack(s, 0, small), 0);
}

}  // namespace
