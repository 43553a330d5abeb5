// The module's COM behaviour, seen from a host that loaded it with dlopen.
#include <gtest/gtest.h>

#include <atomic>

#include "support/module.h"

namespace {

using md::test::DetectorModulePath;
using md::test::LoadedModule;

constexpr GUID kUnknownClass = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

class ComServer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_module.ok()) << "cannot load " << m_module.path(); }

    IClassFactory* Factory()
    {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(m_module.GetClassObject(&CLSID_ZPMediaDetect, &IID_IClassFactory, reinterpret_cast<void**>(&factory)),
                  S_OK);
        return factory;
    }

    LoadedModule m_module{DetectorModulePath()};
};

TEST_F(ComServer, ClassObjectIsHandedOutOnlyForTheDetectorClassAndFactoryInterfaces)
{
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(m_module.GetClassObject(&kUnknownClass, &IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);

    out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(m_module.GetClassObject(&CLSID_ZPMediaDetect, &IID_IMediaDetect5, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    IUnknown* unknown = nullptr;
    ASSERT_EQ(m_module.GetClassObject(&CLSID_ZPMediaDetect, &IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(static_cast<void*>(factory), static_cast<void*>(unknown));
    EXPECT_EQ(factory->QueryInterface(IID_IMediaDetect5, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(unknown->Release(), 0u);
}

TEST_F(ComServer, UnloadIsAllowedOnlyWithoutLiveObjectsOrLocks)
{
    EXPECT_EQ(m_module.CanUnloadNow(), S_OK);
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(m_module.CanUnloadNow(), S_FALSE);  // the factory is a live object

    IMediaDetect5* detector = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IMediaDetect5, reinterpret_cast<void**>(&detector)), S_OK);
    EXPECT_EQ(factory->LockServer(1), S_OK);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(m_module.CanUnloadNow(), S_FALSE);  // detector alive, server locked

    EXPECT_EQ(detector->Release(), 0u);
    EXPECT_EQ(m_module.CanUnloadNow(), S_FALSE);  // still locked

    factory = Factory();
    EXPECT_EQ(factory->LockServer(0), S_OK);
    factory->Release();
    EXPECT_EQ(m_module.CanUnloadNow(), S_OK);
}

TEST_F(ComServer, AllDetectIdentifiersGiveOneTableAndIdentityIsShared)
{
    IMediaDetect5* detector = m_module.CreateDetector();
    ASSERT_NE(detector, nullptr);
    for (const IID* iid : {&IID_IMediaDetect, &IID_IMediaDetect2, &IID_IMediaDetect3, &IID_IMediaDetect4,
                           &IID_IMediaDetect5}) {
        void* p = nullptr;
        ASSERT_EQ(detector->QueryInterface(*iid, &p), S_OK);
        EXPECT_EQ(p, static_cast<void*>(detector));
        static_cast<IUnknown*>(p)->Release();
    }
    ITimeTableInfo* timeTable = nullptr;
    IMediaDetectInfo* info = nullptr;
    ASSERT_EQ(detector->QueryInterface(IID_ITimeTableInfo, reinterpret_cast<void**>(&timeTable)), S_OK);
    ASSERT_EQ(timeTable->QueryInterface(IID_IMediaDetectInfo, reinterpret_cast<void**>(&info)), S_OK);
    EXPECT_NE(static_cast<void*>(timeTable), static_cast<void*>(detector));
    EXPECT_NE(static_cast<void*>(info), static_cast<void*>(detector));

    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    ASSERT_EQ(info->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a)), S_OK);
    ASSERT_EQ(timeTable->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b)), S_OK);
    EXPECT_EQ(a, b);

    void* none = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(detector->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(detector->QueryInterface(IID_IMediaDetect5, nullptr), E_POINTER);

    a->Release();
    b->Release();
    info->Release();
    timeTable->Release();
    EXPECT_EQ(detector->Release(), 0u);
    EXPECT_EQ(m_module.CanUnloadNow(), S_OK);
}

// A controlling unknown that aggregates a detector.
struct Outer final : IUnknown {
    HRESULT QueryInterface(REFIID iid, void** out) override
    {
        ++queries;
        if (iid == IID_IUnknown) {
            *out = this;
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(iid, out);
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }

    IUnknown* inner = nullptr;  // the detector's non-delegating unknown
    std::atomic<ULONG> refs{1};
    int queries = 0;
};

TEST_F(ComServer, AggregatedDetectorDelegatesItsUnknownToTheOuterObject)
{
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    Outer outer;
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IMediaDetect, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IMediaDetect5, nullptr), E_POINTER);

    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    factory->Release();

    IMediaDetect5* detector = nullptr;
    ASSERT_EQ(outer.inner->QueryInterface(IID_IMediaDetect5, reinterpret_cast<void**>(&detector)), S_OK);
    EXPECT_EQ(outer.refs, 2u);  // the interface's AddRef went to the outer object

    IUnknown* identity = nullptr;
    ASSERT_EQ(detector->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    EXPECT_GE(outer.queries, 1);
    identity->Release();
    detector->Release();
    EXPECT_EQ(outer.refs, 1u);

    EXPECT_EQ(m_module.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(outer.inner->Release(), 0u);  // the outer object releases the inner one
    EXPECT_EQ(m_module.CanUnloadNow(), S_OK);
}

}  // namespace
