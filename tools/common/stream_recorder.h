// IStreamRecorder: where a play sink writes its samples besides the log (the recording
// of kvssf play). The sink knows nothing of the container behind it.
#pragma once

#include <cstddef>

#include "framework/platform/platform.h"

class IStreamRecorder {
public:
    // One sample of a stream the recorder handed out, times in 100 ns units on the
    // recording's own time line. Called from the pins' streaming threads at once.
    virtual HRESULT Write(int index, const BYTE* data, size_t size, REFERENCE_TIME start,
                          REFERENCE_TIME stop, bool sync) = 0;

protected:
    ~IStreamRecorder() = default;
};
