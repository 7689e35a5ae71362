#include "tools/common/play_positions.h"

#include "tools/common/play_sink.h"

HRESULT ApplyStartStop(IMediaSeeking* seeking, const PlayOptions& options) {
    if (options.Start < 0 && options.Stop < 0)
        return S_OK;
    LONGLONG start = ToReferenceTime(options.Start), stop = ToReferenceTime(options.Stop);
    return seeking->SetPositions(
        &start, options.Start >= 0 ? AM_SEEKING_AbsolutePositioning : AM_SEEKING_NoPositioning,
        &stop, options.Stop >= 0 ? AM_SEEKING_AbsolutePositioning : AM_SEEKING_NoPositioning);
}

CSeekPlan::CSeekPlan(const std::deque<std::pair<double, double>>& seeks, CPlayProgress* progress)
    : m_seeks(seeks), m_pProgress(progress) {}

void CSeekPlan::Start() {
    if (!m_seeks.empty())
        m_pProgress->Arm(ToReferenceTime(m_seeks.front().first));
}

bool CSeekPlan::OnPositionReached(IMediaSeeking* seeking) {
    if (m_seeks.empty())
        return false;
    LONGLONG to = ToReferenceTime(m_seeks.front().second);
    m_seeks.pop_front();
    seeking->SetPositions(&to, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    Start();
    return true;
}
