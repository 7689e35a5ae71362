// The switch word alone, so that a program defining its own keeps this member of the core
// library out of its link.
#include "framework/trace/trace.h"

DWORD g_dwKTraceSwitch = KVSSF_TRACE_SWITCH;
