// The positions of a play: --start and --stop set on the source before Run, and the
// --seek list carried out while it runs, each seek once the sinks report its AT.
#pragma once

#include <deque>
#include <utility>

#include "framework/platform/platform.h"
#include "tools/common/play_options.h"

class CPlayProgress;

// --start and --stop through the source's IMediaSeeking, before Run; S_OK when neither
// is given, else SetPositions' result.
HRESULT ApplyStartStop(IMediaSeeking* seeking, const PlayOptions& options);

// Used by the host's event loop only.
class CSeekPlan {
public:
    // progress must outlive the plan.
    CSeekPlan(const std::deque<std::pair<double, double>>& seeks, CPlayProgress* progress);

    // Arms the progress at the first seek's AT; nothing without seeks.
    void Start();
    // On EC_KVSSF_POSITION_REACHED: seeks to the next TO and arms the following AT.
    // FALSE when no seek was left.
    bool OnPositionReached(IMediaSeeking* seeking);

private:
    std::deque<std::pair<double, double>> m_seeks; // at, to (seconds)
    CPlayProgress* const m_pProgress;
};
