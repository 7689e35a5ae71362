#include "fragments/async_fragment.h"

ULONG CSSFAsyncFragment::AddRef() {
    return ++m_cRef;
}

ULONG CSSFAsyncFragment::Release() {
    ULONG count = --m_cRef;
    if (count == 0)
        delete this;
    return count;
}
