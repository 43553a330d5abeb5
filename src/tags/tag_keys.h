// The one table from each tag system's keys to the common keys (title, artist, album, album_artist, track, disc,
// date, genre, comment, encoder, composer, copyright, ...). A key the table does not name is listed under the
// system's own key with the system's prefix: "id3:TBPM", "vorbis:REPLAYGAIN_TRACK_GAIN", "ape:MUSICBRAINZ_...".
#pragma once

#include <string>
#include <string_view>

namespace md {

enum class TagSystem {
    Id3v2,  // frame ids, 4 characters (3 in ID3v2.2); TXXX and COMM add their description: "TXXX:desc"
    Ape,  // APEv2 item keys, compared without case
    Vorbis,  // Vorbis comment field names, compared without case
    Mp4,  // iTunes item atoms and QuickTime user data ("©nam", "trkn"), and mdta key names
    Riff,  // RIFF INFO chunk ids
    Aiff,  // AIFF text chunk ids (NAME, AUTH, "(c) ", ANNO)
    Matroska,  // Matroska SimpleTag names, compared without case
    Asf,  // ASF content description names (Title, Author, ...) and extended content names ("WM/AlbumTitle")
};

// "id3", "ape", "vorbis", "mp4", "riff".
std::string_view TagPrefix(TagSystem system);

// The key a system's key is listed under: the common key of the table's row, else "prefix:key".
std::string TagKey(TagSystem system, std::string_view key);

// Whether key is one of the common keys the table maps to (writers that store a field their tag system has no key
// for under a free-form name use these names: ffmpeg's TXXX "comment").
bool IsCommonKey(std::string_view key);

}  // namespace md
