// The registry through the Windows CE functions and on the host: enumeration and deletion
// at index 0 as the service library does it, key deletion with subkeys, handles of deleted
// keys, the undeletable-value knob, and persistence.
#include <fstream>

#include "handheld_fixture.h"
#include "emulator/state_error.h"
#include "platform/wince/api.h"

namespace tova::testing {
namespace {

class RegistryTest : public HandheldTest {
protected:
    void SetUp() override {
        HandheldTest::SetUp();
        MakeBooted();
    }

    HKEY Open(const char16_t* path) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, 0, &key), ERROR_SUCCESS) << ToUtf8(path);
        return key;
    }
};

TEST_F(RegistryTest, RomDefaultsHoldTheDriverKeys) {
    for (auto name : kRomRemovableDriverKeys) {
        std::u16string key = u"Drivers\\BuiltIn\\" + std::u16string(name);
        EXPECT_TRUE(M().Reg().KeyExists(key)) << ToUtf8(key);
        EXPECT_EQ(M().Reg().ValueNames(key),
                  (std::vector<std::u16string>{u"Dll", u"Prefix", u"Order", u"Index"}));
    }
    for (auto name : kRomLastingDriverKeys)
        EXPECT_TRUE(M().Reg().KeyExists(u"Drivers\\BuiltIn\\" + std::u16string(name)));
}

TEST_F(RegistryTest, ValuesDeletedOneByOneAtIndexZero) {
    HKEY key = Open(u"Drivers\\BuiltIn\\USB");
    std::vector<std::u16string> seen;
    for (;;) {
        WCHAR name[256];
        DWORD length = 256, type = 0;
        LONG result = RegEnumValueW(key, 0, name, &length, nullptr, &type, nullptr, nullptr);
        if (result != ERROR_SUCCESS) {
            EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
            break;
        }
        EXPECT_EQ(length, std::u16string(name).size());
        seen.emplace_back(name);
        ASSERT_EQ(RegDeleteValueW(key, name), ERROR_SUCCESS);
        ASSERT_LE(seen.size(), 4u);
    }
    EXPECT_EQ(seen, (std::vector<std::u16string>{u"Dll", u"Prefix", u"Order", u"Index"}));
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    HKEY builtIn = Open(u"Drivers\\BuiltIn");
    EXPECT_EQ(RegDeleteKeyW(builtIn, u"USB"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(builtIn, u"usb"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(builtIn), ERROR_SUCCESS);
    EXPECT_FALSE(M().Reg().KeyExists(u"Drivers\\BuiltIn\\USB"));
    EXPECT_TRUE(M().Reg().KeyExists(u"Drivers\\BuiltIn\\Battery"));
}

TEST_F(RegistryTest, EnumerationBuffersAndData) {
    HKEY key = Open(u"drivers\\builtin\\serial");  // keys ignore case
    WCHAR name[8];
    DWORD length = 3;  // "Dll" needs 4 with its NUL
    EXPECT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    length = 4;
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, sizeof(u"serial.dll"));
    BYTE small[4];
    DWORD smallSize = sizeof small;
    length = 8;
    EXPECT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, &type, small, &smallSize), ERROR_MORE_DATA);
    EXPECT_EQ(smallSize, size);
    length = 8;
    DWORD order = 0, orderSize = 4;
    ASSERT_EQ(RegEnumValueW(key, 2, name, &length, nullptr, &type, reinterpret_cast<BYTE*>(&order), &orderSize),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"Order");
    EXPECT_EQ(type, REG_DWORD);
    length = 8;
    EXPECT_EQ(RegEnumValueW(key, 4, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, CreateSetQueryAndDeleteWithSubkeys) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Tova\\Deep", 0, nullptr, 0, 0, nullptr,
                              &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    DWORD value = 0x1234;
    ASSERT_EQ(RegSetValueExW(key, u"Count", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4), ERROR_SUCCESS);
    value = 0x5678;
    ASSERT_EQ(RegSetValueExW(key, u"COUNT", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4), ERROR_SUCCESS);
    DWORD type = 0, read = 0, size = 4;
    ASSERT_EQ(RegQueryValueExW(key, u"count", nullptr, &type, reinterpret_cast<BYTE*>(&read), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(read, 0x5678u);
    EXPECT_EQ(M().Reg().ValueNames(u"Software\\Tova\\Deep"), std::vector<std::u16string>{u"Count"});
    EXPECT_EQ(RegQueryValueExW(key, u"absent", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    HKEY again = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\tova\\deep", 0, nullptr, 0, 0, nullptr,
                              &again, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
    // Deleting a key takes its subkeys; handles to them then see a deleted key.
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Software\\Tova"), ERROR_SUCCESS);
    EXPECT_FALSE(M().Reg().KeyExists(u"Software\\Tova\\Deep"));
    EXPECT_TRUE(M().Reg().KeyExists(u"Software"));
    EXPECT_EQ(RegSetValueExW(key, u"Count", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(again), ERROR_INVALID_HANDLE);
    HKEY missing = reinterpret_cast<HKEY>(0x1234);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"No\\Such\\Key", 0, 0, &missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(HKEY_LOCAL_MACHINE, u"absent"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, UndeletableValueKnob) {
    MachineFaults faults;
    faults.undeletableRegistryValues.push_back({u"Drivers\\BuiltIn\\IrDA", u"Prefix"});
    M().SetFaults(faults);
    HKEY key = Open(u"Drivers\\BuiltIn\\IrDA");
    EXPECT_EQ(RegDeleteValueW(key, u"Dll"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, u"PREFIX"), ERROR_ACCESS_DENIED);
    WCHAR name[256];
    DWORD length = 256;
    ASSERT_EQ(RegEnumValueW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"Prefix");
    EXPECT_FALSE(M().Reg().DeleteValue(u"Drivers\\BuiltIn\\IrDA", u"Prefix"));
    RegCloseKey(key);
}

TEST_F(RegistryTest, ColdBootRestoresRomDefaults) {
    ASSERT_TRUE(M().Reg().DeleteKey(u"Drivers\\BuiltIn"));
    ASSERT_TRUE(M().Reg().CreateKey(u"Software\\Extra"));
    ResetAndWait(ResetKind::kCold);
    EXPECT_TRUE(M().Reg().KeyExists(u"Drivers\\BuiltIn\\NDIS"));
    EXPECT_FALSE(M().Reg().KeyExists(u"Software\\Extra"));
}

TEST(RegistryFile, SaveAndLoadKeepEveryValue) {
    TempFolder dir;
    Registry saved;
    ASSERT_TRUE(saved.CreateKey(u"Odd Names\\with % and = and \u00e9"));
    ASSERT_TRUE(saved.SetValue(u"Odd Names\\with % and = and \u00e9", u"", RegValue::String(u"default")));
    ASSERT_TRUE(saved.SetValue(u"Odd Names\\with % and = and \u00e9", u"empty", RegValue{REG_BINARY, {}}));
    ASSERT_TRUE(saved.DeleteKey(u"Drivers\\BuiltIn\\GSM610"));
    saved.Save(dir / "registry.txt");
    Registry loaded;
    loaded.Load(dir / "registry.txt");
    EXPECT_EQ(loaded.GetValue(u"odd names\\WITH % AND = AND \u00c9", u""), RegValue::String(u"default"));
    EXPECT_EQ(loaded.GetValue(u"Odd Names\\with % and = and \u00e9", u"empty"), (RegValue{REG_BINARY, {}}));
    EXPECT_FALSE(loaded.KeyExists(u"Drivers\\BuiltIn\\GSM610"));
    EXPECT_EQ(loaded.SubKeys(u"Drivers\\BuiltIn"), saved.SubKeys(u"Drivers\\BuiltIn"));
}

TEST(RegistryFile, CorruptFilesAreRefusedAndChangeNothing) {
    TempFolder dir;
    const std::pair<const char*, const char*> cases[] = {
        {"missing", nullptr},
        {"wrong header", "something else\nend\n"},
        {"value before any key", "tova-registry 1\nvalue x 4 01000000\nend\n"},
        {"bad hex", "tova-registry 1\nhive 0\nkey A\nvalue x 4 zz\nend\n"},
        {"unknown line", "tova-registry 1\nhive 0\nbogus\nend\n"},
        {"no end", "tova-registry 1\nhive 0\nkey A\n"},
        {"bad hive", "tova-registry 1\nhive 9\nend\n"},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        auto file = dir / (std::string(name) + ".txt");
        if (text) std::ofstream(file) << text;
        Registry registry;
        EXPECT_THROW(registry.Load(file), StateError);
        EXPECT_TRUE(registry.KeyExists(u"Drivers\\BuiltIn\\USB"));
    }
}

}  // namespace
}  // namespace tova::testing
