// Monikers by display name over the class table.
#include <gtest/gtest.h>

#include <cwchar>
#include <utility>

#include "framework/com_ptr.h"
#include "framework/platform/graph_classes.h"

namespace {

constexpr CLSID kUnregisteredClass = {0x5d0c3a11, 0x8e2f, 0x4b61, {0x9a, 1, 2, 3, 4, 5, 6, 8}};
const wchar_t kName[] = L"@device:sw:{083863F1-70DE-11D0-BD40-00A0C911CE86}\\{named}";

// Parses name and binds it to IPersist (the graph has it): the parse's and the bind's results.
std::pair<HRESULT, HRESULT> ParseAndBind(const wchar_t* name, ComPtr<IPersist>* object) {
    ComPtr<IBindCtx> context;
    EXPECT_EQ(CreateBindCtx(0, context.Out()), S_OK);
    ComPtr<IMoniker> moniker;
    ULONG eaten = 99;
    const HRESULT parsed = MkParseDisplayName(context.Get(), name, &eaten, moniker.Out());
    EXPECT_EQ(eaten, SUCCEEDED(parsed) ? std::wcslen(name) : 0u) << name;
    if (FAILED(parsed)) {
        EXPECT_EQ(moniker.Get(), nullptr);
        return {parsed, E_UNEXPECTED};
    }
    return {parsed, moniker->BindToObject(context.Get(), nullptr, IID_IPersist, object->OutVoid())};
}

TEST(Monikers, DisplayNames_ParseByFormAndBindThroughTheClassTable) {
    ASSERT_EQ(RegisterGraphClasses(), S_OK);
    ASSERT_EQ(RegisterDisplayName(kName, kUnregisteredClass), S_OK);
    ASSERT_EQ(RegisterDisplayName(L"@device:dmo:{unregistered}", kUnregisteredClass), S_OK);
    ASSERT_EQ(RegisterDisplayName(kName, CLSID_FilterGraph), S_OK) << "a second one repoints";

    ComPtr<IPersist> object;
    EXPECT_EQ(ParseAndBind(kName, &object), std::make_pair(S_OK, S_OK));
    EXPECT_NE(object.Get(), nullptr);

    const struct {
        const wchar_t* Name;
        HRESULT Parsed, Bound;
    } cases[] = {
        {L"@device:sw:{no such name}", S_OK, MK_E_NOOBJECT},
        {L"@device:dmo:{unregistered}", S_OK, REGDB_E_CLASSNOTREG},
        {L"@device:sw:", MK_E_SYNTAX, E_UNEXPECTED},
        {L"@device::x", MK_E_SYNTAX, E_UNEXPECTED},
        {L"device:sw:x", MK_E_SYNTAX, E_UNEXPECTED},
    };
    for (const auto& c : cases) {
        ComPtr<IPersist> none;
        EXPECT_EQ(ParseAndBind(c.Name, &none), std::make_pair(c.Parsed, c.Bound)) << c.Name;
        EXPECT_EQ(none.Get(), nullptr);
    }
}

} // namespace
