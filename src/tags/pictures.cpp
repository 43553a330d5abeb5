#include "tags/pictures.h"

#include <initializer_list>

namespace md {

void PlaceFlacPicture(Bytes body, uint64_t bodyOffset, uint32_t blockLength, CoverLocation& cover)
{
    constexpr uint32_t kFrontCover = 3;
    constexpr size_t kDimensionBytes = 16;  // width, height, colour depth, colours used
    const uint32_t pictureType = Be32At(body, 0);
    const uint64_t mimeLength = Be32At(body, 4);
    if (!Has(body, 0, 8) || !Has(body, 8, mimeLength))
        return;
    const uint64_t descriptionAt = 8 + mimeLength;
    if (!Has(body, descriptionAt, 4))
        return;
    const uint64_t lengthAt = descriptionAt + 4 + Be32At(body, descriptionAt) + kDimensionBytes;
    if (!Has(body, lengthAt, 4))
        return;
    const uint64_t pictureAt = lengthAt + 4;
    const uint64_t length = Be32At(body, lengthAt);
    if (pictureAt + length > blockLength)
        return;  // a picture running past its block
    cover.Offer(bodyOffset + pictureAt, length, pictureType == kFrontCover);
}

namespace {

constexpr uint32_t kUdta = FourCC("udta"), kMeta = FourCC("meta"), kIlst = FourCC("ilst"), kCovr = FourCC("covr"),
                   kData = FourCC("data"), kHdlr = FourCC("hdlr");

// A box found among the children of a parent box: where its payload starts and ends.
struct BoxPlace {
    uint64_t body = 0;
    uint64_t end = 0;
};

// The first child box of type within [from, end), by reading each child's header; false when there is none, a
// header is malformed, or *budget (box headers left to read) runs out.
bool FindChild(ZPMP::InputStream& input, uint64_t from, uint64_t end, uint32_t type, BoxPlace& found, int& budget)
{
    uint64_t pos = from;
    while (budget > 0 && pos + 8 <= end) {
        --budget;
        uint8_t h[16] = {};
        if (ZPMP::ReadAt(input, pos, h, sizeof h) < 8)
            return false;
        uint64_t size = Be32(h);
        uint64_t headerSize = 8;
        if (size == 1) {
            size = Be64(h + 8);
            headerSize = 16;
        } else if (size == 0) {
            size = end - pos;  // runs to the end of its parent
        }
        if (size < headerSize || size > end - pos)
            return false;
        if (Be32(h + 4) == type) {
            found = {pos + headerSize, pos + size};
            return true;
        }
        pos += size;
    }
    return false;
}

// The payload of a 'meta' box after its version and flags, which QuickTime's leave out (its first child, 'hdlr',
// follows the box header at once).
uint64_t MetaChildren(ZPMP::InputStream& input, const BoxPlace& meta)
{
    uint8_t h[8] = {};
    if (ZPMP::ReadAt(input, meta.body, h, sizeof h) == sizeof h && Be32(h + 4) == kHdlr)
        return meta.body;
    return meta.body + 4;
}

}  // namespace

void PlaceMp4Cover(ZPMP::InputStream& input, uint64_t moovBody, uint64_t moovEnd, CoverLocation& cover)
{
    constexpr uint64_t kDataHeader = 8;  // type indicator and locale, before the value
    int budget = kMaxMp4CoverBoxes;
    BoxPlace udta, meta, ilst, covr, data;
    for (const bool inUdta : {true, false}) {
        if (inUdta) {
            if (!FindChild(input, moovBody, moovEnd, kUdta, udta, budget) ||
                !FindChild(input, udta.body, udta.end, kMeta, meta, budget))
                continue;
        } else if (!FindChild(input, moovBody, moovEnd, kMeta, meta, budget)) {
            continue;
        }
        if (FindChild(input, MetaChildren(input, meta), meta.end, kIlst, ilst, budget) &&
            FindChild(input, ilst.body, ilst.end, kCovr, covr, budget) &&
            FindChild(input, covr.body, covr.end, kData, data, budget) && data.end - data.body > kDataHeader) {
            cover.Offer(data.body + kDataHeader, data.end - data.body - kDataHeader, true);
            return;
        }
    }
}

}  // namespace md
