// The registry file: the .reg text form, case-insensitive keys, tree deletion,
// concurrent writer processes, and where the file lives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>
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

    std::string Get(const char* key, const char* name = nullptr)
    {
        std::string value;
        return RegGetValueA(HKEY_CLASSES_ROOT, key, name, value) == ERROR_SUCCESS ? value : "(none)";
    }

    test::TempDir m_dir;
};

TEST_F(Registry, ValuesAreWrittenInRegStyleReadBackAndDeletedByTree)
{
    EXPECT_EQ(RegistryPath(), (m_dir / "sub" / "registry.reg").string());
    ASSERT_EQ(RegSetKeyValueA(HKEY_CLASSES_ROOT, "CLSID\\{X}", nullptr, "Name \"quoted\" C:\\dir"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeyValueA(HKEY_CLASSES_ROOT, "CLSID\\{X}\\InprocServer32", "ThreadingModel", "Both"),
              ERROR_SUCCESS);
    // Overwriting, in another case, keeps one value.
    ASSERT_EQ(RegSetKeyValueA(HKEY_CLASSES_ROOT, "clsid\\{x}\\inprocserver32", "threadingmodel", "Apartment"),
              ERROR_SUCCESS);
    const auto bytes = test::ReadFileBytes(m_dir / "sub" / "registry.reg");
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    EXPECT_NE(text.find("[CLSID\\{X}]\n@=\"Name \\\"quoted\\\" C:\\\\dir\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[CLSID\\{X}\\InprocServer32]\n\"ThreadingModel\"=\"Apartment\"\n"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("Both"), std::string::npos);
    EXPECT_EQ(std::tuple(Get("CLSID\\{X}"), Get("CLSID\\{X}", "Missing"), Get("CLSID\\{Y}")),
              std::tuple(std::string("Name \"quoted\" C:\\dir"), std::string("(none)"), std::string("(none)")));

    // A tree goes with everything below it, but not its neighbour {XY}.
    RegSetKeyValueA(HKEY_CLASSES_ROOT, "CLSID\\{XY}", nullptr, "XY");
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{X}"), ERROR_SUCCESS);
    EXPECT_EQ(std::tuple(Get("CLSID\\{X}\\InprocServer32", "ThreadingModel"), Get("CLSID\\{X}"), Get("CLSID\\{XY}")),
              std::tuple(std::string("(none)"), std::string("(none)"), std::string("XY")));
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{X}"), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, ConcurrentWritersLoseNothing)
{
    constexpr int kWriters = 6;
    constexpr int kKeysEach = 15;
    auto key = [](int w, int k) { return "K\\" + std::to_string(w) + "_" + std::to_string(k); };
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int k = 0; k < kKeysEach; ++k)
                if (RegSetKeyValueA(HKEY_CLASSES_ROOT, key(w, k).c_str(), nullptr, key(w, k).c_str()) != ERROR_SUCCESS)
                    _exit(1);
            _exit(0);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int w = 0; w < kWriters; ++w)
        for (int k = 0; k < kKeysEach; ++k)
            EXPECT_EQ(Get(key(w, k).c_str()), key(w, k));
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
