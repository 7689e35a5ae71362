// The one class this module serves: the source filter.
#include "filter/kvssf_reader.h"
#include "server/class_factory.h"

namespace {

// Registered with MERIT_DO_NOT_USE: automatic graph building never picks the filter;
// hosts create it by class or through its URL schemes.
const AMOVIESETUP_FILTER kReaderSetup = {&CLSID_KVSsfRd, L"Korvel SSF Reader", MERIT_DO_NOT_USE, 0,
                                         nullptr};

} // namespace

const CFactoryTemplate g_Templates[] = {
    {L"Korvel SSF Reader", &CLSID_KVSsfRd, CKVSsfRd::CreateInstance, nullptr, &kReaderSetup},
};
const int g_cTemplates = sizeof g_Templates / sizeof g_Templates[0];
