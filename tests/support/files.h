// File helpers for tests: the corpus directories, whole-file reads and a temporary directory that removes itself.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace md::test {

std::filesystem::path TestDataDir();
std::filesystem::path BuildDir();
// Where the real-world samples are looked for (beside the repository or $MEDIADETECT_TEST_REALWORLD), and that
// directory if it exists, else empty.
std::filesystem::path RealWorldPath();
std::filesystem::path RealWorldDir();

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
// The regular media files of a directory (no references, scripts or docs), sorted.
std::vector<std::filesystem::path> MediaFiles(const std::filesystem::path& dir);

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

}  // namespace md::test
