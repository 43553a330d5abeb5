// Hostile MP4 box layouts opened through the module, each in a child process:
// no crash or hang, only what the boxes really hold, a small peak memory.
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/box_builder.h"
#include "support/files.h"
#include "support/module.h"
#include "support/mp4_builders.h"

namespace {

namespace fs = std::filesystem;
using mdtest::BoxBuilder;
using mdtest::Bytes8;

constexpr uint32_t kSamples = 2;
constexpr uint32_t kSampleSize = 64;

void Ftyp(BoxBuilder& b)
{
    b.Begin("ftyp").Type("isom").U32(0).Type("isom").Type("avc1").End();
}

// An interlaced 1920x1080 'avc1' entry, so that opening the file also runs the
// slice scan over the first two samples through the sample tables.
Bytes8 InterlacedAvc1()
{
    mdtest::AvcSpsFields sps;
    sps.frameMbsOnly = false;
    sps.heightMapUnitsMinus1 = 33;
    sps.cropBottom = 2;
    return mdtest::Avc1Entry(1920, 1080, {mdtest::AvcSpsNal(sps)}, {mdtest::AvcPpsNal({})});
}

// A full box of 32-bit words.
void Full(BoxBuilder& b, const char* type, std::initializer_list<uint32_t> words)
{
    b.BeginFull(type, 0, 0);
    for (uint32_t w : words)
        b.U32(w);
    b.End();
}

// The sample tables of two 64-byte samples in one chunk at firstSample.
void GoodTables(BoxBuilder& b, uint32_t firstSample)
{
    Full(b, "stts", {1, kSamples, 1000});
    Full(b, "stsc", {1, 1, kSamples, 1});
    Full(b, "stsz", {kSampleSize, kSamples});
    Full(b, "stco", {1, firstSample});
}

// ftyp, moov with one video track whose 'stbl' gets the tables written by
// `tables` (called with the offset of the first sample), then the 'mdat'.
Bytes8 MovieWith(const std::function<void(BoxBuilder&, uint32_t)>& tables)
{
    const auto build = [&](uint32_t firstSample) {
        BoxBuilder b;
        Ftyp(b);
        b.Begin("moov");
        b.BeginFull("mvhd", 0, 0).U32(0).U32(0).U32(25000).U32(2000).Zeros(80).End();
        b.Begin("trak");
        b.BeginFull("tkhd", 0, 3).U32(0).U32(0).U32(1).U32(0).U32(2000).Zeros(60).End();
        b.Begin("mdia");
        b.BeginFull("mdhd", 0, 0).U32(0).U32(0).U32(25000).U32(2000).U32(0).End();
        b.BeginFull("hdlr", 0, 0).U32(0).Type("vide").Zeros(12).Text("video").End();
        b.Begin("minf").Begin("stbl");
        b.BeginFull("stsd", 0, 0).U32(1).Bytes(InterlacedAvc1()).End();
        tables(b, firstSample);
        b.End().End().End().End().End();  // stbl minf mdia trak moov
        b.Begin("mdat").Zeros(kSamples * kSampleSize).End();
        return b.Take();
    };
    const size_t moovAndFtyp = build(0).size() - (8 + kSamples * kSampleSize);
    return build(static_cast<uint32_t>(moovAndFtyp + 8));
}

// A whole file given box by box at top level, over 2048 bytes, so that its
// 'ftyp' at byte 4 makes it an MP4 file even when its boxes cannot be walked.
Bytes8 TopLevel(const std::function<void(BoxBuilder&)>& boxes)
{
    BoxBuilder b;
    Ftyp(b);
    boxes(b);
    return b.Take();
}

using Tables = BoxBuilder;
// {what, file, the boxes still hold a readable video track}
std::vector<std::tuple<const char*, Bytes8, bool>> HostileCases()
{
    const uint32_t huge = 0x80000000u;
    return {
        {"control: a video track of two samples", MovieWith(GoodTables), true},
        // Size 0 runs to the end of the parent: 'stco' is the last box of the 'stbl'.
        {"stco with size 0", MovieWith([](Tables& b, uint32_t first) {
             Full(b, "stts", {1, kSamples, 1000}), Full(b, "stsc", {1, 1, kSamples, 1});
             Full(b, "stsz", {kSampleSize, kSamples}), b.U32(0).Type("stco").U32(0).U32(1).U32(first);
         }), true},
        {"mdat with size 0 at the end", TopLevel([](Tables& b) {
             b.Begin("moov").BeginFull("mvhd", 0, 0).Zeros(96).End().End().U32(0).Type("mdat").Zeros(4096);
         }), false},
        // Size 1 with a 64-bit size far beyond the file, at top level and inside the 'stbl'.
        {"moov with a huge 64-bit size", TopLevel([](Tables& b) {
             b.U32(1).Type("moov").U64(uint64_t(1) << 62).Zeros(64).Begin("mdat").Zeros(4096).End();
         }), false},
        {"stsz with a huge 64-bit size", MovieWith([](Tables& b, uint32_t first) {
             Full(b, "stts", {1, kSamples, 1000}), b.U32(1).Type("stsz").U64(~uint64_t(0)).U32(0).U32(0).U32(kSamples);
             Full(b, "stco", {1, first});
         }), true},
        // A size below the header length, at top level and inside the 'stbl'.
        {"top-level box of size 4", TopLevel([](Tables& b) {
             b.U32(4).Type("free").Begin("moov").End().Begin("mdat").Zeros(4096).End();
         }), false},
        {"stts of size 3",
         MovieWith([](Tables& b, uint32_t first) { GoodTables(b.U32(3).Type("stts").U32(0), first); }),
         true},
        {"10000 nested containers after the tables", MovieWith([](Tables& b, uint32_t first) {
             GoodTables(b, first);
             for (int i = 0; i < 20000; ++i)
                 i < 10000 ? b.Begin(i % 2 ? "trak" : "udta") : b.End();
         }), true},
        // Counts that promise far more than their boxes hold.
        {"counts 2^31", MovieWith([huge](Tables& b, uint32_t first) {
             Full(b, "stts", {1, huge, 1}), Full(b, "stsc", {1, 1, kSamples, 1});
             Full(b, "stsz", {0, huge, kSampleSize, kSampleSize}), Full(b, "stco", {huge, first});
         }), true},
        {"stsc with zero samples per chunk", MovieWith([](Tables& b, uint32_t first) {
             Full(b, "stts", {1, kSamples, 1000}), Full(b, "stsc", {2, 1, 0, 1, 0xFFFFFFFFu, 0, 1});
             Full(b, "stsz", {kSampleSize, kSamples}), Full(b, "stco", {1, first});
         }), true},
        {"chunk offset past the end of the file", MovieWith([](Tables& b, uint32_t) { GoodTables(b, 0xFFFFFFF0u); }),
         true},
    };
}

class HostileMp4 : public md::test::DetectorTest {
protected:
    // Opens the file in a child process; returns the child's peak resident set
    // in KiB, or -1 when the child did not end normally with status 0.
    long OpenInChild(const fs::path& file, bool describesVideo)
    {
        const pid_t pid = fork();
        if (pid == 0) {
            alarm(60);  // a hang ends the child with SIGALRM
            uint32_t kind = 0;
            bool ok = m_detector->OpenFileA(file.c_str(), &kind) == S_OK && kind == MK_MP4;
            VideoInfo v{};
            ok = ok && (m_detector->GetVideoInfo(&v) == S_OK) == describesVideo;
            _exit(ok ? 0 : 1);
        }
        int status = 0;
        rusage usage{};
        if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
            return -1;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return -1;
        return usage.ru_maxrss;
    }
};

TEST_F(HostileMp4, OpenWithoutCrashHangOrMemoryBlowUp)
{
    md::test::TempDir dir;
    for (const auto& [name, bytes, describesVideo] : HostileCases()) {
        SCOPED_TRACE(name);
        const fs::path file = dir / "hostile.mp4";
        md::test::WriteFileBytes(file, bytes);
        const long peakKiB = OpenInChild(file, describesVideo);
        ASSERT_GE(peakKiB, 0) << "the open crashed, hung or described the wrong records";
#if !defined(__SANITIZE_ADDRESS__)
        // AddressSanitizer's shadow memory and quarantine are not the detector's.
        EXPECT_LT(peakKiB, 64 * 1024);
#endif
    }
}

}  // namespace
