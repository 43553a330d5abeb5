#include "support/files.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace md::test {

namespace fs = std::filesystem;

fs::path TestDataDir() { return MD_TEST_DATA_DIR; }
fs::path BuildDir() { return MD_BUILD_DIR; }

fs::path RealWorldPath()
{
    const char* override = std::getenv("MEDIADETECT_TEST_REALWORLD");
    return override ? override : MD_REALWORLD_DIR;
}

fs::path RealWorldDir() { return fs::is_directory(RealWorldPath()) ? RealWorldPath() : fs::path(); }

std::vector<uint8_t> ReadFileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size())))
        throw std::runtime_error("cannot write " + path.string());
}

std::vector<fs::path> MediaFiles(const fs::path& dir)
{
    std::vector<fs::path> files;
    std::error_code ec;  // no files when dir is empty or no directory
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        const auto ext = entry.path().extension().string();
        if (entry.is_regular_file() && ext != ".md" && ext != ".sh" && ext != ".json" && ext != ".srt")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "mdtest.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

}  // namespace md::test
