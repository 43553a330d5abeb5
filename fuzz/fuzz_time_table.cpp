// The time-table walk over arbitrary bytes: a pack checker with inspection on,
// fed as the time-table worker feeds it (reads of whole chunks into a buffer
// that keeps the unfinished pack of the last scan at its start, at most 16 chunks
// a read, room for 4 more for the carried pack), and the entries the worker
// stores (a PTS and a key picture) turned into file positions. The first byte
// picks the checker and the chunk size: 64 KiB as the worker reads, or smaller
// so that a short input still spans many reads. Every stored position must be a
// pack start of the input, after the one stored before it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "mpeg/pack_check.h"
#include "fuzz_check.h"

namespace {

constexpr uint8_t kPackStart[4] = {0x00, 0x00, 0x01, 0xBA};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    std::unique_ptr<md::MpegPackCheck> checker;
    if (mode & 1)
        checker = std::make_unique<md::Mpeg2PackCheck>();
    else
        checker = std::make_unique<md::Mpeg1PackCheck>();
    checker->SetInspect(true);
    static constexpr uint32_t kChunkSizes[4] = {0x10000, 0x2000, 0x800, 0x200};
    const uint32_t chunkSize = kChunkSizes[(mode >> 1) & 3];
    const uint32_t readSize = 16 * chunkSize;
    const uint32_t bufferSize = readSize + 4 * chunkSize;

    std::vector<uint8_t> buffer(bufferSize);
    md::PackEntryList entries;
    uint64_t done = 0;  // file bytes consumed by the scans so far
    size_t readAt = 0;  // file bytes read so far
    uint32_t carried = 0;
    int64_t lastPosition = -1;
    while (true) {
        const uint32_t room = std::min(readSize, (bufferSize - carried) / chunkSize * chunkSize);
        if (room == 0)
            break;
        const size_t got = std::min<size_t>(room, size - readAt);
        std::memcpy(buffer.data() + carried, data + readAt, got);
        readAt += got;
        const auto whole = static_cast<uint32_t>(got / chunkSize * chunkSize);
        if (whole == 0)
            break;
        const uint32_t count = carried + whole;
        const uint32_t consumed = checker->ScanPacks(buffer.data(), count, &entries, false);
        Check(consumed <= count);
        for (const md::PackEntry& entry : entries) {
            if (!entry.ptsPresent || !entry.key)
                continue;
            const auto position = static_cast<int64_t>(entry.offset + done);
            Check(position > lastPosition);
            Check(position + 4 <= int64_t(size) && std::memcmp(data + position, kPackStart, 4) == 0);
            Check(entry.video == 1);
            lastPosition = position;
        }
        entries.clear();
        done += consumed;
        if (got < room)
            break;
        carried = count - consumed;
        std::memmove(buffer.data(), buffer.data() + consumed, carried);
    }
    return 0;
}
