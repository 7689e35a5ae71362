// Registration in the Wine prefix's registry: what regsvr32 writes and removes, and the
// guards that keep one copy of the DLL from overwriting or removing another's keys.
#include <gtest/gtest.h>

#include "filter/kvssf_reader_interface.h"
#include "tests/server/com_server_module.h"
#include "tests/support/temp_directory.h"

namespace {

const std::string kClsid = "{BEF63784-0614-4166-9A64-F91744410DAE}";
const std::string kClassKey = "CLSID\\" + kClsid;
const std::string kServerKey = kClassKey + "\\InprocServer32";
const std::string kMapperKey = "CLSID\\{083863F1-70DE-11d0-BD40-00A0C911CE86}\\Instance\\" + kClsid;
const std::string kTypeLibKey = "TypeLib\\{27F9F9F6-C215-4F83-8804-47358D5371EE}";
const std::string kInterfaceKey = "Interface\\{C8DF05C5-1ED9-4B00-BC6C-F71BEA3E68AA}";

bool SamePath(const std::string& a, const std::string& b) {
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

class RegistrationTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(own.Loaded());
        ASSERT_TRUE(newer.Loaded());
        Clean();
    }
    void TearDown() override { Clean(); }

    static void Clean() {
        for (const std::string& key : {kClassKey, kMapperKey, kTypeLibKey, kInterfaceKey,
                                       std::string("kvssf"), std::string("kvssfs")})
            RemoveKey(key);
    }

    void ExpectRegistered(const std::string& path) {
        EXPECT_EQ(StringValue(kClassKey, nullptr), "Korvel SSF Reader");
        EXPECT_PRED2(SamePath, StringValue(kServerKey, nullptr), path);
        EXPECT_EQ(StringValue(kServerKey, "ThreadingModel"), "Both");
        for (const char* scheme : {"kvssf", "kvssfs"}) {
            DWORD values = 0, subkeys = 0;
            ASSERT_TRUE(CountEntries(scheme, &values, &subkeys)) << scheme;
            EXPECT_EQ(values, 1u) << scheme << ": only the source filter";
            EXPECT_EQ(subkeys, 0u) << scheme;
            EXPECT_EQ(StringValue(scheme, "Source Filter"), kClsid) << scheme;
        }
        EXPECT_EQ(StringValue(kMapperKey, "FriendlyName"), "Korvel SSF Reader");
        EXPECT_PRED2(SamePath, StringValue(kTypeLibKey + "\\1.0\\0\\win64", nullptr), path);
        EXPECT_EQ(StringValue(kTypeLibKey + "\\1.0", nullptr), "KVSsfRd (1.0) Type Library");
        EXPECT_TRUE(KeyExists(kInterfaceKey)) << "the dual interface";
    }

    void ExpectUnregistered() {
        for (const std::string& key :
             {kClassKey, kMapperKey, kTypeLibKey, std::string("kvssf"), std::string("kvssfs")})
            EXPECT_FALSE(KeyExists(key)) << key;
    }

    const std::string ownPath = BesideProgram("KVSsfRd.dll");
    ComServerModule own{ownPath};
    // The same module with a higher file version.
    const std::string newerPath = BesideProgram("KVSsfRdNewer.dll");
    ComServerModule newer{newerPath};
};

TEST_F(RegistrationTest, Regsvr32_WritesEveryKey_RewritesThem_UnregisterRemovesThem) {
    ASSERT_EQ(RunRegsvr32(ownPath, false), 0);
    ExpectRegistered(ownPath);

    // Registering the same file again proceeds and rewrites everything.
    RemoveKey("kvssfs");
    SetStringValue(kClassKey, nullptr, "stale");
    ASSERT_EQ(RunRegsvr32(ownPath, false), 0);
    ExpectRegistered(ownPath);

    ASSERT_EQ(RunRegsvr32(ownPath, true), 0);
    ExpectUnregistered();
    EXPECT_FALSE(KeyExists(kInterfaceKey));
    // Unregistering what is not registered still succeeds.
    EXPECT_EQ(own.UnregisterServer(), S_OK);
}

TEST_F(RegistrationTest, Register_NewerCopyElsewhereKeepsItsKeys_OlderOrMissingIsReplaced) {
    ASSERT_EQ(newer.RegisterServer(), S_OK);
    ExpectRegistered(newerPath);
    RemoveKey("kvssfs");
    EXPECT_EQ(own.RegisterServer(), S_OK);
    EXPECT_PRED2(SamePath, StringValue(kServerKey, nullptr), newerPath);
    EXPECT_FALSE(KeyExists("kvssfs")) << "nothing was registered";

    // From the newer copy's side this one is older: it is replaced.
    EXPECT_EQ(newer.RegisterServer(), S_OK);
    ExpectRegistered(newerPath);
    Clean();

    // A copy of the same version elsewhere is replaced.
    ScopedTempDirectory temp;
    const std::string copyPath = temp.Path() + "\\KVSsfRd.dll";
    ASSERT_TRUE(CopyFileA(ownPath.c_str(), copyPath.c_str(), FALSE));
    {
        ComServerModule copy(copyPath);
        ASSERT_TRUE(copy.Loaded());
        ASSERT_EQ(copy.RegisterServer(), S_OK);
        ExpectRegistered(copyPath);
        EXPECT_EQ(own.RegisterServer(), S_OK);
        ExpectRegistered(ownPath);
    }

    // A registered file that no longer exists is replaced.
    SetStringValue(kServerKey, nullptr, "C:\\nowhere\\KVSsfRd.dll");
    EXPECT_EQ(own.RegisterServer(), S_OK);
    ExpectRegistered(ownPath);
}

TEST_F(RegistrationTest, Unregister_AnotherExistingCopysKeysStay_AMissingFilesGo) {
    ASSERT_EQ(newer.RegisterServer(), S_OK);
    EXPECT_EQ(own.UnregisterServer(), S_OK);
    ExpectRegistered(newerPath);

    SetStringValue(kServerKey, nullptr, "C:\\nowhere\\KVSsfRd.dll");
    EXPECT_EQ(own.UnregisterServer(), S_OK);
    ExpectUnregistered();
}

} // namespace
