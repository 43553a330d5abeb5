#include "support/module.h"

#include <dlfcn.h>

#include "support/files.h"

namespace md::test {

LoadedModule::LoadedModule(const std::string& path) : path_(path)
{
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_)
        return;
    GetClassObject = reinterpret_cast<DllGetClassObjectFn>(::dlsym(handle_, "DllGetClassObject"));
    CanUnloadNow = reinterpret_cast<DllCanUnloadNowFn>(::dlsym(handle_, "DllCanUnloadNow"));
    RegisterServer = reinterpret_cast<DllRegisterServerFn>(::dlsym(handle_, "DllRegisterServer"));
    UnregisterServer = reinterpret_cast<DllUnregisterServerFn>(::dlsym(handle_, "DllUnregisterServer"));
}

LoadedModule::~LoadedModule()
{
    if (handle_)
        ::dlclose(handle_);
}

IMediaDetect5* LoadedModule::CreateDetector()
{
    IClassFactory* factory = nullptr;
    if (!GetClassObject || FAILED(GetClassObject(&CLSID_ZPMediaDetect, &IID_IClassFactory,
                                                 reinterpret_cast<void**>(&factory))))
        return nullptr;
    IMediaDetect5* detector = nullptr;
    factory->CreateInstance(nullptr, IID_IMediaDetect5, reinterpret_cast<void**>(&detector));
    factory->Release();
    return detector;
}

std::string DetectorModulePath() { return (BuildDir() / "libmediadetect.so").string(); }

void DetectorTest::SetUp()
{
    ASSERT_TRUE(module_.ok()) << "cannot load " << module_.path();
    detector_ = module_.CreateDetector();
    ASSERT_NE(detector_, nullptr);
    ASSERT_EQ(detector_->QueryInterface(IID_IMediaDetectInfo, reinterpret_cast<void**>(&info_)), S_OK);
}

void DetectorTest::TearDown()
{
    if (info_)
        info_->Release();
    if (detector_)
        detector_->Release();
}

}  // namespace md::test
