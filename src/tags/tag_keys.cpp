#include "tags/tag_keys.h"

#include <cstddef>

namespace md {
namespace {

struct KeyRow {
    TagSystem system;
    std::string_view key;
    std::string_view common;
};

constexpr KeyRow kKeyRows[] = {
    // ID3v2.3 and 2.4 frames, with the 3-character frames of ID3v2.2 beside them.
    {TagSystem::Id3v2, "TIT2", "title"},
    {TagSystem::Id3v2, "TT2", "title"},
    {TagSystem::Id3v2, "TPE1", "artist"},
    {TagSystem::Id3v2, "TP1", "artist"},
    {TagSystem::Id3v2, "TALB", "album"},
    {TagSystem::Id3v2, "TAL", "album"},
    {TagSystem::Id3v2, "TPE2", "album_artist"},
    {TagSystem::Id3v2, "TP2", "album_artist"},
    {TagSystem::Id3v2, "TRCK", "track"},
    {TagSystem::Id3v2, "TRK", "track"},
    {TagSystem::Id3v2, "TPOS", "disc"},
    {TagSystem::Id3v2, "TPA", "disc"},
    {TagSystem::Id3v2, "TDRC", "date"},
    {TagSystem::Id3v2, "TYER", "date"},
    {TagSystem::Id3v2, "TYE", "date"},
    {TagSystem::Id3v2, "TCON", "genre"},
    {TagSystem::Id3v2, "TCO", "genre"},
    {TagSystem::Id3v2, "COMM:", "comment"},
    {TagSystem::Id3v2, "COM:", "comment"},
    {TagSystem::Id3v2, "TSSE", "encoder"},
    {TagSystem::Id3v2, "TSS", "encoder"},
    {TagSystem::Id3v2, "TENC", "encoded_by"},
    {TagSystem::Id3v2, "TEN", "encoded_by"},
    {TagSystem::Id3v2, "TCOM", "composer"},
    {TagSystem::Id3v2, "TCM", "composer"},
    {TagSystem::Id3v2, "TCOP", "copyright"},
    {TagSystem::Id3v2, "TCR", "copyright"},
    {TagSystem::Id3v2, "TPUB", "publisher"},
    {TagSystem::Id3v2, "TPB", "publisher"},
    {TagSystem::Id3v2, "TPE3", "performer"},
    {TagSystem::Id3v2, "TP3", "performer"},
    {TagSystem::Id3v2, "TLAN", "language"},
    {TagSystem::Id3v2, "TLA", "language"},
    // APEv2 items.
    {TagSystem::Ape, "Title", "title"},
    {TagSystem::Ape, "Artist", "artist"},
    {TagSystem::Ape, "Album", "album"},
    {TagSystem::Ape, "Album Artist", "album_artist"},
    {TagSystem::Ape, "Track", "track"},
    {TagSystem::Ape, "Disc", "disc"},
    {TagSystem::Ape, "Year", "date"},
    {TagSystem::Ape, "Genre", "genre"},
    {TagSystem::Ape, "Comment", "comment"},
    {TagSystem::Ape, "Composer", "composer"},
    {TagSystem::Ape, "Copyright", "copyright"},
    {TagSystem::Ape, "Publisher", "publisher"},
    {TagSystem::Ape, "Language", "language"},
    // Vorbis comments.
    {TagSystem::Vorbis, "TITLE", "title"},
    {TagSystem::Vorbis, "ARTIST", "artist"},
    {TagSystem::Vorbis, "ALBUM", "album"},
    {TagSystem::Vorbis, "ALBUMARTIST", "album_artist"},
    {TagSystem::Vorbis, "ALBUM ARTIST", "album_artist"},
    {TagSystem::Vorbis, "ALBUM_ARTIST", "album_artist"},
    {TagSystem::Vorbis, "TRACKNUMBER", "track"},
    {TagSystem::Vorbis, "DISCNUMBER", "disc"},
    {TagSystem::Vorbis, "DATE", "date"},
    {TagSystem::Vorbis, "GENRE", "genre"},
    {TagSystem::Vorbis, "COMMENT", "comment"},
    {TagSystem::Vorbis, "DESCRIPTION", "comment"},
    {TagSystem::Vorbis, "ENCODER", "encoder"},
    {TagSystem::Vorbis, "ENCODED_BY", "encoded_by"},
    {TagSystem::Vorbis, "COMPOSER", "composer"},
    {TagSystem::Vorbis, "COPYRIGHT", "copyright"},
    {TagSystem::Vorbis, "PERFORMER", "performer"},
    {TagSystem::Vorbis, "ORGANIZATION", "publisher"},
    {TagSystem::Vorbis, "LANGUAGE", "language"},
    // iTunes items and QuickTime user data (the © sign in UTF-8), and the mdta keys of Apple's cameras.
    {TagSystem::Mp4, "\xC2\xA9nam", "title"},
    {TagSystem::Mp4,
     "\xC2\xA9"
     "ART",
     "artist"},
    {TagSystem::Mp4,
     "\xC2\xA9"
     "alb",
     "album"},
    {TagSystem::Mp4, "aART", "album_artist"},
    {TagSystem::Mp4, "trkn", "track"},
    {TagSystem::Mp4, "disk", "disc"},
    {TagSystem::Mp4,
     "\xC2\xA9"
     "day",
     "date"},
    {TagSystem::Mp4, "\xC2\xA9gen", "genre"},
    {TagSystem::Mp4, "gnre", "genre"},
    {TagSystem::Mp4,
     "\xC2\xA9"
     "cmt",
     "comment"},
    {TagSystem::Mp4, "\xC2\xA9too", "encoder"},
    {TagSystem::Mp4, "\xC2\xA9swr", "encoder"},
    {TagSystem::Mp4, "\xC2\xA9wrt", "composer"},
    {TagSystem::Mp4, "cprt", "copyright"},
    {TagSystem::Mp4, "\xC2\xA9xyz", "location"},
    {TagSystem::Mp4, "\xC2\xA9mak", "make"},
    {TagSystem::Mp4, "\xC2\xA9mod", "model"},
    {TagSystem::Mp4, "com.apple.quicktime.location.ISO6709", "location"},
    {TagSystem::Mp4, "com.apple.quicktime.make", "make"},
    {TagSystem::Mp4, "com.apple.quicktime.model", "model"},
    {TagSystem::Mp4, "com.apple.quicktime.software", "encoder"},
    // RIFF INFO chunks.
    {TagSystem::Riff, "INAM", "title"},
    {TagSystem::Riff, "IART", "artist"},
    {TagSystem::Riff, "IPRD", "album"},
    {TagSystem::Riff, "ICMT", "comment"},
    {TagSystem::Riff, "ISFT", "encoder"},
    {TagSystem::Riff, "ICRD", "date"},
    {TagSystem::Riff, "IGNR", "genre"},
    {TagSystem::Riff, "ICOP", "copyright"},
    {TagSystem::Riff, "ILNG", "language"},
    {TagSystem::Riff, "IPRT", "track"},
    {TagSystem::Riff, "ITRK", "track"},
    // AIFF text chunks.
    {TagSystem::Aiff, "NAME", "title"},
    {TagSystem::Aiff, "AUTH", "artist"},
    {TagSystem::Aiff, "(c) ", "copyright"},
    {TagSystem::Aiff, "ANNO", "comment"},
    // Matroska SimpleTag names (of global tags).
    {TagSystem::Matroska, "TITLE", "title"},
    {TagSystem::Matroska, "ARTIST", "artist"},
    {TagSystem::Matroska, "ALBUM", "album"},
    {TagSystem::Matroska, "ALBUM_ARTIST", "album_artist"},
    {TagSystem::Matroska, "PART_NUMBER", "track"},
    {TagSystem::Matroska, "TRACK", "track"},
    {TagSystem::Matroska, "DISC", "disc"},
    {TagSystem::Matroska, "DATE_RELEASED", "date"},
    {TagSystem::Matroska, "DATE", "date"},
    {TagSystem::Matroska, "GENRE", "genre"},
    {TagSystem::Matroska, "COMMENT", "comment"},
    {TagSystem::Matroska, "ENCODER", "encoder"},
    {TagSystem::Matroska, "ENCODED_BY", "encoded_by"},
    {TagSystem::Matroska, "COMPOSER", "composer"},
    {TagSystem::Matroska, "COPYRIGHT", "copyright"},
    {TagSystem::Matroska, "PUBLISHER", "publisher"},
    {TagSystem::Matroska, "LEAD_PERFORMER", "performer"},
    // ASF content descriptions.
    {TagSystem::Asf, "Title", "title"},
    {TagSystem::Asf, "Author", "artist"},
    {TagSystem::Asf, "Copyright", "copyright"},
    {TagSystem::Asf, "Description", "comment"},
    {TagSystem::Asf, "WM/AlbumTitle", "album"},
    {TagSystem::Asf, "WM/AlbumArtist", "album_artist"},
    {TagSystem::Asf, "WM/TrackNumber", "track"},
    {TagSystem::Asf, "WM/PartOfSet", "disc"},
    {TagSystem::Asf, "WM/Year", "date"},
    {TagSystem::Asf, "WM/Genre", "genre"},
    {TagSystem::Asf, "WM/Composer", "composer"},
    {TagSystem::Asf, "WM/Publisher", "publisher"},
    {TagSystem::Asf, "WM/Language", "language"},
    {TagSystem::Asf, "WM/EncodedBy", "encoded_by"},
    {TagSystem::Asf, "WM/EncodingSettings", "encoder"},
    {TagSystem::Asf, "WM/ToolName", "encoder"},
    {TagSystem::Asf, "WM/MediaStationName", "service_name"},
    {TagSystem::Asf, "WM/MediaStationCallSign", "service_provider"},
};

// Vorbis, APE and Matroska keys are ASCII names compared without case; the others are compared as they are.
bool SameKey(TagSystem system, std::string_view a, std::string_view b)
{
    if (system != TagSystem::Vorbis && system != TagSystem::Ape && system != TagSystem::Matroska)
        return a == b;
    if (a.size() != b.size())
        return false;
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

}  // namespace

std::string_view TagPrefix(TagSystem system)
{
    switch (system) {
    case TagSystem::Id3v2: return "id3";
    case TagSystem::Ape: return "ape";
    case TagSystem::Vorbis: return "vorbis";
    case TagSystem::Mp4: return "mp4";
    case TagSystem::Riff: return "riff";
    case TagSystem::Aiff: return "aiff";
    case TagSystem::Asf: return "asf";
    case TagSystem::Matroska: return "mkv";
    }
    return "tag";
}

bool IsCommonKey(std::string_view key)
{
    for (const KeyRow& row : kKeyRows)
        if (row.common == key)
            return true;
    return key == "creation_time" || key == "writing_app";
}

std::string TagKey(TagSystem system, std::string_view key)
{
    for (const KeyRow& row : kKeyRows)
        if (row.system == system && SameKey(system, row.key, key))
            return std::string(row.common);
    std::string out(TagPrefix(system));
    out += ':';
    out += key;
    return out;
}

}  // namespace md
