// CUnknownImpl: IUnknown for a small object that is never aggregated and counts its own
// references (enumerators, allocators, samples, clocks, factories). Filters and pins,
// which may be aggregated, are CUnknowns instead. It needs nothing but the COM types, so it
// sits with the platform layer, where the POSIX graph and clock use it as well.
//
//   class CEnumThings final : public CUnknownImpl<ComInterface<IEnumThings, IID_IEnumThings>>
//
// Each ComInterface names an interface the object derives from and the IIDs answered
// with it: its own and those of its bases other than IUnknown. QueryInterface walks them
// in the order listed (the first match wins) and answers IID_IUnknown with the first
// interface; anything else fails with E_NOINTERFACE and a null *ppv.
//
// The count is atomic and starts at 0: the creator takes the first reference (AddRef or
// a QueryInterface). At 0, Release calls FinalRelease, which deletes the object by default
// with the count raised to 1 first, so that a reference taken and dropped while the
// destructor runs does not delete it again.
#pragma once

#include <atomic>

#include "framework/platform/platform.h"

template <class I, const IID&... Ids> struct ComInterface {
    using Type = I;
    static bool Matches(REFIID riid) { return ((riid == Ids) || ...); }
};

template <class First, class... Others>
class CUnknownImpl : public First::Type, public Others::Type... {
public:
    CUnknownImpl() = default;
    virtual ~CUnknownImpl() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr)
            return E_POINTER;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<typename First::Type*>(this);
        } else if (!(Find<First>(riid, ppv) || (Find<Others>(riid, ppv) || ...))) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG count = --m_cRef;
        if (count == 0)
            FinalRelease();
        return count;
    }

protected:
    // Called once the count has dropped to 0.
    virtual void FinalRelease() {
        m_cRef = 1;
        delete this;
    }

    std::atomic<ULONG> m_cRef{0};

private:
    template <class Entry> bool Find(REFIID riid, void** ppv) {
        if (!Entry::Matches(riid))
            return false;
        *ppv = static_cast<typename Entry::Type*>(this);
        return true;
    }

    CUnknownImpl(const CUnknownImpl&) = delete;
    CUnknownImpl& operator=(const CUnknownImpl&) = delete;
};
