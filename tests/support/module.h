// Loads the built detector module as a host does, for tests that exercise the binary interface.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "mediadetect/mediadetect.h"
#include "support/files.h"

namespace md::test {

class LoadedModule {
public:
    explicit LoadedModule(const std::string& path);
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool ok() const { return m_handle != nullptr; }
    const std::string& path() const { return m_path; }
    // A detector from the module's class factory (null on failure).
    IMediaDetect5* CreateDetector();

    DllGetClassObjectFn GetClassObject = nullptr;
    DllRegisterServerFn RegisterServer = nullptr;

private:
    std::string m_path;
    void* m_handle = nullptr;
};

// A fixture holding the loaded module, one detector and its info interface.
class DetectorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    LoadedModule m_module{(BuildDir() / "libmediadetect.so").string()};
    IMediaDetect5* m_detector = nullptr;
    IMediaDetectInfo* m_info = nullptr;
};

}  // namespace md::test
