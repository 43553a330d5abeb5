// The tag readers over arbitrary bytes: ID3v2 from the start, ID3v1 from the last 128 bytes, APEv2 items with the
// count the first four bytes give, Vorbis comments bare and in their codec packets, the MP4 boxes ('mvhd',
// 'udta', 'meta') and the 'covr' picture of a 'moov' payload, RIFF INFO lists and 'bext' chunks and ASF content
// descriptions; the ID3v2 pictures and a FLAC PICTURE block placed. Whatever the bytes, a list stays within its caps
// and holds only non-empty, valid UTF-8 keys and values of bounded length, and a placed picture lies within the limit
// and within its tag or block.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "demux/tag_list.h"
#include "fuzz_check.h"
#include "tags/asf_tags.h"
#include "tags/id3v1_ape.h"
#include "tags/id3v2.h"
#include "tags/mp4_tags.h"
#include "tags/pictures.h"
#include "tags/riff_info.h"
#include "tags/vorbis_comment.h"

namespace {

void CheckList(const md::TagList& tags)
{
    Check(tags.Count() <= md::kMaxTags);
    for (size_t i = 0; i < tags.Count(); ++i) {
        const md::Tag& t = tags.At(i);
        Check(!t.key.empty() && t.key.size() <= md::kMaxTagKeyBytes);
        Check(!t.value.empty() && t.value.size() <= md::kMaxTagValueBytes);
        Check(md::CleanUtf8(t.key, md::kMaxTagKeyBytes) == t.key);
        Check(md::CleanUtf8(t.value, md::kMaxTagValueBytes) == t.value);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const md::Bytes b(data, size);
    md::TagList tags;
    md::CoverLocation cover;
    md::ReadId3v2Tag(b, tags, &cover, 0);
    CheckList(tags);
    Check(cover.length <= md::kMaxCoverBytes && cover.offset + cover.length <= 10 + (uint64_t(1) << 28));  // in the tag
    md::CoverLocation flac;
    md::PlaceFlacPicture(b, 0, uint32_t(size), flac);
    Check(flac.offset + flac.length <= size);
    if (size >= md::kId3v1Size)
        md::ReadId3v1Tag(b.last(md::kId3v1Size), tags);
    CheckList(tags);
    md::TagList ape;
    if (size >= 4)
        md::ReadApeItems(b.subspan(4), md::Le32(data), ape);
    md::ApeFooter footer;
    if (size >= md::kApeFooterSize && md::ParseApeFooter(b.last(md::kApeFooterSize), footer))
        Check(footer.tagSize >= md::kApeFooterSize);
    CheckList(ape);
    md::TagList vorbis;
    md::CoverLocation vorbisCover;
    md::ReadVorbisComment(b, vorbis, &vorbisCover, 0);
    Check(vorbisCover.offset + vorbisCover.length <= size);  // the base64 text lies in the comment
    std::vector<uint8_t> decoded;
    md::DecodeBase64(b, decoded);
    Check(decoded.size() <= size / 4 * 3 + 2);
    md::FlacPictureBytes(md::Bytes(decoded));
    md::ReadXiphCommentPacket(b, vorbis);
    CheckList(vorbis);
    md::TagList mp4;
    md::ReadMvhdTags(b, mp4);
    md::ReadUdtaTags(b, mp4);
    md::ReadMetaTags(b, mp4);
    CheckList(mp4);
    md::CoverLocation mp4Cover;  // the bytes as a 'moov' payload at file offset 8
    md::PlaceMp4Cover(b, 8, mp4Cover);
    Check(mp4Cover.length == 0 || (mp4Cover.offset >= 8 && mp4Cover.offset + mp4Cover.length <= 8 + size));
    md::TagList riff;
    md::ReadRiffInfo(b, riff);
    md::ReadBext(b.first(std::min(size, md::kMaxBextBytes)), riff);
    md::ReadIxml(b.first(std::min(size, md::kMaxIxmlBytes)), riff);
    CheckList(riff);
    md::TagList asf;
    md::ReadAsfContentDescription(b, asf);
    md::ReadAsfExtendedContent(b, asf);
    CheckList(asf);
    return 0;
}
