// The tags of the corpus and real-world files through IMediaDetectTags, against ffprobe's reference: every tag
// ffprobe lists for a family whose tags the detector reads must be there with the same value, and every common key
// the detector lists must be one ffprobe lists; the places where the two differ are listed with their reason.
// Also the interface's contract: the sizes in and out, the answers without MD_EXT_TAGS.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "support/files.h"
#include "support/module.h"

namespace {

namespace fs = std::filesystem;
using TagMap = std::map<std::string, std::string>;

// The kinds whose tags the detector reads; files of other kinds are not compared.
const std::set<uint32_t> kKindsWithTags = {MK_MP3, MK_ADTS, MK_AC3,  MK_EAC3, MK_DTS, MK_FLAC,     MK_OGG,  MK_MP4,
                                           MK_WAV, MK_AVI,  MK_AIFF, MK_ASF,  MK_FLV, MK_MATROSKA, MK_WEBM, MK_MXF};

// ffprobe's generic keys: the detector lists each under the same common key, never under a system's own key.
const std::set<std::string> kCommonKeys = {
    "title",     "artist",   "album",         "album_artist", "track",    "disc",      "date",
    "genre",     "comment",  "encoder",       "encoded_by",   "composer", "copyright", "publisher",
    "performer", "language", "creation_time", "location",     "make",     "model",
};

// Keys ffprobe lists that are not tags the detector reads, and why.
const std::map<std::string, std::string> kNotTags = {
    {"major_brand", "the MP4 file type box: a brand, not a tag"},
    {"minor_version", "the MP4 file type box"},
    {"compatible_brands", "the MP4 file type box"},
    {"operational_pattern_ul", "MXF: the operational pattern's label (MDI_MXF_PATTERN names it)"},
    {"material_package_umid", "MXF: the material package's identifier, not the Identification set"},
    {"material_package_name", "MXF: the material package's name, not the Identification set"},
    {"timecode", "MXF: the start time code of a track, not the Identification set"},
};

// The detector's common keys that ffprobe does not list for a file, and why.
const std::map<std::string, std::string> kOnlyOurs = {
    {"writing_app", "Matroska's WritingApp, which ffprobe does not show (its encoder is the MuxingApp)"},
};

// ffprobe's keys that the detector lists under a common key: Apple's 'mdta' keys, which ffprobe shows by their
// own names.
const std::map<std::string, std::string> kCommonFor = {
    {"com.apple.quicktime.location.ISO6709", "location"},
    {"com.apple.quicktime.make", "make"},
    {"com.apple.quicktime.model", "model"},
    {"com.apple.quicktime.software", "encoder"},
    // ffprobe names an AVI's IPRD and ISFT so, a WAV's album and encoder.
    {"product", "album"},
    {"software", "encoder"},
    // ffprobe's author (AIFF's AUTH chunk) is the detector's artist.
    {"author", "artist"},
};

// Tags of one file that ffprobe and the detector name otherwise: the detector's key, and why.
struct Renamed {
    const char* file;
    const char* theirKey;
    const char* ourKey;
    const char* why;
};
const Renamed kRenamed[] = {
    {"wav_bwf_bext_ixml_48k_mono.wav", "creation_time", "riff:bext:origination_time",
     "BWF's origination time is a local time of day, not a UTC date and time"},
};

// ffprobe's value as the detector gives it: creation_time without ffprobe's microseconds
// ("2016-02-02T17:51:27.000000Z" is "2016-02-02T17:51:27Z").
std::string Normalized(const std::string& key, std::string value)
{
    if (key == "creation_time" && value.size() == 27 && value.compare(19, 8, ".000000Z") == 0)
        value = value.substr(0, 19) + "Z";
    return value;
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

class Tags : public md::test::DetectorTest {
protected:
    void SetUp() override
    {
        DetectorTest::SetUp();
        ASSERT_EQ(m_detector->QueryInterface(IID_IMediaDetectTags, reinterpret_cast<void**>(&m_tags)), S_OK);
    }
    void TearDown() override
    {
        if (m_tags)
            m_tags->Release();
        DetectorTest::TearDown();
    }

    void SetExtensions(uint32_t bits) { ASSERT_EQ(m_info->SetInfo(MDI_EXTENSIONS, &bits), S_OK); }

    uint32_t Open(const fs::path& file)
    {
        uint32_t kind = 99;
        EXPECT_EQ(m_detector->OpenFileA(file.c_str(), &kind), S_OK) << file;
        return kind;
    }

    // Every tag, each read with buffers of exactly the sizes the first call asks for.
    TagMap ReadTags()
    {
        TagMap tags;
        uint32_t count = 0;
        EXPECT_EQ(m_tags->GetTagCount(&count), S_OK);
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t keySize = 0, valueSize = 0;
            EXPECT_EQ(m_tags->GetTag(i, nullptr, &keySize, nullptr, &valueSize), MD_E_INSUFFICIENT_BUFFER);
            std::string key(keySize, 'x'), value(valueSize, 'x');
            EXPECT_EQ(m_tags->GetTag(i, key.data(), &keySize, value.data(), &valueSize), S_OK);
            EXPECT_TRUE(key.back() == '\0' && value.back() == '\0');
            key.pop_back(), value.pop_back();
            EXPECT_TRUE(tags.emplace(key, value).second) << "key listed twice: " << key;
        }
        return tags;
    }

    // Compares every file of dir whose kind has tags with its reference; the files it compared.
    int CompareDirectory(const fs::path& dir)
    {
        SetExtensions(MD_EXT_ALL);
        int compared = 0;
        for (const fs::path& file : md::test::MediaFiles(dir)) {
            const uint32_t kind = Open(file);
            if (!kKindsWithTags.count(kind))
                continue;
            std::ifstream in(dir / "reference" / (file.filename().string() + ".ffprobe.json"));
            if (!in)
                continue;
            const nlohmann::json ref = nlohmann::json::parse(in);
            // ffprobe lists the comments of an Ogg stream as the stream's tags.
            const auto tagsOf = [](const nlohmann::json& j) {
                return j.is_object() && j.contains("tags") ? j["tags"] : nlohmann::json::object();
            };
            nlohmann::json theirs = tagsOf(ref.value("format", nlohmann::json()));
            if (kind == MK_OGG && ref.contains("streams") && !ref["streams"].empty())
                theirs = tagsOf(ref["streams"][0]);
            CompareFile(file.filename().string(), theirs, ReadTags());
            ++compared;
        }
        return compared;
    }

    static void CompareFile(const std::string& name, const nlohmann::json& theirs, const TagMap& ours)
    {
        SCOPED_TRACE(name);
        std::set<std::string> theirCommonKeys;
        for (const auto& [key, value] : theirs.items()) {
            // ffprobe lists QuickTime user data once more under its language ("model-eng").
            if (kNotTags.count(key) || key.ends_with("-eng"))
                continue;
            // The detector lists no empty value (FLV's empty strings, an empty BWF coding history).
            if (value.get<std::string>().empty()) {
                EXPECT_EQ(
                    std::count_if(ours.begin(), ours.end(), [&](const auto& tag) { return tag.first.ends_with(key); }),
                    0)
                    << key;
                continue;
            }
            const auto renamed = std::find_if(std::begin(kRenamed), std::end(kRenamed),
                                              [&](const Renamed& r) { return r.file == name && r.theirKey == key; });
            if (renamed != std::end(kRenamed)) {
                SCOPED_TRACE(renamed->why);
                ASSERT_TRUE(ours.count(renamed->ourKey)) << key;
                EXPECT_EQ(ours.at(renamed->ourKey), value.get<std::string>()) << key;
                continue;
            }
            const auto mapped = kCommonFor.find(key);
            if (mapped != kCommonFor.end()) {
                const auto common = ours.find(mapped->second);
                ASSERT_NE(common, ours.end()) << key;
                EXPECT_EQ(common->second, value.get<std::string>()) << key;
                theirCommonKeys.insert(common->first);
                continue;
            }
            // A common key by its name in any case (Vorbis comments keep the case they were written in); any other
            // under the name the tag system gives it, after the system's prefix.
            const auto common = ours.find(Lower(key));
            if (kCommonKeys.count(Lower(key))) {
                ASSERT_NE(common, ours.end()) << "ffprobe's " << key << " is missing";
                theirCommonKeys.insert(common->first);
                EXPECT_EQ(common->second, Normalized(common->first, value.get<std::string>())) << key;
                continue;
            }
            const auto own = std::find_if(ours.begin(), ours.end(), [&](const auto& tag) {
                const size_t colon = tag.first.rfind(':');
                return colon != std::string::npos && Lower(tag.first.substr(colon + 1)) == Lower(key);
            });
            ASSERT_NE(own, ours.end()) << "ffprobe's " << key << " is missing";
            EXPECT_EQ(own->second, value.get<std::string>()) << key;
        }
        for (const auto& [key, value] : ours)
            if (key.find(':') == std::string::npos && !theirCommonKeys.count(key) && !kOnlyOurs.count(key))
                ADD_FAILURE() << "the detector lists " << key << " = " << value << ", ffprobe does not";
    }

    IMediaDetectTags* m_tags = nullptr;
};

TEST_F(Tags, CorpusFilesListWhatFfprobeLists)
{
    EXPECT_GE(CompareDirectory(md::test::TestDataDir()), 20);
}

TEST_F(Tags, RealWorldFilesListWhatFfprobeLists)
{
    if (md::test::RealWorldDir().empty())
        GTEST_SKIP() << "real-world samples absent (looked in " << md::test::RealWorldPath() << ")";
    EXPECT_GE(CompareDirectory(md::test::RealWorldDir()), 1);
}

TEST_F(Tags, WithoutTheExtensionNoTagIsReadOrServed)
{
    const fs::path tagged = md::test::TestDataDir() / "tags_flac_44k_stereo.flac";
    SetExtensions(MD_EXT_ALL & ~MD_EXT_TAGS);
    EXPECT_EQ(Open(tagged), uint32_t(MK_FLAC));
    uint32_t count = 7, keySize = 0, valueSize = 0;
    EXPECT_EQ(m_tags->GetTagCount(&count), E_INVALIDARG);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(m_tags->GetTag(0, nullptr, &keySize, nullptr, &valueSize), E_INVALIDARG);
    // The bit turned on after the open serves what that open read: nothing.
    SetExtensions(MD_EXT_ALL);
    EXPECT_EQ(m_tags->GetTagCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
}

TEST_F(Tags, GetTagChecksPointersAndSizes)
{
    SetExtensions(MD_EXT_ALL);
    Open(md::test::TestDataDir() / "tags_flac_44k_stereo.flac");
    uint32_t count = 0;
    ASSERT_EQ(m_tags->GetTagCount(&count), S_OK);
    ASSERT_GT(count, 1u);
    // Find the title among the tags: "title" needs 6 bytes, "Tagged flac" 12.
    uint32_t title = count;
    char key[64], value[64];
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t ks = sizeof key, vs = sizeof value;
        ASSERT_EQ(m_tags->GetTag(i, key, &ks, value, &vs), S_OK);
        if (std::string(key) == "title")
            title = i;
    }
    ASSERT_LT(title, count);
    struct Case {
        const char* rule;
        bool nullKey, nullValue, nullKeySize, nullValueSize;
        uint32_t keySize, valueSize, index;
        HRESULT result;
        uint32_t keySizeOut, valueSizeOut;  // where the sizes are set
    };
    const Case cases[] = {
        {"larger buffers: the sizes used", false, false, false, false, 64, 64, title, S_OK, 6, 12},
        {"a key buffer one byte short", false, false, false, false, 5, 64, title, MD_E_INSUFFICIENT_BUFFER, 6, 12},
        {"a value buffer one byte short", false, false, false, false, 64, 11, title, MD_E_INSUFFICIENT_BUFFER, 6, 12},
        {"a null key buffer said to hold bytes", true, false, false, false, 8, 64, title, E_POINTER, 8, 64},
        {"a null value buffer said to hold bytes", false, true, false, false, 64, 8, title, E_POINTER, 64, 8},
        {"a null key size", false, false, true, false, 0, 64, title, E_POINTER, 0, 64},
        {"a null value size", false, false, false, true, 64, 0, title, E_POINTER, 64, 0},
        {"an index past the count", false, false, false, false, 64, 64, count, E_INVALIDARG, 64, 64},
    };
    for (const Case& c : cases) {
        uint32_t ks = c.keySize, vs = c.valueSize;
        std::fill(std::begin(key), std::end(key), 'x');
        const HRESULT hr = m_tags->GetTag(c.index, c.nullKey ? nullptr : key, c.nullKeySize ? nullptr : &ks,
                                          c.nullValue ? nullptr : value, c.nullValueSize ? nullptr : &vs);
        EXPECT_EQ(hr, c.result) << c.rule;
        EXPECT_EQ(ks, c.keySizeOut) << c.rule;
        EXPECT_EQ(vs, c.valueSizeOut) << c.rule;
        if (hr == S_OK) {
            EXPECT_EQ(std::string(key) + "=" + value, "title=Tagged flac") << c.rule;
        } else if (!c.nullKey) {
            EXPECT_EQ(key[0], 'x') << c.rule << ": nothing copied";
        }
    }
    EXPECT_EQ(m_tags->GetTagCount(nullptr), E_POINTER);
    // A file without tags after a tagged one: the list is the new file's.
    Open(md::test::TestDataDir() / "flac_44k_stereo_cover.flac");
    const TagMap after = ReadTags();
    EXPECT_FALSE(after.count("title"));
}

// A transport stream's tags are its program's service names from the SDT, as ffprobe lists the program's tags
// (reference/NAME.programs.json); they come with the first transport query.
TEST_F(Tags, TransportServiceNamesAreFfprobesProgramTags)
{
    int compared = 0;
    for (const fs::path& file : md::test::MediaFiles(md::test::TestDataDir())) {
        const fs::path programs = file.parent_path() / "reference" / (file.filename().string() + ".programs.json");
        if (!fs::exists(programs))
            continue;
        SetExtensions(MD_EXT_ALL);
        ASSERT_EQ(Open(file), uint32_t(MK_MPEG2_TRANSPORT));
        EXPECT_TRUE(ReadTags().empty()) << "no transport query yet";
        uint32_t count = 0;
        ASSERT_EQ(m_detector->GetTransportPrograms(&count, nullptr, 0), S_OK);
        TagMap want;
        const nlohmann::json ref = nlohmann::json::parse(std::ifstream(programs));
        for (const auto& [key, value] : ref["programs"][0]["tags"].items())
            want[key] = value.get<std::string>();
        EXPECT_EQ(ReadTags(), want) << file;
        ++compared;
    }
    EXPECT_GE(compared, 1);
}

// An MP3 whose ID3v2.3 tag carries a picture of pictureLength bytes, stored sparse: a marker byte opens and
// another ends the picture, the bytes between are a hole. Returns where the picture starts.
uint64_t WriteMp3WithPicture(const fs::path& path, uint32_t pictureLength)
{
    const std::vector<uint8_t> audio = md::test::ReadFileBytes(md::test::TestDataDir() / "mp3_cbr_128k_44k_stereo.mp3");
    const std::string apicHeader = std::string("\0image/jpeg\0\x03\0", 14);
    const uint32_t frameSize = uint32_t(apicHeader.size()) + pictureLength;
    const uint32_t tagSize = 10 + frameSize;
    std::string head = "ID3\x03";
    head += std::string(2, '\0');
    for (int shift : {21, 14, 7, 0})
        head += char(tagSize >> shift & 0x7F);
    head += "APIC";
    for (int shift : {24, 16, 8, 0})
        head += char(frameSize >> shift & 0xFF);
    head += std::string(2, '\0') + apicHeader;
    std::ofstream out(path, std::ios::binary);
    out << head << 'S';
    out.seekp(std::streamoff(head.size() + pictureLength - 1));
    out << 'E';
    out.write(reinterpret_cast<const char*>(audio.data()), std::streamsize(audio.size()));
    return head.size();
}

// The cover is placed at the open and read at the query: a picture changed in between is served as it is then. (A
// picture past the limit: Covers.PicturesArePlacedByTheirHeaders; none without MD_EXT_TAGS: TagReads and the
// conformance's base behaviour.)
TEST_F(Tags, CoversArePlacedAtTheOpenAndReadAtTheQuery)
{
    md::test::TempDir dir;
    const fs::path file = dir.path() / "cover.mp3";
    constexpr uint32_t kTenMiB = 10 << 20;
    const uint64_t at = WriteMp3WithPicture(file, kTenMiB);
    SetExtensions(MD_EXT_ALL);
    ASSERT_EQ(Open(file), uint32_t(MK_MP3));
    {
        std::fstream edit(file, std::ios::binary | std::ios::in | std::ios::out);
        edit.seekp(std::streamoff(at));
        edit << 'N';
    }
    uint32_t length = 0;
    ASSERT_EQ(m_info->GetInfo(MDI_THUMBNAIL_LENGTH, &length), S_OK);
    ASSERT_EQ(length, kTenMiB);
    std::vector<uint8_t> picture(length);
    ASSERT_EQ(m_info->GetInfo(MDI_THUMBNAIL, picture.data()), S_OK);
    EXPECT_EQ(std::tuple(picture.front(), picture[1], picture.back()), std::tuple('N', 0, 'E'));
}

}  // namespace
