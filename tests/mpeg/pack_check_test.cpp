// Pack checkers: pack boundaries, the exclusion rule, the video and key flags
// the time table keeps, the clock following across an SCR reset, and a walk
// over the corpus files in the 64 KiB pieces the time-table worker presents.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "input/bytes.h"
#include "input/memory_input_stream.h"
#include "probe/probe.h"
#include "mediadetect/records.h"
#include "mpeg/pack_check.h"
#include "support/files.h"
#include "support/ps_builders.h"

namespace {

using md::Be32;
using mdtest::ByteVec;
using mdtest::Concat;

ByteVec GopAndIPicture(uint16_t temporalReference = 0, bool closed = true)
{
    return Concat({mdtest::GopHeaderFlags(closed), mdtest::PictureHeaderFields(temporalReference, 1),
                   mdtest::SliceStart()});
}

ByteVec PPicture() { return Concat({mdtest::PictureHeaderFields(3, 2), mdtest::SliceStart()}); }

TEST(PackCheckTest, Mpeg2PacksEntriesExclusionAndFinalPack)
{
    const ByteVec audio = mdtest::MpegAudioFrame(2, 10, 1, 0, 200);
    // Packs without padding, so that a video packet is the last of its pack.
    const ByteVec a = Concat({mdtest::Mpeg2PackHeader(1000, 25200), mdtest::PesPacket(0xE0, GopAndIPicture(), 90000)});
    // Video followed by audio: MPEG-2 clears the pack's video and key flags; the
    // PTS flag follows the last packet, here a padding packet.
    const ByteVec b =
        mdtest::Mpeg2Pack(2000, {mdtest::PesPacket(0xE0, GopAndIPicture(), 93600),
                                 mdtest::PesPacket(0xC0, audio, 93600)});
    // A program_stream_directory packet (0xFF) excludes the pack.
    const ByteVec c =
        mdtest::Mpeg2Pack(3000, {mdtest::PesPacket(0xE0, PPicture(), 97200), mdtest::PesPacket(0xFF, ByteVec(8))});
    // The last pack: 20 bytes of zeros follow its packet.
    const ByteVec d = Concat({mdtest::Mpeg2PackHeader(4000, 25200),
                              mdtest::PesPacket(0xE0, GopAndIPicture(), 100800), ByteVec(20, 0)});
    const ByteVec buffer = Concat({a, b, c, d});
    const auto length = static_cast<uint32_t>(buffer.size());
    const uint32_t dOffset = static_cast<uint32_t>(a.size() + b.size() + c.size());

    md::Mpeg2PackCheck checker;
    checker.SetInspect(true);
    md::PackEntryList entries;
    EXPECT_EQ(checker.ScanPacks(buffer.data(), length, &entries, false), dOffset);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].offset, 0u);
    EXPECT_EQ(entries[0].pack, buffer.data());
    EXPECT_EQ(entries[0].length, a.size());
    EXPECT_EQ(entries[0].scrBase, 1000u);
    EXPECT_EQ(entries[0].video, 1);
    EXPECT_EQ(entries[0].key, 1);
    EXPECT_EQ(entries[0].ptsPresent, 1);
    EXPECT_EQ(entries[0].videoTime, 0);
    EXPECT_EQ(entries[1].offset, a.size());
    EXPECT_EQ(entries[1].length, 2048u);
    EXPECT_EQ(entries[1].audio, 1);
    EXPECT_EQ(entries[1].video, 0);
    EXPECT_EQ(entries[1].key, 0);
    EXPECT_EQ(entries[1].ptsPresent, 0);
    EXPECT_EQ(entries[1].videoTime, (93600 - 90000) * 1000 / 9);

    // The same buffer as the last one of a file: the open pack is emitted and
    // the walk stops 16 bytes before the end.
    md::Mpeg2PackCheck last;
    last.SetInspect(true);
    entries.clear();
    EXPECT_EQ(last.ScanPacks(buffer.data(), length, &entries, true), length - 16);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[2].offset, dOffset);
    EXPECT_EQ(entries[2].length, length - dOffset);
    EXPECT_EQ(entries[2].key, 1);
    EXPECT_EQ(entries[2].videoTime, (100800 - 90000) * 1000 / 9);
}

// After 10 s the SCR falls back to 0 and the PTS restart at 1 s: the clock
// offset carries the times on, across the buffers of two calls.
TEST(PackCheckTest, Mpeg2ClockResetKeepsTimesRising)
{
    const ByteVec file = Concat({mdtest::Mpeg2Pack(0, {mdtest::PesPacket(0xE0, GopAndIPicture(), 90000)}),
                                 mdtest::Mpeg2Pack(900000, {mdtest::PesPacket(0xE0, GopAndIPicture(), 990000)}),
                                 mdtest::Mpeg2Pack(0, {mdtest::PesPacket(0xE0, GopAndIPicture(), 90000)}),
                                 mdtest::Mpeg2PackHeader(3600, 25200), ByteVec(20, 0)});
    md::Mpeg2PackCheck checker;
    checker.SetInspect(true);
    md::PackEntryList entries;
    // Two calls, the second presenting the rest of the first again.
    const uint32_t consumed = checker.ScanPacks(file.data(), 2 * 2048 + 100, &entries, false);
    EXPECT_EQ(consumed, 2 * 2048u);
    checker.ScanPacks(file.data() + consumed, static_cast<uint32_t>(file.size() - consumed), &entries, false);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].videoTime, 0);
    EXPECT_EQ(entries[1].videoTime, 100000000);  // 10 s
    // Clock offset 900000 ticks; the first video PTS counts as 0 after the
    // reset: (900000 + 90000) ticks.
    EXPECT_EQ(entries[2].videoTime, 110000000);
}

TEST(PackCheckTest, KeyPictureInPes)
{
    uint8_t key = 9;
    uint8_t closed = 9;
    uint32_t tr = 9;
    auto check = [&](const ByteVec& p, uint32_t cut = 0) {
        return md::KeyPictureInPes(p.data(), static_cast<uint32_t>(p.size()) - cut, key, closed, tr);
    };
    // A P-picture met before the GOP header decides: not a key picture.
    EXPECT_FALSE(check(mdtest::PesPacket(0xE0, Concat({PPicture(), GopAndIPicture()}))));
    EXPECT_EQ(key, 0);
    EXPECT_TRUE(check(mdtest::PesPacket(0xE0, Concat({mdtest::PictureHeaderFields(0, 1), mdtest::SliceStart()}))));
    EXPECT_EQ(closed, 0);
    EXPECT_TRUE(check(mdtest::PesPacket(0xE0, GopAndIPicture(2, true), 90000)));
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(tr, 2u);
    // Not video, or not all there: cleared outputs.
    EXPECT_FALSE(check(mdtest::PesPacket(0xC0, GopAndIPicture(2, true))));
    EXPECT_EQ(closed + tr, 0u);
    EXPECT_FALSE(check(mdtest::PesPacket(0xE0, GopAndIPicture()), 1));
}

// Every pack of a corpus file is described once when the file is presented in
// 64 KiB pieces (the rest of each piece again with the next), and the key packs
// the time table keeps (PTS and key flags set) carry rising times within the
// video's duration. The PTS flag is that of a pack's last packet, so a key pack
// that ends with padding or audio is not among them. MPEG-4 video in a program
// stream has no time table.
TEST(PackCheckTest, CorpusFilesWalkedInPieces)
{
    int walked = 0;
    for (const auto& dir : {md::test::TestDataDir(), md::test::RealWorldDir()}) {
        if (dir.empty() || !std::filesystem::exists(dir))
            continue;
        for (const auto& path : md::test::MediaFiles(dir)) {
            const std::string name = path.filename().string();
            const std::string ext = path.extension().string();
            if (ext != ".mpg" && ext != ".vob" && ext != ".ps")
                continue;
            const std::vector<uint8_t> file = md::test::ReadFileBytes(path);
            md::MemoryInputStream stream(file.data(), file.size());
            const auto kind = static_cast<uint32_t>(ProbeMediaKind(&stream, 0));
            if (kind < MK_MPEG1_SYSTEM || kind > MK_DVD_VR || kind == MK_MPEG2_PROGRAM_MPEG4)
                continue;
            SCOPED_TRACE(name);
            std::ifstream json(dir / "reference" / (name + ".ffprobe.json"));
            const nlohmann::json probe = nlohmann::json::parse(json);
            double videoDuration = 0;
            for (const auto& s : probe.at("streams"))
                if (s.value("codec_type", "") == "video")
                    videoDuration = std::stod(s.value("duration", "0"));

            std::unique_ptr<md::MpegPackCheck> checker;
            if (kind == MK_MPEG1_SYSTEM || kind == MK_VCD)
                checker = std::make_unique<md::Mpeg1PackCheck>();
            else
                checker = std::make_unique<md::Mpeg2PackCheck>();
            checker->SetInspect(true);
            std::vector<uint8_t> window;
            size_t read = 0;
            size_t done = 0;
            size_t packs = 0;
            int64_t lastKeyTime = -1;
            while (read < file.size()) {
                const size_t n = std::min<size_t>(65536, file.size() - read);
                window.insert(window.end(), file.begin() + read, file.begin() + read + n);
                read += n;
                md::PackEntryList entries;
                const uint32_t consumed = checker->ScanPacks(window.data(), static_cast<uint32_t>(window.size()),
                                                             &entries, read == file.size());
                for (const auto& e : entries) {
                    ASSERT_LE(done + e.offset + 4, file.size());
                    EXPECT_EQ(Be32(file.data() + done + e.offset), 0x000001BAu);
                    if (e.ptsPresent && e.key && e.videoTime >= 0) {
                        EXPECT_GT(e.videoTime, lastKeyTime);
                        lastKeyTime = e.videoTime;
                    }
                }
                packs += entries.size();
                window.erase(window.begin(), window.begin() + consumed);
                done += consumed;
            }
            size_t packHeaders = 0;
            for (size_t i = 0; i + 4 <= file.size(); ++i)
                packHeaders += Be32(file.data() + i) == 0x000001BAu;
            EXPECT_EQ(packs, packHeaders);
            EXPECT_GE(lastKeyTime, 0);
            EXPECT_LT(lastKeyTime, static_cast<int64_t>(videoDuration * 1e7));
            ++walked;
        }
    }
    EXPECT_GE(walked, 9);
}

}  // namespace
