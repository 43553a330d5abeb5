// The pack checkers over arbitrary bytes cut into pieces whose sizes come from
// the input, each piece presented with the unfinished pack of the last scan in
// front of it, as a caller reading a file in buffers does. The first byte picks
// the checker, whether PES payloads are inspected and whether entries are kept.
// Every entry must describe a pack inside the buffer it came from, at the offset
// it names, in order.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "mpeg/pack_check.h"
#include "fuzz_check.h"

namespace {

// Larger inputs are cut: nothing new happens past the first megabyte.
constexpr size_t kMaxInput = 1u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const uint8_t mode = data[0];
    const uint8_t pieceUnit = data[1];
    data += 2;
    size = std::min(size - 2, kMaxInput);
    std::unique_ptr<md::MpegPackCheck> checker;
    if (mode & 1)
        checker = std::make_unique<md::Mpeg2PackCheck>();
    else
        checker = std::make_unique<md::Mpeg1PackCheck>();
    checker->SetInspect((mode & 2) != 0);
    const bool keep = (mode & 4) == 0;

    std::vector<uint8_t> buffer;
    md::PackEntryList entries;
    uint64_t bufferStart = 0;  // file offset of buffer[0]
    uint64_t lastPack = 0;
    bool anyPack = false;
    size_t at = 0;
    while (true) {
        const size_t piece = std::min<size_t>(size - at, 16 + size_t(pieceUnit) * 256);
        const bool final = at + piece == size;
        buffer.insert(buffer.end(), data + at, data + at + piece);
        at += piece;
        const auto length = static_cast<uint32_t>(buffer.size());
        entries.clear();
        const uint32_t consumed = checker->ScanPacks(buffer.data(), length, keep ? &entries : nullptr, final);
        Check(consumed <= length);
        for (const md::PackEntry& e : entries) {
            Check(e.pack == buffer.data() + e.offset);
            Check(e.offset + e.length <= length);
            const uint64_t position = bufferStart + e.offset;
            Check(!anyPack || position > lastPack);
            Check(std::memcmp(e.pack, data + position, std::min<size_t>(e.length, 16)) == 0);
            lastPack = position;
            anyPack = true;
        }
        if (final)
            break;
        buffer.erase(buffer.begin(), buffer.begin() + consumed);
        bufferStart += consumed;
    }
    return 0;
}
