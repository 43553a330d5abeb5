// Loads the built detector module as a host does, for tests that exercise the
// binary interface.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "mediadetect/mediadetect.h"

namespace md::test {

class LoadedModule {
public:
    explicit LoadedModule(const std::string& path);
    ~LoadedModule();
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool ok() const { return handle_ != nullptr; }
    const std::string& path() const { return path_; }

    DllGetClassObjectFn GetClassObject = nullptr;
    DllCanUnloadNowFn CanUnloadNow = nullptr;
    DllRegisterServerFn RegisterServer = nullptr;
    DllUnregisterServerFn UnregisterServer = nullptr;

    // A detector from the module's class factory (null on failure).
    IMediaDetect5* CreateDetector();

private:
    std::string path_;
    void* handle_ = nullptr;
};

// build/libmediadetect.so of this build tree.
std::string DetectorModulePath();

// A fixture holding the loaded module, one detector and its info interface.
class DetectorTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    LoadedModule module_{DetectorModulePath()};
    IMediaDetect5* detector_ = nullptr;
    IMediaDetectInfo* info_ = nullptr;
};

}  // namespace md::test
