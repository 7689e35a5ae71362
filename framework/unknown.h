// CBaseObject, CUnknown: the object model of filters and pins.
//
// A CUnknown counts its references itself unless it is aggregated: then every
// IUnknown call made through an interface of the object goes to the outer object,
// and only the outer object holds the non-delegating IUnknown.
#pragma once

#include <atomic>

#include "framework/platform/platform.h"

// The IUnknown of an object that is not forwarded to an outer object.
struct INonDelegatingUnknown {
    STDMETHOD(NonDelegatingQueryInterface)(REFIID riid, void** ppv) = 0;
    STDMETHOD_(ULONG, NonDelegatingAddRef)() = 0;
    STDMETHOD_(ULONG, NonDelegatingRelease)() = 0;

protected:
    ~INonDelegatingUnknown() = default;
};

// A named object; the number of live objects is kept for leak checks.
class CBaseObject {
public:
    // pName is not copied: it must outlive the object (normally a literal).
    explicit CBaseObject(LPCWSTR pName);
    virtual ~CBaseObject();

    LPCWSTR ObjectName() const { return m_pName; }
    static LONG ObjectsActive();

private:
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;

    LPCWSTR const m_pName;
    static std::atomic<LONG> m_cObjects;
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    // pUnk: the outer object when aggregated, else null. The count starts at 0.
    CUnknown(LPCWSTR pName, LPUNKNOWN pUnk, HRESULT* phr = nullptr);
    ~CUnknown() override;

    // IID_IUnknown gives the non-delegating IUnknown; derived classes add their
    // interfaces and end with this one. E_NOINTERFACE (and null) otherwise.
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) NonDelegatingAddRef() override;
    // Deletes the object when the count reaches 0.
    STDMETHODIMP_(ULONG) NonDelegatingRelease() override;

    // Where the object's IUnknown calls go: the outer object, or this object's own
    // non-delegating IUnknown.
    LPUNKNOWN GetOwner() const { return m_pUnknown; }
    // The non-delegating IUnknown as a real IUnknown, for an aggregating outer object.
    LPUNKNOWN GetNonDelegatingUnknown() { return &m_inner; }

protected:
    std::atomic<LONG> m_cRef{0};

private:
    // Forwards IUnknown to the non-delegating methods of its object.
    class CInner final : public IUnknown {
    public:
        explicit CInner(INonDelegatingUnknown* object) : m_object(object) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
            return m_object->NonDelegatingQueryInterface(riid, ppv);
        }
        STDMETHODIMP_(ULONG) AddRef() override { return m_object->NonDelegatingAddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_object->NonDelegatingRelease(); }

    private:
        INonDelegatingUnknown* const m_object;
    };

    CInner m_inner;
    IUnknown* const m_pUnknown;
};

// Stores pUnk in *ppv with a new reference: S_OK, or E_POINTER for a null ppv.
HRESULT GetInterface(LPUNKNOWN pUnk, void** ppv);

// The IUnknown methods of a class derived from CUnknown and from interfaces: all go
// to the owner.
#define DECLARE_IUNKNOWN                                                                           \
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {                                \
        return GetOwner()->QueryInterface(riid, ppv);                                              \
    }                                                                                              \
    STDMETHODIMP_(ULONG) AddRef() override {                                                       \
        return GetOwner()->AddRef();                                                               \
    }                                                                                              \
    STDMETHODIMP_(ULONG) Release() override {                                                      \
        return GetOwner()->Release();                                                              \
    }
