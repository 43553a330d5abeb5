#include "tags/id3v1_ape.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "tags/tag_keys.h"
#include "tags/tag_text.h"

namespace md {
namespace {

// ID3v1 genres 0-79, then Winamp's 80-147.
constexpr std::string_view kGenres[] = {
    "Blues",
    "Classic Rock",
    "Country",
    "Dance",
    "Disco",
    "Funk",
    "Grunge",
    "Hip-Hop",
    "Jazz",
    "Metal",
    "New Age",
    "Oldies",
    "Other",
    "Pop",
    "R&B",
    "Rap",
    "Reggae",
    "Rock",
    "Techno",
    "Industrial",
    "Alternative",
    "Ska",
    "Death Metal",
    "Pranks",
    "Soundtrack",
    "Euro-Techno",
    "Ambient",
    "Trip-Hop",
    "Vocal",
    "Jazz+Funk",
    "Fusion",
    "Trance",
    "Classical",
    "Instrumental",
    "Acid",
    "House",
    "Game",
    "Sound Clip",
    "Gospel",
    "Noise",
    "AlternRock",
    "Bass",
    "Soul",
    "Punk",
    "Space",
    "Meditative",
    "Instrumental Pop",
    "Instrumental Rock",
    "Ethnic",
    "Gothic",
    "Darkwave",
    "Techno-Industrial",
    "Electronic",
    "Pop-Folk",
    "Eurodance",
    "Dream",
    "Southern Rock",
    "Comedy",
    "Cult",
    "Gangsta",
    "Top 40",
    "Christian Rap",
    "Pop/Funk",
    "Jungle",
    "Native American",
    "Cabaret",
    "New Wave",
    "Psychadelic",
    "Rave",
    "Showtunes",
    "Trailer",
    "Lo-Fi",
    "Tribal",
    "Acid Punk",
    "Acid Jazz",
    "Polka",
    "Retro",
    "Musical",
    "Rock & Roll",
    "Hard Rock",
    // Winamp's additions.
    "Folk",
    "Folk-Rock",
    "National Folk",
    "Swing",
    "Fast Fusion",
    "Bebob",
    "Latin",
    "Revival",
    "Celtic",
    "Bluegrass",
    "Avantgarde",
    "Gothic Rock",
    "Progressive Rock",
    "Psychedelic Rock",
    "Symphonic Rock",
    "Slow Rock",
    "Big Band",
    "Chorus",
    "Easy Listening",
    "Acoustic",
    "Humour",
    "Speech",
    "Chanson",
    "Opera",
    "Chamber Music",
    "Sonata",
    "Symphony",
    "Booty Bass",
    "Primus",
    "Porn Groove",
    "Satire",
    "Slow Jam",
    "Club",
    "Tango",
    "Samba",
    "Folklore",
    "Ballad",
    "Power Ballad",
    "Rhythmic Soul",
    "Freestyle",
    "Duet",
    "Punk Rock",
    "Drum Solo",
    "A capella",
    "Euro-House",
    "Dance Hall",
    "Goa",
    "Drum & Bass",
    "Club-House",
    "Hardcore",
    "Terror",
    "Indie",
    "BritPop",
    "Afro-Punk",
    "Polsk Punk",
    "Beat",
    "Christian Gangsta",
    "Heavy Metal",
    "Black Metal",
    "Crossover",
    "Contemporary Christian",
    "Christian Rock",
    "Merengue",
    "Salsa",
    "Thrash Metal",
    "Anime",
    "JPop",
    "Synthpop",
};

// An ID3v1 field: ISO-8859-1 up to its first NUL, without trailing spaces.
std::string Field(Bytes tag, size_t at, size_t length)
{
    Bytes b = tag.subspan(at, length);
    size_t next = 0;
    b = b.first(TerminatedLength(b, 1, &next));
    while (!b.empty() && b.back() == ' ')
        b = b.first(b.size() - 1);
    return Latin1ToUtf8(b, kMaxTagValueBytes);
}

constexpr uint32_t kApeVersion1 = 1000, kApeVersion2 = 2000;
constexpr uint32_t kApeHasHeader = 0x80000000;
constexpr uint32_t kApeItemKindMask = 0x6;  // item flags bits 1-2: 0 text, 1 binary, 2 external link
constexpr size_t kApeItemHeader = 8;  // value size and flags
constexpr size_t kApeMaxKey = 255;

}  // namespace

std::string_view Id3v1GenreName(uint32_t genre)
{
    return genre < std::size(kGenres) ? kGenres[genre] : std::string_view();
}

bool ReadId3v1Tag(Bytes tag, TagList& tags)
{
    if (tag.size() != kId3v1Size || std::memcmp(tag.data(), "TAG", 3) != 0)
        return false;
    tags.SetIfMissing("title", Field(tag, 3, 30));
    tags.SetIfMissing("artist", Field(tag, 33, 30));
    tags.SetIfMissing("album", Field(tag, 63, 30));
    tags.SetIfMissing("date", Field(tag, 93, 4));
    // ID3v1.1: a zero byte before the comment's last byte makes that byte the track number.
    const bool v11 = tag[125] == 0 && tag[126] != 0;
    tags.SetIfMissing("comment", Field(tag, 97, v11 ? 28 : 30));
    if (v11)
        tags.SetIfMissing("track", std::to_string(tag[126]));
    tags.SetIfMissing("genre", Id3v1GenreName(tag[127]));
    return true;
}

bool ParseApeFooter(Bytes footer, ApeFooter& out)
{
    if (footer.size() < kApeFooterSize || std::memcmp(footer.data(), "APETAGEX", 8) != 0)
        return false;
    out.version = Le32(footer.data() + 8);
    out.tagSize = Le32(footer.data() + 12);
    out.itemCount = Le32(footer.data() + 16);
    out.hasHeader = (Le32(footer.data() + 20) & kApeHasHeader) != 0;
    return (out.version == kApeVersion1 || out.version == kApeVersion2) && out.tagSize >= kApeFooterSize;
}

void ReadApeItems(Bytes items, uint32_t itemCount, TagList& tags)
{
    size_t pos = 0;
    const uint32_t count = std::min(itemCount, kMaxApeItems);
    for (uint32_t i = 0; i < count && Has(items, pos, kApeItemHeader); ++i) {
        const uint32_t valueSize = Le32(items.data() + pos);
        const uint32_t flags = Le32(items.data() + pos + 4);
        const Bytes rest = items.subspan(pos + kApeItemHeader);
        size_t next = 0;
        const size_t keyLength = TerminatedLength(rest.first(std::min(rest.size(), kApeMaxKey + 1)), 1, &next);
        if (next == keyLength || keyLength < 2)
            return;  // no terminator within the longest key, or a key too short
        const Bytes key = rest.first(keyLength);
        if (std::any_of(key.begin(), key.end(), [](uint8_t c) { return c < 0x20 || c > 0x7E; }))
            return;
        if (!Has(rest, next, valueSize))
            return;  // cut short
        pos += kApeItemHeader + next + valueSize;
        if ((flags & kApeItemKindMask) != 0 || valueSize > kMaxApeItemBytes)
            continue;
        tags.Set(TagKey(TagSystem::Ape, AsText(key)), AsText(rest.subspan(next, valueSize)));
    }
}

}  // namespace md
