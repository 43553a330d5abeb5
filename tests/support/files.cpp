#include "support/files.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace md::test {

std::filesystem::path TestDataDir() { return MD_TEST_DATA_DIR; }

std::filesystem::path RealWorldPath()
{
    const char* override = std::getenv("MEDIADETECT_TEST_REALWORLD");
    return override ? override : MD_REALWORLD_DIR;
}

std::filesystem::path RealWorldDir()
{
    const std::filesystem::path dir = RealWorldPath();
    return std::filesystem::is_directory(dir) ? dir : std::filesystem::path();
}

std::filesystem::path BuildDir() { return MD_BUILD_DIR; }

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::filesystem::path> MediaFiles(const std::filesystem::path& dir)
{
    std::vector<std::filesystem::path> files;
    if (dir.empty() || !std::filesystem::is_directory(dir))
        return files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const auto ext = entry.path().extension().string();
        if (entry.is_regular_file() && ext != ".md" && ext != ".sh" && ext != ".json" && ext != ".srt")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "mdtest.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

}  // namespace md::test
