// probe_bench: runs the container probe over files and reports, per file, the
// kind found, the bytes the probe read (counted through a wrapping stream) and
// the time it took.
//
//   probe_bench [--out DIR] [--size-mb N] [--repeat N] [--no-generate] [FILE...]
//
// Besides the files named, it probes two generated files of N MiB (default
// 200) in DIR (default: a directory under the system temporary directory): a
// DVD-like MPEG-2 program stream (2048-byte packs, navigation packs, audio
// packets before the first video sequence header) and an MPEG-2 transport stream
// of 188-byte packets. Generated files are kept and reused while their size
// matches.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "input/input_stream.h"
#include "input/ms_file_input_stream.h"
#include "probe/probe.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

// Counts what passes through to the wrapped stream.
class CountingInputStream : public ZPMP::InputStream {
public:
    explicit CountingInputStream(ZPMP::InputStream& inner) : m_inner(inner) {}
    uint64_t Read(void* buffer, uint32_t count) override
    {
        ++m_reads;
        uint64_t n = m_inner.Read(buffer, count);
        m_bytes += n;
        return n;
    }
    int32_t Seek(uint64_t position) override
    {
        ++m_seeks;
        return m_inner.Seek(position);
    }
    uint64_t Size() override { return m_inner.Size(); }
    void GetPath(std::string& path) override { m_inner.GetPath(path); }

    uint64_t bytes() const { return m_bytes; }
    uint64_t reads() const { return m_reads; }
    uint64_t seeks() const { return m_seeks; }

private:
    ZPMP::InputStream& m_inner;
    uint64_t m_bytes = 0;
    uint64_t m_reads = 0;
    uint64_t m_seeks = 0;
};

// ---- Generators ------------------------------------------------------------------------

struct Rng {
    uint64_t x = 0x2545F4914F6CDD1Dull;
    // A byte that is never 0x00 or 0x47: no start-code prefixes, no sync bytes.
    uint8_t CleanByte()
    {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        uint8_t b = uint8_t(x >> 32);
        return b == 0x00 ? 0x80 : b == 0x47 ? 0x48 : b;
    }
    void Fill(uint8_t* p, size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            p[i] = CleanByte();
    }
};

void PutBe16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

// MPEG-2 pack header (14 bytes, no stuffing).
void PutPackHeader(uint8_t* p, uint64_t scr, uint32_t muxRate)
{
    const uint8_t start[] = {0x00, 0x00, 0x01, 0xBA};
    std::memcpy(p, start, 4);
    p[4] = uint8_t(0x40 | ((scr >> 27) & 0x38) | 0x04 | ((scr >> 28) & 0x03));
    p[5] = uint8_t(scr >> 20);
    p[6] = uint8_t(((scr >> 12) & 0xF8) | 0x04 | ((scr >> 13) & 0x03));
    p[7] = uint8_t(scr >> 5);
    p[8] = uint8_t(((scr << 3) & 0xF8) | 0x04);  // system_clock_reference_extension 0
    p[9] = 0x01;
    p[10] = uint8_t(muxRate >> 14);
    p[11] = uint8_t(muxRate >> 6);
    p[12] = uint8_t(((muxRate << 2) & 0xFC) | 0x03);
    p[13] = 0xF8;  // pack_stuffing_length 0
}

void PutPts(uint8_t* p, uint64_t pts)
{
    p[0] = uint8_t(0x21 | ((pts >> 29) & 0x0E));
    p[1] = uint8_t(pts >> 22);
    p[2] = uint8_t(((pts >> 14) & 0xFE) | 1);
    p[3] = uint8_t(pts >> 7);
    p[4] = uint8_t(((pts << 1) & 0xFE) | 1);
}

// DVD system header: rate bound 25200, one audio, one video, four streams.
constexpr uint8_t kDvdSystemHeader[24] = {0x00, 0x00, 0x01, 0xBB, 0x00, 0x12, 0x80, 0xC4, 0xE1, 0x04, 0xE1, 0xFF,
                                          0xE0, 0xE0, 0xE8, 0xBD, 0xE0, 0x3A, 0xBF, 0xE0, 0x02, 0xC0, 0xC0, 0x20};
// 720x576, 16:9, 25 Hz, 6 Mbit/s sequence header and a Main@Main sequence extension.
constexpr uint8_t kSequenceHeader[] = {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40, 0x33, 0x0E, 0xA6, 0x23, 0x80,
                                       0x00, 0x00, 0x01, 0xB5, 0x14, 0x82, 0x00, 0x01, 0x00, 0x00};

// A private-stream-2 packet of `length` bytes whose first byte is subStream.
size_t PutPrivateStream2(uint8_t* p, uint16_t length, uint8_t subStream)
{
    const uint8_t start[] = {0x00, 0x00, 0x01, 0xBF};
    std::memcpy(p, start, 4);
    PutBe16(p + 4, length);
    std::memset(p + 6, 0, length);
    p[6] = subStream;
    return 6u + length;
}

// One 2048-byte pack of a DVD-like stream. Every VOBU of 200 packs: a
// navigation pack, four AC-3 packs, then video packs; the first video packet of
// each VOBU opens with a sequence header.
void MakeDvdPack(uint8_t* pack, uint64_t index, Rng& rng)
{
    const uint64_t scr = index * 2048 * 27000000 / (10080000 / 8) / 300;  // at 10.08 Mbit/s
    PutPackHeader(pack, scr, 25200);
    const uint64_t inVobu = index % 200;
    uint8_t* p = pack + 14;
    if (inVobu == 0) {
        std::memcpy(p, kDvdSystemHeader, sizeof(kDvdSystemHeader));
        p += sizeof(kDvdSystemHeader);
        p += PutPrivateStream2(p, 980, 0x00);   // PCI
        p += PutPrivateStream2(p, 1018, 0x01);  // DSI
        return;
    }
    const bool audio = inVobu <= 4;
    const bool sequenceStart = inVobu == 5;
    const uint8_t start[] = {0x00, 0x00, 0x01, uint8_t(audio ? 0xBD : 0xE0)};
    std::memcpy(p, start, 4);
    PutBe16(p + 4, 2048 - 14 - 6);
    p[6] = 0x81;
    p[7] = 0x80;  // PTS only
    p[8] = 5;
    PutPts(p + 9, 90000 + index * 1800);
    uint8_t* payload = p + 14;
    size_t left = pack + 2048 - payload;
    if (audio) {
        payload[0] = 0x80;  // AC-3 sub-stream, one frame, first access unit at 1
        payload[1] = 0x01;
        payload[2] = 0x00;
        payload[3] = 0x01;
        payload += 4;
        left -= 4;
    } else if (sequenceStart) {
        std::memcpy(payload, kSequenceHeader, sizeof(kSequenceHeader));
        payload += sizeof(kSequenceHeader);
        left -= sizeof(kSequenceHeader);
    }
    rng.Fill(payload, left);
}

uint32_t Crc32Mpeg2(const uint8_t* p, size_t n)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= uint32_t(p[i]) << 24;
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return crc;
}

// One 188-byte transport packet: PAT and PMT every 4000 packets, otherwise a
// video PID whose PES packets start every 8 packets.
void MakeTsPacket(uint8_t* p, uint64_t index, Rng& rng)
{
    static const uint8_t kPat[] = {0x47, 0x40, 0x00, 0x10, 0x00, 0x00, 0xB0, 0x0D, 0x00, 0x01, 0xC1, 0x00,
                                   0x00, 0x00, 0x01, 0xF0, 0x00, 0x2A, 0xB1, 0x04, 0xB2};
    static const std::vector<uint8_t> kPmt = [] {
        std::vector<uint8_t> v = {0x47, 0x50, 0x00, 0x10, 0x00, 0x02, 0xB0, 0x12, 0x00, 0x01, 0xC1,
                                  0x00, 0x00, 0xE1, 0x00, 0xF0, 0x00, 0x02, 0xE1, 0x00, 0xF0, 0x00};
        const uint32_t crc = Crc32Mpeg2(v.data() + 5, v.size() - 5);  // the section, after pointer_field
        for (int shift = 24; shift >= 0; shift -= 8)
            v.push_back(uint8_t(crc >> shift));
        return v;
    }();
    const uint64_t cycle = index % 4000;
    if (cycle == 0 || cycle == 1) {
        const uint8_t* src = cycle == 0 ? kPat : kPmt.data();
        const size_t n = cycle == 0 ? sizeof(kPat) : kPmt.size();
        std::memcpy(p, src, n);
        std::memset(p + n, 0xFF, 188 - n);
        return;
    }
    const uint64_t videoIndex = index - (index / 4000 + 1) * 2;
    const bool unitStart = videoIndex % 8 == 0;
    p[0] = 0x47;
    p[1] = uint8_t((unitStart ? 0x40 : 0x00) | 0x01);  // PID 0x100
    p[2] = 0x00;
    p[3] = uint8_t(0x10 | (videoIndex & 0x0F));
    uint8_t* payload = p + 4;
    size_t left = 184;
    if (unitStart) {
        const uint8_t pes[] = {0x00, 0x00, 0x01, 0xE0, 0x00, 0x00, 0x81, 0x80, 0x05};
        std::memcpy(payload, pes, sizeof(pes));
        PutPts(payload + sizeof(pes), 90000 + videoIndex / 8 * 3600);
        payload += sizeof(pes) + 5;
        left -= sizeof(pes) + 5;
        std::memcpy(payload, kSequenceHeader, sizeof(kSequenceHeader));
        payload += sizeof(kSequenceHeader);
        left -= sizeof(kSequenceHeader);
    }
    rng.Fill(payload, left);
}

template <typename MakeUnit>
bool Generate(const fs::path& path, uint64_t size, size_t unit, MakeUnit make)
{
    std::error_code ec;
    if (fs::exists(path, ec) && fs::file_size(path, ec) == size)
        return true;
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    if (f == nullptr)
        return false;
    Rng rng;
    std::vector<uint8_t> chunk(unit * 1024);
    const uint64_t units = size / unit;
    bool ok = true;
    for (uint64_t i = 0; i < units && ok;) {
        const uint64_t batch = std::min<uint64_t>(1024, units - i);
        for (uint64_t k = 0; k < batch; ++k)
            make(chunk.data() + k * unit, i + k, rng);
        ok = std::fwrite(chunk.data(), unit, batch, f) == batch;
        i += batch;
    }
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

// ---- Measuring ----------------------------------------------------------------------------

struct Result {
    int32_t kind = 0;
    uint64_t bytes = 0, reads = 0, seeks = 0, size = 0;
    double firstUs = 0, bestUs = 0;
};

Result Measure(const fs::path& path, int repeat)
{
    Result r;
    const std::wstring wide = md::Utf8ToWide(path.string());
    for (int i = 0; i < repeat; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        MSFileInputStream file(wide.c_str());
        CountingInputStream counted(file);
        const int32_t kind = ProbeMediaKind(&counted, 0);
        const auto t1 = std::chrono::steady_clock::now();
        const double us = std::chrono::duration<double, std::micro>(t1 - t0).count();
        if (i == 0) {
            r.kind = kind;
            r.bytes = counted.bytes();
            r.reads = counted.reads();
            r.seeks = counted.seeks();
            r.size = file.Size();
            r.firstUs = r.bestUs = us;
        }
        r.bestUs = std::min(r.bestUs, us);
    }
    return r;
}

int Usage()
{
    std::fprintf(stderr, "usage: probe_bench [--out DIR] [--size-mb N] [--repeat N] [--no-generate] [FILE...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    fs::path outDir = fs::temp_directory_path() / "mediadetect-bench";
    uint64_t sizeMb = 200;
    int repeat = 3;
    bool generate = true;
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--out" && i + 1 < argc)
            outDir = argv[++i];
        else if (a == "--size-mb" && i + 1 < argc)
            sizeMb = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--repeat" && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else if (a == "--no-generate")
            generate = false;
        else if (a.rfind("--", 0) == 0)
            return Usage();
        else
            files.emplace_back(a);
    }

    if (generate && sizeMb > 0) {
        std::error_code ec;
        fs::create_directories(outDir, ec);
        const uint64_t bytes = sizeMb * 1024 * 1024;
        const fs::path ps = outDir / ("dvd_like_" + std::to_string(sizeMb) + "MiB.mpg");
        const fs::path ts = outDir / ("ts188_" + std::to_string(sizeMb) + "MiB.ts");
        const auto t0 = std::chrono::steady_clock::now();
        if (!Generate(ps, bytes / 2048 * 2048, 2048, MakeDvdPack) ||
            !Generate(ts, bytes / 188 * 188, 188, MakeTsPacket)) {
            std::fprintf(stderr, "probe_bench: cannot write the generated files in %s\n", outDir.string().c_str());
            return 1;
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("# generated files ready in %.1f s (%s)\n", s, outDir.string().c_str());
        files.push_back(ps);
        files.push_back(ts);
    }

    std::printf("# %4s %12s %10s %6s %6s %11s %11s  %s\n", "kind", "file bytes", "read", "reads", "seeks",
                "first us", "best us", "file");
    for (const auto& f : files) {
        const Result r = Measure(f, repeat);
        std::printf("  %4d %12llu %10llu %6llu %6llu %11.1f %11.1f  %s\n", r.kind,
                    static_cast<unsigned long long>(r.size), static_cast<unsigned long long>(r.bytes),
                    static_cast<unsigned long long>(r.reads), static_cast<unsigned long long>(r.seeks), r.firstUs,
                    r.bestUs, f.string().c_str());
    }
    return 0;
}
