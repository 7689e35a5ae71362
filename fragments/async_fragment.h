// A fragment fetched on a worker thread of its own. Reference counted: a stream's
// fragment slot holds one reference, each waiter another.
#pragma once

#include <atomic>

#include "framework/platform/platform.h"

class CSSFAsyncFragment {
public:
    CSSFAsyncFragment() = default;

    ULONG AddRef();
    // Deletes the fragment when the count reaches zero.
    ULONG Release();

protected:
    virtual ~CSSFAsyncFragment() = default;

private:
    CSSFAsyncFragment(const CSSFAsyncFragment&) = delete;
    CSSFAsyncFragment& operator=(const CSSFAsyncFragment&) = delete;

    std::atomic<ULONG> m_cRef{1};
};
