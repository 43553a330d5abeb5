// Byte builders the tag reader tests share, and a tag list as one line ("key=value|key=value").
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "demux/tag_list.h"

namespace md::tagtest {

using ByteVector = std::vector<uint8_t>;

// A row of a rule table: what it shows, the bytes, the tags listed from them ("key=value|...").
struct Row {
    const char* rule;
    ByteVector bytes;
    std::string listed;
};

inline ByteVector Text(const std::string& s) { return ByteVector(s.begin(), s.end()); }
inline ByteVector Cat(std::initializer_list<ByteVector> parts)
{
    ByteVector out;
    for (const ByteVector& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}
inline std::string All(const TagList& tags)
{
    std::string s;
    for (size_t i = 0; i < tags.Count(); ++i)
        s += (s.empty() ? "" : "|") + tags.At(i).key + "=" + tags.At(i).value;
    return s;
}

}  // namespace md::tagtest
