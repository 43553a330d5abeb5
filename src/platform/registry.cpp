#include "platform/registry.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

struct Key {
    std::string name;
    std::vector<std::pair<std::string, std::string>> values;  // "" is the default value
};

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

bool SameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

// True when key lies at or below prefix.
bool IsAtOrBelow(std::string_view key, std::string_view prefix)
{
    if (key.size() < prefix.size() || !SameName(key.substr(0, prefix.size()), prefix))
        return false;
    return key.size() == prefix.size() || key[prefix.size()] == '\\';
}

std::string Escape(std::string_view s)
{
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

// Reads a quoted string starting at line[pos] == '"'; pos ends after the closing quote.
bool ReadQuoted(std::string_view line, size_t& pos, std::string& out)
{
    if (pos >= line.size() || line[pos] != '"')
        return false;
    out.clear();
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '\\' && pos + 1 < line.size()) {
            out.push_back(line[++pos]);
        } else if (c == '"') {
            ++pos;
            return true;
        } else {
            out.push_back(c);
        }
    }
    return false;
}

std::vector<Key> Parse(const std::string& text)
{
    std::vector<Key> keys;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line == kHeader || line[0] == ';')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            keys.push_back({line.substr(1, line.size() - 2), {}});
            continue;
        }
        if (keys.empty())
            continue;
        std::string name;
        size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (!ReadQuoted(line, pos, name)) {
            continue;
        }
        std::string value;
        if (pos >= line.size() || line[pos] != '=' || !ReadQuoted(line, ++pos, value))
            continue;
        keys.back().values.emplace_back(std::move(name), std::move(value));
    }
    return keys;
}

std::string Format(const std::vector<Key>& keys)
{
    std::string out(kHeader);
    out += "\n";
    for (const Key& k : keys) {
        out += "\n[" + k.name + "]\n";
        for (const auto& [name, value] : k.values)
            out += (name.empty() ? std::string("@") : "\"" + Escape(name) + "\"") + "=\"" + Escape(value) + "\"\n";
    }
    return out;
}

bool ReadWhole(const std::string& path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

std::vector<Key> Load(const std::string& path)
{
    std::string text;
    return ReadWhole(path, text) ? Parse(text) : std::vector<Key>{};
}

// Runs change(keys) on the current contents under the exclusive lock and, when it
// returns ERROR_SUCCESS, replaces the file atomically.
template <typename Change>
LONG Update(Change change)
{
    const std::string path = md::RegistryPath();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    const std::string lockPath = path + ".lock";
    int lock = ::open(lockPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (lock < 0)
        return ERROR_ACCESS_DENIED;
    while (::flock(lock, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(lock);
            return ERROR_ACCESS_DENIED;
        }
    }
    std::vector<Key> keys = Load(path);
    LONG result = change(keys);
    if (result == ERROR_SUCCESS) {
        std::string tmp = path + ".XXXXXX";
        int fd = ::mkstemp(tmp.data());
        if (fd < 0) {
            result = ERROR_ACCESS_DENIED;
        } else {
            ::fchmod(fd, 0644);
            const std::string text = Format(keys);
            DWORD written = 0;
            const bool ok = WriteFile(fd, text.data(), static_cast<DWORD>(text.size()), &written) &&
                            written == text.size() && ::fsync(fd) == 0;
            ::close(fd);
            if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
                ::unlink(tmp.c_str());
                result = ERROR_WRITE_FAULT;
            }
        }
    }
    ::close(lock);  // releases the flock
    return result;
}

}  // namespace

namespace md {

std::string RegistryPath()
{
    if (const char* p = std::getenv("MEDIADETECT_REGISTRY"); p && *p)
        return p;
    if (const char* p = std::getenv("XDG_CONFIG_HOME"); p && *p)
        return std::string(p) + "/mediadetect/registry.reg";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/mediadetect/registry.reg";
}

}  // namespace md

LONG RegSetKeyValueA(HKEY, const char* subKey, const char* valueName, const char* data)
{
    if (subKey == nullptr || *subKey == '\0' || data == nullptr)
        return ERROR_INVALID_PARAMETER;
    const std::string key(subKey);
    const std::string name(valueName ? valueName : "");
    return Update([&](std::vector<Key>& keys) {
        // Create the parents first, as creating a key does on Windows.
        for (size_t sep = key.find('\\'); sep != std::string::npos; sep = key.find('\\', sep + 1)) {
            const std::string parent = key.substr(0, sep);
            if (std::none_of(keys.begin(), keys.end(), [&](const Key& k) { return SameName(k.name, parent); }))
                keys.push_back({parent, {}});
        }
        auto it = std::find_if(keys.begin(), keys.end(), [&](const Key& k) { return SameName(k.name, key); });
        if (it == keys.end()) {
            keys.push_back({key, {}});
            it = keys.end() - 1;
        }
        auto v = std::find_if(it->values.begin(), it->values.end(),
                              [&](const auto& nv) { return SameName(nv.first, name); });
        if (v == it->values.end())
            it->values.emplace_back(name, data);
        else
            v->second = data;
        return static_cast<LONG>(ERROR_SUCCESS);
    });
}

LONG RegDeleteTreeA(HKEY, const char* subKey)
{
    if (subKey == nullptr || *subKey == '\0')
        return ERROR_INVALID_PARAMETER;
    const std::string key(subKey);
    return Update([&](std::vector<Key>& keys) {
        const auto before = keys.size();
        std::erase_if(keys, [&](const Key& k) { return IsAtOrBelow(k.name, key); });
        return static_cast<LONG>(keys.size() == before ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS);
    });
}

LONG RegGetValueA(HKEY, const char* subKey, const char* valueName, std::string& out)
{
    if (subKey == nullptr)
        return ERROR_INVALID_PARAMETER;
    const std::string name(valueName ? valueName : "");
    for (const Key& k : Load(md::RegistryPath())) {
        if (!SameName(k.name, subKey))
            continue;
        for (const auto& [n, v] : k.values) {
            if (SameName(n, name)) {
                out = v;
                return ERROR_SUCCESS;
            }
        }
    }
    return ERROR_FILE_NOT_FOUND;
}
