#include "tags/pictures.h"

#include <algorithm>
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

bool DecodeBase64(Bytes text, std::vector<uint8_t>& out)
{
    out.clear();
    out.reserve(text.size() / 4 * 3 + 3);
    uint32_t bits = 0;
    int held = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const uint8_t c = text[i];
        uint32_t v = 0;
        if (c >= 'A' && c <= 'Z')
            v = uint32_t(c - 'A');
        else if (c >= 'a' && c <= 'z')
            v = uint32_t(c - 'a') + 26;
        else if (c >= '0' && c <= '9')
            v = uint32_t(c - '0') + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '=')
            return text.size() - i <= 2;  // padding ends the text
        else
            return false;
        bits = bits << 6 | v;
        held += 6;
        if (held >= 8) {
            held -= 8;
            out.push_back(uint8_t(bits >> held));
        }
    }
    return true;
}

void PlaceBase64FlacPicture(Bytes text, uint64_t textOffset, CoverLocation& cover)
{
    constexpr uint32_t kFrontCover = 3;
    constexpr size_t kTypeText = 8;  // 6 bytes: the 4-byte picture type and more
    std::vector<uint8_t> head;
    if (text.size() <= kTypeText || !DecodeBase64(text.first(kTypeText), head) || head.size() < 4)
        return;
    cover.Offer(textOffset, text.size(), Be32(head.data()) == kFrontCover, true);
}

std::vector<uint8_t> FlacPictureBytes(Bytes block)
{
    CoverLocation inner;
    PlaceFlacPicture(block, 0, uint32_t(std::min<size_t>(block.size(), UINT32_MAX)), inner);
    if (!inner.Found())
        return {};
    const Bytes picture = block.subspan(size_t(inner.offset), inner.length);
    return {picture.begin(), picture.end()};
}

namespace {

constexpr uint32_t kUdta = FourCC("udta"), kMeta = FourCC("meta"), kIlst = FourCC("ilst"), kCovr = FourCC("covr"),
                   kData = FourCC("data"), kHdlr = FourCC("hdlr");

// A box found among the children of a parent box: where its payload starts and ends, as offsets into the 'moov'
// payload.
struct BoxPlace {
    uint64_t body = 0;
    uint64_t end = 0;
};

// The first child box of type within moov[from, end), by each child's header; false when there is none, a header
// is malformed, or *budget (box headers left to look at) runs out.
bool FindChild(Bytes moov, uint64_t from, uint64_t end, uint32_t type, BoxPlace& found, int& budget)
{
    uint64_t pos = from;
    while (budget > 0 && pos + 8 <= end && end <= moov.size()) {
        --budget;
        uint8_t h[16] = {};  // a 64-bit size cut off by the end of the payload reads as 0: malformed
        std::copy_n(moov.data() + pos, std::min<uint64_t>(sizeof h, moov.size() - pos), h);
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
uint64_t MetaChildren(Bytes moov, const BoxPlace& meta)
{
    if (Be32At(moov, size_t(meta.body) + 4) == kHdlr)
        return meta.body;
    return meta.body + 4;
}

}  // namespace

void PlaceMp4Cover(Bytes moov, uint64_t moovOffset, CoverLocation& cover)
{
    constexpr uint64_t kDataHeader = 8;  // type indicator and locale, before the value
    int budget = kMaxMp4CoverBoxes;
    BoxPlace udta, meta, ilst, covr, data;
    for (const bool inUdta : {true, false}) {
        if (inUdta) {
            if (!FindChild(moov, 0, moov.size(), kUdta, udta, budget) ||
                !FindChild(moov, udta.body, udta.end, kMeta, meta, budget))
                continue;
        } else if (!FindChild(moov, 0, moov.size(), kMeta, meta, budget)) {
            continue;
        }
        if (FindChild(moov, MetaChildren(moov, meta), meta.end, kIlst, ilst, budget) &&
            FindChild(moov, ilst.body, ilst.end, kCovr, covr, budget) &&
            FindChild(moov, covr.body, covr.end, kData, data, budget) && data.end - data.body > kDataHeader) {
            cover.Offer(moovOffset + data.body + kDataHeader, data.end - data.body - kDataHeader, true);
            return;
        }
    }
}

}  // namespace md
