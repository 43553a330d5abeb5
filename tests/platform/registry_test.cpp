// The registry file: the .reg text form, case-insensitive keys, tree deletion, concurrent writers, its location.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/registry.h"
#include "support/files.h"

namespace md {
namespace {

const std::string kNone = "(none)";

class Registry : public ::testing::Test {
protected:
    void SetUp() override { setenv("MEDIADETECT_REGISTRY", (m_dir / "sub" / "registry.reg").c_str(), 1); }
    void TearDown() override { unsetenv("MEDIADETECT_REGISTRY"); }

    std::string Get(const char* k, const char* n = nullptr)
    {
        std::string v;
        return RegGetValueA(HKEY_CLASSES_ROOT, k, n, v) == ERROR_SUCCESS ? v : kNone;
    }
    LONG Set(const char* k, const char* n, const char* v) { return RegSetKeyValueA(HKEY_CLASSES_ROOT, k, n, v); }

    test::TempDir m_dir;
};

TEST_F(Registry, ValuesAreWrittenInRegStyleReadBackAndDeletedByTree)
{
    ASSERT_EQ(Set("CLSID\\{X}", nullptr, "Name \"quoted\" C:\\dir"), ERROR_SUCCESS);
    ASSERT_EQ(Set("CLSID\\{X}\\InprocServer32", "ThreadingModel", "Both"), ERROR_SUCCESS);
    // Overwriting, in another case, keeps one value.
    ASSERT_EQ(Set("clsid\\{x}\\inprocserver32", "threadingmodel", "Apartment"), ERROR_SUCCESS);
    const auto bytes = test::ReadFileBytes(m_dir / "sub" / "registry.reg");  // where the variable points, folder made
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    EXPECT_NE(text.find("[CLSID\\{X}]\n@=\"Name \\\"quoted\\\" C:\\\\dir\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[CLSID\\{X}\\InprocServer32]\n\"ThreadingModel\"=\"Apartment\"\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Both"), std::string::npos);
    EXPECT_EQ(std::tuple(Get("CLSID\\{X}"), Get("CLSID\\{X}", "Missing"), Get("CLSID\\{Y}")),
              std::tuple(std::string("Name \"quoted\" C:\\dir"), kNone, kNone));

    // A tree goes with everything below it, but not its neighbour {XY}.
    Set("CLSID\\{XY}", nullptr, "XY");
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{X}"), ERROR_SUCCESS);
    EXPECT_EQ(std::tuple(Get("CLSID\\{X}\\InprocServer32", "ThreadingModel"), Get("CLSID\\{X}"), Get("CLSID\\{XY}")),
              std::tuple(kNone, kNone, std::string("XY")));
    EXPECT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "CLSID\\{X}"), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, ConcurrentWritersLoseNothing)
{
    constexpr int kWriters = 6, kKeysEach = 15;
    auto key = [](int w, int k) { return "K\\" + std::to_string(w) + "_" + std::to_string(k); };
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int k = 0; k < kKeysEach; ++k)
                if (Set(key(w, k).c_str(), nullptr, key(w, k).c_str()) != ERROR_SUCCESS)
                    _exit(1);
            _exit(0);
        }
        children.push_back(pid);
    }
    int status = 0;
    for (pid_t pid : children)
        EXPECT_TRUE(waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (int w = 0; w < kWriters; ++w)
        for (int k = 0; k < kKeysEach; ++k)
            EXPECT_EQ(Get(key(w, k).c_str()), key(w, k));
}

TEST_F(Registry, DefaultLocationFollowsXdgConfigHome)
{
    unsetenv("MEDIADETECT_REGISTRY");
    const std::string saved = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    setenv("XDG_CONFIG_HOME", m_dir.path().c_str(), 1);
    EXPECT_EQ(RegistryPath(), (m_dir / "mediadetect" / "registry.reg").string());
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_NE(RegistryPath().find("/.config/mediadetect/registry.reg"), std::string::npos);
    if (!saved.empty())
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
}

}  // namespace
}  // namespace md
