// CUnknown on its own and aggregated by an outer object.
#include <gtest/gtest.h>

#include "framework/unknown.h"

namespace {

constexpr CLSID kInnerClsid = {0x11112222, 0x3333, 0x4444, {5, 5, 6, 6, 7, 7, 8, 8}};

// An object with one interface, IPersist.
class Inner : public CUnknown, public IPersist {
public:
    Inner(LPUNKNOWN outer, bool* destroyed) : CUnknown(L"Inner", outer), m_destroyed(destroyed) {}
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
    LONG Count() const { return m_cRef.load(); }

private:
    bool* const m_destroyed;
};

// Aggregates an Inner and exposes its IPersist as its own.
class Outer : public IUnknown {
public:
    explicit Outer(bool* innerDestroyed) {
        m_inner = new Inner(this, innerDestroyed);
        m_innerUnknown = m_inner->GetNonDelegatingUnknown();
        m_innerUnknown->AddRef();
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown)
            return GetInterface(this, ppv);
        return m_innerUnknown->QueryInterface(riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG count = --m_cRef;
        if (count == 0) {
            m_innerUnknown->Release();
            delete this;
        }
        return count;
    }
    Inner* InnerObject() const { return m_inner; }
    ULONG Count() const { return m_cRef; }

private:
    virtual ~Outer() = default;
    ULONG m_cRef = 0;
    Inner* m_inner = nullptr;
    IUnknown* m_innerUnknown = nullptr;
};

TEST(Unknown, StandAlone_CountsItselfAndAnswersItsInterfaces) {
    bool destroyed = false;
    const LONG before = CBaseObject::ObjectsActive();
    auto* inner = new Inner(nullptr, &destroyed);
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

TEST(Unknown, Aggregated_InterfacesCountOnTheOuterObject) {
    bool destroyed = false;
    auto* outer = new Outer(&destroyed);
    outer->AddRef();
    Inner* inner = outer->InnerObject();
    EXPECT_EQ(inner->Count(), 1); // the outer object's hold on the non-delegating unknown

    IPersist* persist = nullptr;
    ASSERT_EQ(outer->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)), S_OK);
    EXPECT_EQ(outer->Count(), 2u);
    EXPECT_EQ(inner->Count(), 1);

    // The identity of an aggregated object is the outer object's.
    IUnknown* identity = nullptr;
    ASSERT_EQ(persist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(outer));
    EXPECT_EQ(outer->Count(), 3u);
    identity->Release();

    EXPECT_EQ(persist->Release(), 1u);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(outer->Release(), 0u);
    EXPECT_TRUE(destroyed);
}

} // namespace
