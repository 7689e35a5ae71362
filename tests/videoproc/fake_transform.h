// Pass-through stand-ins for the decoder, converter and resizer the processor binds by
// display name: each sample's bytes, times and sync flag go downstream as one frame, on
// the upstream thread.
#pragma once

#include <atomic>
#include <vector>

#include "framework/media_type.h"

namespace fakes {

enum Role { Decoder, Converter, Resizer, RoleCount };

// A role's behaviour, set before the graph is built, and what it saw.
struct RoleSettings {
    std::vector<GUID> Accepted;    // input subtypes; empty: any
    CMediaType Offered;            // the output type offered; major type null: the input's
    std::atomic<bool> Hold{false}; // keep every sample received (until a flush or Stop)
    std::atomic<int> Created{0};
    std::atomic<int> Received{0};
    std::atomic<int> ReceivedWhileFlushing{0};
    CMediaType Input;              // the last input connection's type
    IFilterGraph* Graph = nullptr; // the last graph joined; not referenced
    IPin* Upstream = nullptr;      // the last input connection's peer; not referenced
};
RoleSettings& Settings(Role role);
// Registers the fakes' classes and resets every role's settings.
void ResetFakes();
// Points the role's display name at its fake.
void BindFake(Role role);
// The graph classes, ResetFakes and every role bound; the WVC1 name is left alone.
void RegisterFakes();

} // namespace fakes
