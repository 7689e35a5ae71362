// CUnknown on its own (aggregation: the class factory's test, under Wine).
#include <gtest/gtest.h>

#include "framework/unknown.h"

namespace {

constexpr CLSID kInnerClsid = {0x11112222, 0x3333, 0x4444, {5, 5, 6, 6, 7, 7, 8, 8}};

// An object with one interface, IPersist.
class Inner : public CUnknown, public IPersist {
public:
    explicit Inner(bool* destroyed) : CUnknown(L"Inner", nullptr), m_destroyed(destroyed) {}
    ~Inner() override { *m_destroyed = true; }

    DECLARE_IUNKNOWN

    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IPersist)
            return GetInterface(static_cast<IPersist*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }
    STDMETHODIMP GetClassID(CLSID* clsid) override {
        *clsid = kInnerClsid;
        return S_OK;
    }

private:
    bool* const m_destroyed;
};

TEST(Unknown, StandAlone_CountsItselfAndAnswersItsInterfaces) {
    bool destroyed = false;
    const LONG before = CBaseObject::ObjectsActive();
    auto* inner = new Inner(&destroyed);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before + 1);

    IPersist* persist = nullptr;
    ASSERT_EQ(inner->NonDelegatingQueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)),
              S_OK);
    IUnknown* identity = nullptr;
    ASSERT_EQ(persist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, inner->GetNonDelegatingUnknown());
    EXPECT_EQ(identity->Release(), 1u);

    void* none = &destroyed;
    EXPECT_EQ(persist->QueryInterface(IID_IPin, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(persist->QueryInterface(IID_IPersist, nullptr), E_POINTER);

    EXPECT_FALSE(destroyed);
    EXPECT_EQ(persist->Release(), 0u);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
}

} // namespace
