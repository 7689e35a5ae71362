// CAMEvent: an event object, auto-reset unless asked otherwise.
#pragma once

#include "framework/platform/sync.h"

class CAMEvent {
public:
    // A failed creation reports E_OUTOFMEMORY through phr (when given).
    explicit CAMEvent(BOOL manualReset = FALSE, HRESULT* phr = nullptr)
        : m_event(manualReset != FALSE) {
        if (!m_event.Valid() && phr != nullptr)
            *phr = E_OUTOFMEMORY;
    }

    void Set() { m_event.Set(); }
    void Reset() { m_event.Reset(); }
    // TRUE when signalled within timeoutMs.
    BOOL Wait(DWORD timeoutMs = INFINITE) { return m_event.Wait(timeoutMs) ? TRUE : FALSE; }
    // Signalled now, without waiting.
    BOOL Check() { return Wait(0); }

private:
    CAMEvent(const CAMEvent&) = delete;
    CAMEvent& operator=(const CAMEvent&) = delete;

    CPlatformEvent m_event;
};
