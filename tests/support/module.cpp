#include "support/module.h"

#include <dlfcn.h>

namespace md::test {

LoadedModule::LoadedModule(const std::string& path)
    : m_path(path), m_handle(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
{
    if (m_handle) {
        GetClassObject = reinterpret_cast<DllGetClassObjectFn>(::dlsym(m_handle, "DllGetClassObject"));
        RegisterServer = reinterpret_cast<DllRegisterServerFn>(::dlsym(m_handle, "DllRegisterServer"));
    }
}

LoadedModule::~LoadedModule()
{
    if (m_handle)
        ::dlclose(m_handle);
}

IMediaDetect5* LoadedModule::CreateDetector()
{
    IClassFactory* factory = nullptr;
    IMediaDetect5* detector = nullptr;
    if (!GetClassObject ||
        FAILED(GetClassObject(&CLSID_ZPMediaDetect, &IID_IClassFactory, reinterpret_cast<void**>(&factory))))
        return nullptr;
    factory->CreateInstance(nullptr, IID_IMediaDetect5, reinterpret_cast<void**>(&detector));
    factory->Release();
    return detector;
}

void DetectorTest::SetUp()
{
    ASSERT_TRUE(m_module.ok()) << "cannot load " << m_module.path();
    m_detector = m_module.CreateDetector();
    ASSERT_NE(m_detector, nullptr);
    ASSERT_EQ(m_detector->QueryInterface(IID_IMediaDetectInfo, reinterpret_cast<void**>(&m_info)), S_OK);
}

void DetectorTest::TearDown()
{
    if (m_info)
        m_info->Release();
    if (m_detector)
        m_detector->Release();
}

}  // namespace md::test
