#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/registry.h"
#include "support/files.h"

namespace md {
namespace {

class Registry : public ::testing::Test {
protected:
    void SetUp() override { setenv("MEDIADETECT_REGISTRY", (m_dir / "sub" / "registry.reg").c_str(), 1); }
    void TearDown() override { unsetenv("MEDIADETECT_REGISTRY"); }

    std::string FileText() const
    {
        auto bytes = test::ReadFileBytes(m_dir / "sub" / "registry.reg");
        return {bytes.begin(), bytes.end()};
    }

    test::TempDir m_dir;
};

TEST_F(Registry, ValuesAreWrittenInRegStyleAndReadBack)
{
    EXPECT_EQ(RegistryPath(), (m_dir / "sub" / "registry.reg").string());
    ASSERT_EQ(RegSetKeyValueA(HKEY_CLASSES_ROOT, "CLSID\\{X}", nullptr, "Name \"quoted\" C:\\dir"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeyValueA(HKEY_CLASSES_ROOT, "CLSID\\{X}\\InprocServer32", "ThreadingModel", "Both"),
              ERROR_SUCCESS);
    // Overwriting keeps one value.
    ASSERT_EQ(RegSetKeyValueA(HKEY_CLASSES_ROOT, "clsid\\{x}\\inprocserver32", "threadingmodel", "Apartment"),
              ERROR_SUCCESS);

    const std::string text = FileText();
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    EXPECT_NE(text.find("[CLSID\\{X}]\n@=\"Name \\\"quoted\\\" C:\\\\dir\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[CLSID\\{X}\\InprocServer32]\n\"ThreadingModel\"=\"Apartment\"\n"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("Both"), std::string::npos);

    std::string value;
    ASSERT_EQ(RegGetValueA(HKEY_CLASSES_ROOT, "CLSID\\{X}", nullptr, value), ERROR_SUCCESS);
    EXPECT_EQ(value, "Name \"quoted\" C:\\dir");
    EXPECT_EQ(RegGetValueA(HKEY_CLASSES_ROOT, "CLSID\\{X}", "Missing", value), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegGetValueA(HKEY_CLASSES_ROOT, "CLSID\\{Y}", nullptr, value), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, DeleteTreeRemovesTheKeyAndEverythingBelowButNotItsNeighbours)
{
    RegSetKeyValueA(HKEY_CLASSES_ROOT, "CLSID\\{A}\\InprocServer32", nullptr, "a.so");
    RegSetKeyValueA(HKEY_CLASSES_ROOT, "CLSID\\{A}", nullptr, "A");
    RegSetKeyValueA(HKEY_CLASSES_ROOT, "CLSID\\{AB}", nullptr, "AB");

    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{A}"), ERROR_SUCCESS);
    std::string value;
    EXPECT_EQ(RegGetValueA(HKEY_CLASSES_ROOT, "CLSID\\{A}\\InprocServer32", nullptr, value), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegGetValueA(HKEY_CLASSES_ROOT, "CLSID\\{A}", nullptr, value), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegGetValueA(HKEY_CLASSES_ROOT, "CLSID\\{AB}", nullptr, value), ERROR_SUCCESS);
    EXPECT_EQ(value, "AB");
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{A}"), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, ConcurrentWritersLoseNothing)
{
    constexpr int kWriters = 6;
    constexpr int kKeysEach = 15;
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int k = 0; k < kKeysEach; ++k) {
                const std::string key = "K\\" + std::to_string(w) + "_" + std::to_string(k);
                if (RegSetKeyValueA(HKEY_CLASSES_ROOT, key.c_str(), nullptr, key.c_str()) != ERROR_SUCCESS)
                    _exit(1);
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int w = 0; w < kWriters; ++w) {
        for (int k = 0; k < kKeysEach; ++k) {
            const std::string key = "K\\" + std::to_string(w) + "_" + std::to_string(k);
            std::string value;
            EXPECT_EQ(RegGetValueA(HKEY_CLASSES_ROOT, key.c_str(), nullptr, value), ERROR_SUCCESS) << key;
            EXPECT_EQ(value, key);
        }
    }
}

TEST_F(Registry, DefaultLocationFollowsXdgConfigHome)
{
    unsetenv("MEDIADETECT_REGISTRY");
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_CONFIG_HOME", m_dir.path().c_str(), 1);
    EXPECT_EQ(RegistryPath(), (m_dir / "mediadetect" / "registry.reg").string());
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_NE(RegistryPath().find("/.config/mediadetect/registry.reg"), std::string::npos);
    if (old)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

}  // namespace
}  // namespace md
