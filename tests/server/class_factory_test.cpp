// The DLL's class objects: which requests DllGetClassObject and the factory answer, the
// reference counts, aggregation, when the module may be unloaded, and the filter's
// automation interface answered from the type library in the DLL.
#include <gtest/gtest.h>

#include <atomic>

#include "filter/kvssf_reader_interface.h"
#include "tests/server/com_server_module.h"

namespace {

// A minimal outer object that aggregates the filter and counts its own references.
class OuterObject final : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return inner != nullptr ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++count; }
    STDMETHODIMP_(ULONG) Release() override { return --count; }

    std::atomic<ULONG> count{1};
    IUnknown* inner = nullptr;
};

class ClassFactoryTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(module.Loaded()) << BesideProgram("KVSsfRd.dll"); }

    IClassFactory* Factory() {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(module.GetClassObject(CLSID_KVSsfRd, IID_IClassFactory,
                                        reinterpret_cast<void**>(&factory)),
                  S_OK);
        return factory;
    }

    ComServerModule module{BesideProgram("KVSsfRd.dll")};
};

TEST_F(ClassFactoryTest, GetClassObject_OtherInterfaceOrClass_RefusedWithNullResult) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(module.GetClassObject(CLSID_KVSsfRd, IID_IBaseFilter, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(module.GetClassObject(CLSID_FilterGraph, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(module.CanUnloadNow(), S_OK);
}

TEST_F(ClassFactoryTest, Factory_StartsWithOneReference_ModuleStaysWhileItOrALockLives) {
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->QueryInterface(IID_IBaseFilter, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);

    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE) << "locked";
    IClassFactory* second = Factory();
    ASSERT_NE(second, nullptr);
    second->LockServer(FALSE);
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE) << "a factory lives";
    second->Release();
    EXPECT_EQ(module.CanUnloadNow(), S_OK);
}

TEST_F(ClassFactoryTest, CreateInstance_FilterWithTypeLibraryDispatchKeepsModuleUntilReleased) {
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)),
              S_OK);
    factory->Release();
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
    IKVSsfRd* automation = nullptr;
    ASSERT_EQ(filter->QueryInterface(IID_IKVSsfRd, reinterpret_cast<void**>(&automation)), S_OK);
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(filter->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    EXPECT_EQ(static_cast<IDispatch*>(automation), dispatch);

    // One dual interface, loaded once and then kept.
    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(dispatch->GetTypeInfo(1, 0, &info), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(info, nullptr);
    ASSERT_EQ(dispatch->GetTypeInfo(0, 0, &info), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_IKVSsfRd));
    EXPECT_NE(attributes->wTypeFlags & TYPEFLAG_FDUAL, 0);
    info->ReleaseTypeAttr(attributes);
    ITypeInfo* again = nullptr;
    ASSERT_EQ(dispatch->GetTypeInfo(0, 0, &again), S_OK);
    EXPECT_EQ(again, info);
    again->Release();
    info->Release();
    // No members of its own: names and calls are the type information's to answer.
    WCHAR nameText[] = L"Play";
    LPOLESTR names[] = {nameText};
    DISPID id = 0;
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(
        dispatch->Invoke(1, IID_IUnknown, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
        DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(dispatch->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);

    dispatch->Release();
    automation->Release();
    EXPECT_EQ(filter->Release(), 0u);
    EXPECT_EQ(module.CanUnloadNow(), S_OK);
}

TEST_F(ClassFactoryTest, CreateInstance_AggregatedOnlyAsIUnknown_InnerCallsReachTheOuter) {
    IClassFactory* factory = Factory();
    ASSERT_NE(factory, nullptr);
    OuterObject outer;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IBaseFilter, &object), E_NOINTERFACE);

    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)),
              S_OK);
    factory->Release();
    EXPECT_EQ(outer.count, 1u) << "the inner IUnknown does not count on the outer";
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(outer.QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)), S_OK);
    EXPECT_EQ(outer.count, 2u) << "the filter's interfaces count on the outer object";
    // Through the filter's interface, IUnknown is the outer's.
    IUnknown* unknown = nullptr;
    ASSERT_EQ(filter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(unknown, static_cast<IUnknown*>(&outer));
    unknown->Release();
    filter->Release();
    EXPECT_EQ(outer.count, 1u);
    EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
    EXPECT_EQ(outer.inner->Release(), 0u);
    EXPECT_EQ(module.CanUnloadNow(), S_OK);
}

} // namespace
