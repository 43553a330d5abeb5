// The SDT's service names: DVB character tables, and sections cut or malformed.
#include "ts/ts_sdt.h"

#include <gtest/gtest.h>

#include <string>

#include "support/ts_builders.h"
#include "tags/tag_text.h"

namespace md {
namespace {

using mdtest::ByteVec;

ByteVec Str(const std::string& s) { return ByteVec(s.begin(), s.end()); }

// A service entry with one service_descriptor (digital television, 0x01).
ByteVec Service(uint16_t id, const ByteVec& provider, const ByteVec& name)
{
    const ByteVec d =
        mdtest::Concat({ByteVec{0x48, uint8_t(3 + provider.size() + name.size()), 0x01, uint8_t(provider.size())},
                        provider, ByteVec{uint8_t(name.size())}, name});
    return mdtest::Concat(
        {ByteVec{uint8_t(id >> 8), uint8_t(id), 0xFC, uint8_t(0x80 | d.size() >> 8), uint8_t(d.size())}, d});
}

// An SDT section (table_id 0x42) over service entries, a zero CRC; statedLength replaces section_length.
ByteVec Sdt(const ByteVec& entries, int statedLength = -1, uint8_t tableId = 0x42)
{
    const size_t length = statedLength >= 0 ? size_t(statedLength) : 8 + entries.size() + 4;
    return mdtest::Concat({ByteVec{tableId, uint8_t(0xF0 | length >> 8), uint8_t(length), 0, 1, 0xC1, 0, 0, 0, 1, 0xFF},
                           entries, ByteVec(4, 0)});
}

std::string Listed(const ByteVec& section)
{
    mdtest::TsWriter w;
    w.Section(0x11, section);
    std::vector<TsService> services;
    if (!ParseSdtPacket(Bytes(w.Bytes()), services, 4))
        return "(no SDT)";
    std::string s;
    for (const TsService& t : services)
        s += (s.empty() ? "" : "|") + std::to_string(t.serviceId) + ":" + t.provider + "/" + t.name;
    return s;
}

TEST(TsSdt, ServicesAndHostileSections)
{
    const ByteVec two = Service(1, Str("P"), Str("One"));
    const ByteVec padding(200, 0xFF);
    const ByteVec overrun = {0, 2, 0xFC, 0x8F, 0xFF};  // a descriptor loop of 4095 bytes
    struct Row {
        const char* rule;
        ByteVec section;
        std::string listed;
    };
    const Row rows[] = {
        {"each service with its id", Sdt(mdtest::Concat({two, Service(7, Str("Q"), Str("Two"))})), "1:P/One|7:Q/Two"},
        {"the cap on services", Sdt(mdtest::Concat({two, two, two, two, two})), "1:P/One|1:P/One|1:P/One|1:P/One"},
        {"another transport stream's SDT (0x46)", Sdt(two, -1, 0x46), "(no SDT)"},
        {"a section of its header and CRC alone", Sdt({}), ""},
        {"a section length one byte shorter", Sdt(two, 11), "(no SDT)"},
        {"a descriptor loop past the section: the services before it", Sdt(mdtest::Concat({two, overrun})), "1:P/One"},
        {"a name length past its descriptor: no names", Sdt({0, 3, 0xFC, 0x80, 6, 0x48, 4, 1, 1, 'P', 9}), ""},
        {"a section running into later packets: the entries in this one",
         Sdt(mdtest::Concat({two, padding}), 8 + 205 + 4), "1:P/One"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Listed(row.section), row.listed) << row.rule;
}

TEST(TsSdt, DvbCharacterTables)
{
    struct Row {
        const char* rule;
        ByteVec text;
        std::string utf8;
    };
    const Row rows[] = {
        {"no table byte: ISO 6937, ASCII as it is", Str("Caf"), "Caf"},
        {"ISO 6937's accents are not Latin-1's",
         {'C', 0xC2, 'e'},
         "C\xEF\xBF\xBD"
         "e"},
        {"control codes dropped, 0x8A a line break", {'a', 0x86, 'b', 0x8A, 'c'}, "ab\nc"},
        {"0x15: UTF-8", {0x15, 'C', 0xC3, 0xA9}, "C\xC3\xA9"},
        {"0x11: UCS-2 big-endian", {0x11, 0x00, 'C', 0x00, 0xE9}, "C\xC3\xA9"},
        {"0x10 0x00 0x01: ISO 8859-1 exactly", {0x10, 0x00, 0x01, 'C', 0xE9}, "C\xC3\xA9"},
        {"ISO 8859-1: 0x9F a control code, 0xA0 a character", {0x10, 0x00, 0x01, 'a', 0x9F, 0xA0}, "a\xC2\xA0"},
        {"0x05 (ISO 8859-9): ASCII, the rest U+FFFD", {0x05, 'C', 0xE9}, "C\xEF\xBF\xBD"},
        {"0x13 (GB2312): not read", {0x13, 'C'}, ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(DvbTextToUtf8(Bytes(row.text), 100), row.utf8) << row.rule;
}

}  // namespace
}  // namespace md
