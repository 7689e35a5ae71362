// The filter's automation interface answered from the type library in the DLL; the
// library's keys are checked by the registration test.
#include <gtest/gtest.h>

#include "filter/kvssf_reader_interface.h"
#include "tests/server/com_server_module.h"

namespace {

class DispatchTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(module.Loaded());
        IClassFactory* factory = nullptr;
        ASSERT_EQ(module.GetClassObject(CLSID_KVSsfRd, IID_IClassFactory,
                                        reinterpret_cast<void**>(&factory)),
                  S_OK);
        ASSERT_EQ(
            factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&dispatch)),
            S_OK);
        factory->Release();
    }
    void TearDown() override {
        if (dispatch != nullptr) {
            EXPECT_EQ(dispatch->Release(), 0u);
        }
        EXPECT_EQ(module.CanUnloadNow(), S_OK);
    }

    ComServerModule module{BesideProgram("KVSsfRd.dll")};
    IDispatch* dispatch = nullptr;
};

TEST_F(DispatchTest, TypeInfo_OneDualInterfaceFromTheModule_KeptAcrossCalls) {
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
    EXPECT_EQ(again, info) << "loaded once, then kept";
    again->Release();
    info->Release();
}

TEST_F(DispatchTest, NamesAndInvoke_NoMembersOfItsOwn_ForwardedToTheTypeInfo) {
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
}

} // namespace
