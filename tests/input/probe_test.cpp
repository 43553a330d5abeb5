// The container probe, test by test, on synthetic streams.
#include "input/probe.h"

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

const ByteVec kMpeg2Sequence = Concat({VideoSequenceHeader(720, 576, 2, 3), GopHeader(), IPictureHeader()});
const ByteVec kMpeg1Sequence = Concat({VideoSequenceHeader(352, 288, 12, 3, false), GopHeader(), IPictureHeader()});

// ---- Driver ------------------------------------------------------------------------

TEST(ProbeMediaKind, NullEmptyAndUnopenedStreamsAreUnknown)
{
    EXPECT_EQ(ProbeMediaKind(nullptr, 0), 0);
    EXPECT_EQ(Probe({}), 0);
    MSFileInputStream missing(L"/nonexistent/dir/file.mpg");
    EXPECT_EQ(ProbeMediaKind(&missing, 0), 0);
}

TEST(ProbeMediaKind, ReadsTheFirst512KiBOnceForBufferTests)
{
    const ByteVec ts = TsStream(188, 4000);  // 752000 bytes
    MemoryInputStream s(ts.data(), ts.size());
    EXPECT_EQ(ProbeMediaKind(&s, 0), MK_MPEG2_TRANSPORT);
    EXPECT_EQ(s.Reads(), 1u);
    EXPECT_EQ(s.BytesRead(), kProbeBufferSize);
}

// ---- Transport ---------------------------------------------------------------------

TEST(ProbeTransport, FindsPacketsOf188_192And204Bytes)
{
    for (size_t size : {188u, 192u, 204u}) {
        SCOPED_TRACE(size);
        const ByteVec ts = TsStream(size, 60);
        EXPECT_EQ(ProbeTransport(ts.data(), ts.size()), MK_MPEG2_TRANSPORT);
        EXPECT_EQ(Probe(ts), MK_MPEG2_TRANSPORT);
    }
}

TEST(ProbeTransport, Finds192BytePacketsWhoseFirstSyncIsAtThePrefixOffset)
{
    const ByteVec ts = TsStream(192, 60);
    ASSERT_NE(ts[0], 0x47);
    ASSERT_EQ(ts[4], 0x47);
    ASSERT_EQ(ts[4 + 192], 0x47);
    EXPECT_EQ(ProbeTransport(ts.data(), ts.size()), MK_MPEG2_TRANSPORT);
}

TEST(ProbeTransport, FindsAPesStartBehindAnAdaptationField)
{
    // Only video packets; the first one starts a PES after an adaptation field.
    ByteVec pes = PesPacket(0xE0, kMpeg2Sequence, 90000);
    ASSERT_LT(pes.size(), 184u);
    ByteVec ts = TsPacket(0x100, true, 0, pes);
    for (int k = 1; k < 20; ++k)
        Append(ts, TsPacket(0x100, false, uint8_t(k), ByteVec(184, 0xFF)));
    ASSERT_EQ(ts[3] & 0x30, 0x30);  // adaptation_field_control 3
    EXPECT_EQ(ProbeTransport(ts.data(), ts.size()), MK_MPEG2_TRANSPORT);
}

TEST(ProbeTransport, NeedsMoreThan2040Bytes)
{
    const ByteVec ts = TsStream(188, 20);
    EXPECT_EQ(ProbeTransport(ts.data(), 2040), 0);
    EXPECT_EQ(ProbeTransport(ts.data(), 2041), MK_MPEG2_TRANSPORT);  // i = 0 only
    EXPECT_EQ(ProbeTransport(ts.data(), 0), 0);
    EXPECT_EQ(ProbeTransport(nullptr, 5000), 0);
}

TEST(ProbeTransport, PacketsWithoutAnyPayloadStartAreNotEnough)
{
    ByteVec ts;
    for (int k = 0; k < 40; ++k)
        Append(ts, TsPacket(0x1FFF, false, uint8_t(k), ByteVec(184, 0xFF)));
    EXPECT_EQ(ProbeTransport(ts.data(), ts.size()), 0);
}

TEST(ProbeTransport, SevenFollowingSyncBytesAreNotEnough)
{
    ByteVec ts = TsStream(188, 40);
    for (size_t i = 8 * 188; i < ts.size(); i += 8 * 188)
        ts[i] = 0x48;  // every eighth packet loses its sync byte
    EXPECT_EQ(ProbeTransport(ts.data(), ts.size()), 0);
}

TEST(ProbeTransport, TransportWinsOverAPackHeaderInsideIt)
{
    // A program stream carried in transport packets: the probe says 8.
    const ByteVec ps = Concat({DvdNavPack(0), DvdVideoPack(100, kMpeg2Sequence)});
    ByteVec ts;
    for (size_t off = 0, k = 0; off < ps.size(); off += 184, ++k) {
        auto chunk = std::span<const uint8_t>(ps).subspan(off, std::min<size_t>(184, ps.size() - off));
        Append(ts, TsPacket(0x200, k == 0, uint8_t(k), chunk));
    }
    EXPECT_EQ(Probe(ts), MK_MPEG2_TRANSPORT);
}

// ---- DirecTV ------------------------------------------------------------------------

TEST(ProbeDirecTV, FoundOnlyWithHint13)
{
    const ByteVec dtv = DirecTvStream(40);
    EXPECT_EQ(ProbeDirecTV(dtv.data(), dtv.size()), MK_DIRECTV);
    EXPECT_EQ(Probe(dtv, MK_DIRECTV), MK_DIRECTV);
    EXPECT_EQ(Probe(dtv, 0), 0);
    EXPECT_EQ(Probe(dtv, MK_MPEG2_TRANSPORT), 0);
}

TEST(ProbeDirecTV, NeedsMoreThan1300Bytes)
{
    const ByteVec dtv = DirecTvStream(11);
    EXPECT_EQ(ProbeDirecTV(dtv.data(), 1300), 0);
    EXPECT_EQ(ProbeDirecTV(dtv.data(), 1301), MK_DIRECTV);
}

TEST(ProbeDirecTV, BothPhasesOfTheAlternationCount)
{
    const ByteVec dtv = DirecTvStream(40);
    // From packet 1 on, the first framing bit is clear.
    EXPECT_EQ(ProbeDirecTV(dtv.data() + 130, dtv.size() - 130), MK_DIRECTV);
}

TEST(ProbeDirecTV, ConstantTopBitIsNotDirecTV)
{
    const ByteVec ones(5000, 0x80), zeros(5000, 0x00);
    EXPECT_EQ(ProbeDirecTV(ones.data(), ones.size()), 0);
    EXPECT_EQ(ProbeDirecTV(zeros.data(), zeros.size()), 0);
}

TEST(ProbeDirecTV, TransportIsTestedFirst)
{
    const ByteVec ts = TsStream(188, 60);
    EXPECT_EQ(Probe(ts, MK_DIRECTV), MK_MPEG2_TRANSPORT);
}

// ---- RIFF/CDXA ------------------------------------------------------------------------

std::vector<ByteVec> Sectors(size_t count, const ByteVec& sector)
{
    return std::vector<ByteVec>(count, sector);
}

TEST(ProbeCdxa, VcdMpeg1PacksAreKind3)
{
    std::vector<ByteVec> sectors;
    for (int k = 0; k < 60; ++k)
        sectors.push_back(VcdPackSector(uint64_t(k) * 1200, 3528, k == 0 ? kMpeg1Sequence : ByteVec{}));
    const ByteVec file = CdxaFile(sectors);
    ASSERT_EQ(file.size(), 44u + 60 * 2352);
    EXPECT_EQ(ProbeCdxa(file.data(), file.size()), MK_VCD);
    MemoryInputStream s(file.data(), file.size());
    EXPECT_EQ(ProbeMediaKind(&s, 0), MK_VCD);
    EXPECT_EQ(s.Reads(), 1u);  // never tested for packs
}

TEST(ProbeCdxa, LeadingEmptySectorsAreSkipped)
{
    std::vector<ByteVec> sectors(10, ByteVec{});
    for (int k = 0; k < 50; ++k)
        sectors.push_back(VcdPackSector(uint64_t(k) * 1200));
    const ByteVec file = CdxaFile(sectors);
    EXPECT_EQ(ProbeCdxa(file.data(), file.size()), MK_VCD);
}

TEST(ProbeCdxa, SvcdMpeg2PacksAreKind4)
{
    std::vector<ByteVec> sectors;
    for (int k = 0; k < 55; ++k)
        sectors.push_back(SvcdVideoSector(uint64_t(k) * 1200, k == 0 ? kMpeg2Sequence : ByteVec{}));
    const ByteVec file = CdxaFile(sectors);
    EXPECT_EQ(ProbeCdxa(file.data(), file.size()), MK_SVCD);
    EXPECT_EQ(Probe(file), MK_SVCD);
}

TEST(ProbeCdxa, Mpeg1AboveTheVcdMuxRateIsNotCdxa)
{
    const ByteVec file = CdxaFile(Sectors(50, VcdPackSector(0, 3529)));
    EXPECT_EQ(ProbeCdxa(file.data(), file.size()), 0);
    // The driver then finds the pack at byte 68: MPEG-1, clock near zero, but
    // the mux rate is above 3528.
    EXPECT_EQ(Probe(file), MK_MPEG1_SYSTEM);
    const ByteVec vcdRate = CdxaFile(Sectors(50, VcdPackSector(0, 3528)));
    EXPECT_EQ(ProbeCdxa(vcdRate.data(), vcdRate.size()), MK_VCD);
}

TEST(ProbeCdxa, NeedsFiftyRawSectorsAndTheRiffFields)
{
    const ByteVec file = CdxaFile(Sectors(50, VcdPackSector(0)));
    EXPECT_EQ(ProbeCdxa(file.data(), 117599), 0);
    EXPECT_EQ(ProbeCdxa(file.data(), 117600), MK_VCD);
    for (size_t field : {0u, 8u, 36u}) {
        ByteVec broken = file;
        broken[field] ^= 0x20;
        EXPECT_EQ(ProbeCdxa(broken.data(), broken.size()), 0) << field;
    }
}

TEST(ProbeCdxa, APackMustAlsoStartTheNextSector)
{
    std::vector<ByteVec> sectors(60, ByteVec{});
    sectors[0] = VcdPackSector(0);  // alone: no pack in sector 1
    sectors[5] = VcdPackSector(0);
    sectors[6] = VcdPackSector(0);
    const ByteVec file = CdxaFile(sectors);
    EXPECT_EQ(ProbeCdxa(file.data(), file.size()), MK_VCD);
    std::vector<ByteVec> lonely(60, ByteVec{});
    lonely[0] = VcdPackSector(0);
    lonely[2] = VcdPackSector(0);
    const ByteVec none = CdxaFile(lonely);
    EXPECT_EQ(ProbeCdxa(none.data(), none.size()), 0);
}

// ---- MP4 -------------------------------------------------------------------------------

TEST(ProbeMp4, SmallFileWithMoovAndMdatIsFoundByTheBoxWalk)
{
    const ByteVec mp4 = Concat({Mp4Ftyp(), Mp4Box("moov", ByteVec(200, 0)), Mp4Box("mdat", ByteVec(500, 0x11))});
    ASSERT_LE(mp4.size(), 2048u);
    MemoryInputStream s(mp4.data(), mp4.size());
    EXPECT_EQ(ProbeMp4Atoms(s), 14);
    EXPECT_EQ(Probe(mp4), MK_MP4);
}

TEST(ProbeMp4, SmallFileWithFtypButNoMoovIsUnknown)
{
    const ByteVec mp4 = Concat({Mp4Ftyp(), Mp4Box("free", ByteVec(16, 0)), Mp4Box("mdat", ByteVec(1000, 0x11))});
    ASSERT_LE(mp4.size(), 2048u);
    EXPECT_EQ(Probe(mp4), 0);
}

TEST(ProbeMp4, FtypAtByte4IsEnoughAbove2048Bytes)
{
    const ByteVec mp4 = Concat({Mp4Ftyp(), Mp4Box("mdat", ByteVec(3000, 0x11))});
    EXPECT_EQ(Probe(mp4), MK_MP4);
    MemoryInputStream s(mp4.data(), mp4.size());
    EXPECT_EQ(ProbeMp4Atoms(s), 0);
}

TEST(ProbeMp4, FtypWinsOverALaterPackHeader)
{
    ByteVec payload(3000, 0x11);
    const ByteVec pack = Mpeg2PackHeader(0, 25200);
    std::copy(pack.begin(), pack.end(), payload.begin() + 1000);
    EXPECT_EQ(Probe(Concat({Mp4Ftyp(), Mp4Box("mdat", payload)})), MK_MP4);
}

TEST(ProbeMp4, APackHeaderAtByte0WinsOverFtyp)
{
    // 00 00 01 BA "ftyp": byte 4 ('f') reads as an MPEG-2 pack whose marker bits
    // are wrong, so the file is unknown rather than MP4.
    ByteVec file = {0x00, 0x00, 0x01, 0xBA, 'f', 't', 'y', 'p'};
    file.resize(4000, 0);
    EXPECT_EQ(Probe(file), 0);
}

TEST(ProbeMp4, MoovAndMdatWithoutFtyp)
{
    const ByteVec mp4 = Concat({Mp4Box("mdat", ByteVec(5000, 0x22)), Mp4Box("moov", ByteVec(100, 0))});
    EXPECT_EQ(Probe(mp4), MK_MP4);
}

TEST(ProbeMp4, LargeSizeBoxesAreWalked)
{
    const ByteVec mp4 = Concat({Mp4Box("free", ByteVec(10, 0)), Mp4Box("mdat", ByteVec(3000, 0x22), true),
                                Mp4Box("moov", ByteVec(50, 0))});
    MemoryInputStream s(mp4.data(), mp4.size());
    EXPECT_EQ(ProbeMp4Atoms(s), 14);
}

TEST(ProbeMp4, SizeZeroEndsTheWalkAfterItsTypeCounts)
{
    ByteVec zeroMdat = Mp4Box("mdat", ByteVec(100, 0x22));
    zeroMdat[0] = zeroMdat[1] = zeroMdat[2] = zeroMdat[3] = 0;  // "to the end of the file"
    const ByteVec a = Concat({Mp4Box("moov", ByteVec(50, 0)), zeroMdat});
    MemoryInputStream sa(a.data(), a.size());
    EXPECT_EQ(ProbeMp4Atoms(sa), 14);

    ByteVec zeroFree = Mp4Box("free", ByteVec(10, 0));
    zeroFree[3] = 0;
    const ByteVec b = Concat({zeroFree, Mp4Box("moov", ByteVec(50, 0)), Mp4Box("mdat", ByteVec(50, 0))});
    MemoryInputStream sb(b.data(), b.size());
    EXPECT_EQ(ProbeMp4Atoms(sb), 0);
}

TEST(ProbeMp4, HugeOrWrappingSizesEndTheWalk)
{
    // largesize 2^64 - 16: the running sum would pass the largest file position
    // (and a seek there would be refused), so the walk ends instead of reading
    // on from the old position.
    ByteVec a = Mp4Box("moov", ByteVec(8, 0), true);
    for (int i = 8; i < 16; ++i)
        a[i] = 0xFF;
    a[15] = 0xF0;
    Append(a, Mp4Box("mdat", ByteVec(8, 0)));
    MemoryInputStream sa(a.data(), a.size());
    EXPECT_EQ(ProbeMp4Atoms(sa), 0);
    EXPECT_LE(sa.Reads(), 2u);
}

TEST(ProbeMp4, TinyBoxesAreWalkedToTheEnd)
{
    ByteVec file;
    for (int i = 0; i < 1000; ++i)
        Append(file, ByteVec{0x00, 0x00, 0x00, 0x04});
    MemoryInputStream s(file.data(), file.size());
    EXPECT_EQ(ProbeMp4Atoms(s), 0);
}

// ---- MPEG-1 packs ---------------------------------------------------------------------

ByteVec Mpeg1File(uint64_t scr, uint32_t muxRate, size_t packs = 4)
{
    ByteVec file;
    for (size_t k = 0; k < packs; ++k)
        Append(file, Mpeg1Pack(scr + k * 1000, {Mpeg1PesPacket(0xE0, k == 0 ? kMpeg1Sequence : ByteVec{1, 2, 3})},
                               2324, muxRate));
    return file;
}

TEST(ProbeMpeg1Pack, VcdParametersGiveKind3)
{
    EXPECT_EQ(Probe(Mpeg1File(0, 3528)), MK_VCD);
    EXPECT_EQ(Probe(Mpeg1File((1u << 22) - 1001, 1000)), MK_VCD);
}

TEST(ProbeMpeg1Pack, OtherwiseKind1)
{
    EXPECT_EQ(Probe(Mpeg1File(0, 3529)), MK_MPEG1_SYSTEM);
    EXPECT_EQ(Probe(Mpeg1File(1u << 22, 1000)), MK_MPEG1_SYSTEM);
    EXPECT_EQ(Probe(Mpeg1File(90000ull * 3600, 3528)), MK_MPEG1_SYSTEM);
}

TEST(ProbeMpeg1Pack, ReadsAtThePackPosition)
{
    ByteVec file(777, 0x55);
    Append(file, Mpeg1File(0, 3528));
    MemoryInputStream s(file.data(), file.size());
    EXPECT_EQ(ProbeMpeg1Pack(s, 777), MK_VCD);
    EXPECT_EQ(ProbeMpeg1Pack(s, 0), MK_MPEG1_SYSTEM);
    EXPECT_EQ(ProbeMediaKind(&s, 0), MK_VCD);
}

TEST(ProbeMpeg1Pack, BadMarkerBitsGiveUnknown)
{
    for (size_t byte : {4u, 6u, 8u}) {
        ByteVec file = Mpeg1File(0, 3528);
        file[byte] &= 0xFE;
        EXPECT_EQ(Probe(file), 0) << byte;
    }
}

TEST(ProbeMpeg1Pack, NeedsMoreThan2048Bytes)
{
    ByteVec file = Mpeg1File(0, 3528, 1);
    file.resize(2048);
    EXPECT_EQ(Probe(file), 0);
    file.push_back(0);
    EXPECT_EQ(Probe(file), MK_VCD);
}

// ---- MPEG-2 packs, phase B ---------------------------------------------------------------

ByteVec VideoPacks(size_t count, uint64_t scr)
{
    ByteVec out;
    for (size_t k = 0; k < count; ++k)
        Append(out, DvdVideoPack(scr + k * 300, ByteVec(100, 0xFF)));
    return out;
}

TEST(ProbeMpeg2Pack, PlainProgramStreamIsKind2)
{
    const ByteVec ps = Concat({DvdVideoPack(0, kMpeg2Sequence, 90000), VideoPacks(5, 1000)});
    EXPECT_EQ(Probe(ps), MK_MPEG2_PROGRAM);
}

TEST(ProbeMpeg2Pack, DvdNavigationPacketBeforeTheSequenceHeaderIsKind6)
{
    const ByteVec ps = Concat({DvdNavPack(0), DvdVideoPack(100, kMpeg2Sequence, 90000), VideoPacks(5, 1000)});
    EXPECT_EQ(Probe(ps), MK_DVD_VIDEO);
}

TEST(ProbeMpeg2Pack, DvdVrDataPacketBeforeTheSequenceHeaderIsKind7)
{
    const ByteVec ps = Concat({DvdVrRdiPack(0), DvdVideoPack(100, kMpeg2Sequence, 90000), VideoPacks(5, 1000)});
    EXPECT_EQ(Probe(ps), MK_DVD_VR);
}

TEST(ProbeMpeg2Pack, LaterPrivateStream2PacketsOverwriteEarlierOnes)
{
    const ByteVec seq = DvdVideoPack(200, kMpeg2Sequence);
    EXPECT_EQ(Probe(Concat({DvdNavPack(0), DvdVrRdiPack(100), seq, VideoPacks(3, 1000)})), MK_DVD_VR);
    EXPECT_EQ(Probe(Concat({DvdVrRdiPack(0), DvdNavPack(100), seq, VideoPacks(3, 1000)})), MK_DVD_VIDEO);
}

TEST(ProbeMpeg2Pack, TheFirstSequenceHeaderDecides)
{
    const ByteVec ps = Concat({DvdVideoPack(0, kMpeg2Sequence), DvdNavPack(100), VideoPacks(4, 1000)});
    EXPECT_EQ(Probe(ps), MK_MPEG2_PROGRAM);
}

TEST(ProbeMpeg2Pack, OtherPrivateStream2PacketsDoNotCount)
{
    const ByteVec otherLength = Mpeg2Pack(0, {PrivateStream2Packet(900, 0x00)});
    const ByteVec otherSub = Mpeg2Pack(0, {PrivateStream2Packet(980, 0x01)});
    EXPECT_EQ(Probe(Concat({otherLength, DvdVideoPack(100, kMpeg2Sequence), VideoPacks(3, 1000)})),
              MK_MPEG2_PROGRAM);
    EXPECT_EQ(Probe(Concat({otherSub, DvdVideoPack(100, kMpeg2Sequence), VideoPacks(3, 1000)})), MK_MPEG2_PROGRAM);
}

TEST(ProbeMpeg2Pack, NoSequenceHeaderScansToTheEnd)
{
    const ByteVec ps = Concat({DvdNavPack(0), VideoPacks(30, 1000)});
    MemoryInputStream s(ps.data(), ps.size());
    EXPECT_EQ(ProbeMediaKind(&s, 0), MK_DVD_VIDEO);
    EXPECT_EQ(Probe(VideoPacks(30, 0)), MK_MPEG2_PROGRAM);
}

TEST(ProbeMpeg2Pack, Mpeg4VisualInAProgramStreamIsKind5)
{
    // VOS, VO, VOL, then a group of VOP (00 00 01 B3 and a start code three
    // bytes later) before the first VOP.
    EXPECT_EQ(Probe(Concat({DvdNavPack(0), DvdVideoPack(100, Mpeg4VisualStream(352, 288), 90000),
                            VideoPacks(3, 1000)})),
              MK_MPEG2_PROGRAM_MPEG4);
}

TEST(ProbeMpeg2Pack, EachMpeg4ShapeIsKind5)
{
    const std::vector<ByteVec> shapes = {
        Mpeg4IVop(),                                                  // 00 00 01 B6
        Concat({Mpeg4VisualObjectSequence(), Mpeg4VideoObject()}),    // B0, then a video object start code
        Concat({Mpeg4VisualObjectSequence(), ByteVec{0, 0, 1, 0xB2, 'x'}}),  // B0, then user data
        Concat({Mpeg4GroupOfVop(), Mpeg4IVop()}),                     // B3 + 3 bytes + start code
    };
    for (size_t k = 0; k < shapes.size(); ++k)
        EXPECT_EQ(Probe(Concat({DvdVideoPack(0, shapes[k]), VideoPacks(3, 1000)})), MK_MPEG2_PROGRAM_MPEG4) << k;
}

TEST(ProbeMpeg2Pack, VisualObjectSequenceBeforeAVisualObjectIsNotEnoughAlone)
{
    // B0 followed by B5 (a visual object) is not one of the B0 shapes; with no
    // other MPEG-4 start code in the stream, the result stays 2.
    EXPECT_EQ(Probe(Concat({DvdVideoPack(0, Concat({Mpeg4VisualObjectSequence(), Mpeg4VisualObject()})),
                            VideoPacks(3, 1000)})),
              MK_MPEG2_PROGRAM);
}

TEST(ProbeMpeg2Pack, PacketSplitAcrossReadsIsFinishedAfterTheNextRead)
{
    // A video packet that starts 200 bytes before the end of the first
    // 10240-byte read and carries its sequence header after that boundary.
    ByteVec ps = Mpeg2PackHeader(0, 25200);
    Append(ps, DvdNavPciPacket());
    Append(ps, PaddingPacket(10040 - ps.size()));
    ASSERT_EQ(ps.size(), 10040u);
    ByteVec es(400, 0xFF);
    Append(es, kMpeg2Sequence);
    Append(ps, PesPacket(0xE0, es));
    Append(ps, VideoPacks(3, 1000));
    EXPECT_EQ(Probe(ps), MK_DVD_VIDEO);
    // The same stream with an MPEG-4 VOP there instead.
    ByteVec ps4(ps.begin(), ps.begin() + 10040);
    ByteVec es4(400, 0xFF);
    Append(es4, Mpeg4IVop());
    Append(ps4, PesPacket(0xE0, es4));
    Append(ps4, VideoPacks(3, 1000));
    EXPECT_EQ(Probe(ps4), MK_MPEG2_PROGRAM_MPEG4);
}

TEST(ProbeMpeg2Pack, BadMarkerBitsGiveUnknown)
{
    const ByteVec good = Concat({DvdNavPack(0), DvdVideoPack(100, kMpeg2Sequence)});
    const std::pair<size_t, uint8_t> markers[] = {{4, 0x04}, {6, 0x04}, {8, 0x04}, {9, 0x01}};
    for (auto [byte, bit] : markers) {
        ByteVec ps = good;
        ps[byte] &= uint8_t(~bit);
        EXPECT_EQ(Probe(ps), 0) << byte;
    }
}

TEST(ProbeMpeg2Pack, PhaseBStopsAtTheFirstSequenceHeader)
{
    // A 20 MB DVD-like stream: the packet scan reads only the first few packs.
    ByteVec ps = Concat({DvdNavPack(0), DvdVideoPack(100, kMpeg2Sequence, 90000)});
    const ByteVec filler = VideoPacks(1, 2000);
    while (ps.size() < 20u * 1024 * 1024)
        Append(ps, filler);
    MemoryInputStream s(ps.data(), ps.size());
    EXPECT_EQ(ProbeMediaKind(&s, 0), MK_DVD_VIDEO);
    // 512 KiB first read, two 16-byte box headers (0x1BA, then zeros), 18592
    // bytes of the SVCD phase, one 10240-byte read of the packet scan.
    EXPECT_EQ(s.BytesRead(), kProbeBufferSize + 2 * 16 + kSvcdGroupSize + 10240);
}

// ---- MPEG-2 packs, phase A (SVCD sectors of 2324 bytes) -------------------------------------

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

TEST(ProbeMpeg2Pack, SvcdSectorsWithAnSvcdPictureSizeAreKind4)
{
    EXPECT_EQ(Probe(SvcdFile(VideoSequenceHeader(480, 576, 2, 3))), MK_SVCD);  // 25 Hz
    EXPECT_EQ(Probe(SvcdFile(VideoSequenceHeader(704, 576, 3, 3))), MK_SVCD);
    EXPECT_EQ(Probe(SvcdFile(VideoSequenceHeader(480, 480, 2, 4))), MK_SVCD);  // 29.97 Hz
    EXPECT_EQ(Probe(SvcdFile(VideoSequenceHeader(704, 480, 2, 4))), MK_SVCD);
}

TEST(ProbeMpeg2Pack, SvcdSectorsWithAnotherPictureContinueToThePacketScan)
{
    EXPECT_EQ(Probe(SvcdFile(VideoSequenceHeader(720, 576, 2, 3))), MK_MPEG2_PROGRAM);
    EXPECT_EQ(Probe(SvcdFile(VideoSequenceHeader(480, 576, 2, 4))), MK_MPEG2_PROGRAM);  // 576 at 29.97
    EXPECT_EQ(Probe(SvcdFile(VideoSequenceHeader(480, 480, 2, 3))), MK_MPEG2_PROGRAM);  // 480 at 25
    // With a DVD navigation packet in the first sector the scan says 6.
    ByteVec file = SvcdFile(VideoSequenceHeader(720, 576, 2, 3));
    const ByteVec nav = Mpeg2Pack(0, {DvdNavPciPacket()}, 2324, 6972);
    std::copy(nav.begin(), nav.end(), file.begin());
    EXPECT_EQ(Probe(file), MK_DVD_VIDEO);
}

TEST(ProbeMpeg2Pack, SvcdSectorsToTheEndWithoutASequenceHeaderAreKind4)
{
    ByteVec file;
    for (size_t k = 0; k < 16; ++k)  // exactly two groups of 8 sectors
        Append(file, k % 2 ? SvcdAudioSector(k * 100) : SvcdVideoSector(k * 100));
    EXPECT_EQ(Probe(file), MK_SVCD);
    // One sector short of a full second group: the short read ends phase A.
    file.resize(15 * 2324);
    EXPECT_EQ(Probe(file), MK_MPEG2_PROGRAM);
}

TEST(ProbeMpeg2Pack, ASectorWithoutPackHeaderEndsPhaseA)
{
    ByteVec file = SvcdFile(VideoSequenceHeader(480, 576, 2, 3));
    file[1 * 2324 + 3] = 0xBB;  // sector 1 no longer starts with a pack header
    EXPECT_EQ(Probe(file), MK_MPEG2_PROGRAM);
}

TEST(ProbeMpeg2Pack, CalledAloneWithItsOwnScratchBuffer)
{
    const ByteVec file = SvcdFile(VideoSequenceHeader(480, 576, 2, 3));
    MemoryInputStream s(file.data(), file.size());
    EXPECT_EQ(ProbeMpeg2Pack(s, 0), MK_SVCD);
    std::vector<uint8_t> small(100);
    EXPECT_EQ(ProbeMpeg2Pack(s, 0, small), 0);  // scratch too small
}

}  // namespace
