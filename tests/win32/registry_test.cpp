// The registry seam against the real registry (HKEY_LOCAL_MACHINE of the
// test prefix). Every key made here lives below one test key that is
// removed again, with the settings key itself when the test created it.
#include "platform/win32/win_registry.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

using namespace qvx;

namespace {

const std::string SettingsKey = "SOFTWARE\\Morveklink";
const std::string TestKey = SettingsKey + "\\PlatformTest";

// Names as the system itself enumerates them, for comparison.
std::vector<std::string> SystemValueNames(const std::string& path) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    char name[16384];
    for (DWORD i = 0;; ++i) {
        DWORD chars = sizeof(name);
        if (RegEnumValueA(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name, chars);
    }
    RegCloseKey(key);
    return names;
}

bool SetRaw(const std::string& path, const std::string& name, DWORD type, const void* data,
            DWORD size) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

DWORD SystemType(const std::string& path, const std::string& name) {
    DWORD type = REG_NONE;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return type;
    RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, nullptr);
    RegCloseKey(key);
    return type;
}

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

class WinRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        SettingsExisted = Registry.OpenKey(SettingsKey, RegAccess::Read) != nullptr;
        Registry.DeleteKey(TestKey); // left over from an aborted run
        Key = Registry.CreateKey(TestKey);
        ASSERT_NE(Key, nullptr);
    }
    void TearDown() override {
        Key.reset();
        EXPECT_TRUE(Registry.DeleteKey(TestKey));
        if (!SettingsExisted) {
            EXPECT_TRUE(Registry.DeleteKey(SettingsKey));
        }
    }

    TWinRegistry Registry;
    std::unique_ptr<IRegistryKey> Key;
    bool SettingsExisted = false;
};

TEST_F(WinRegistryTest, StringDwordAndDefaultValueRoundTrip) {
    ASSERT_TRUE(Key->WriteString("Port", "COM3"));
    ASSERT_TRUE(Key->WriteString("Device", ""));
    ASSERT_TRUE(Key->WriteDword("SortCol", 0xFFFFFFFEu));
    ASSERT_TRUE(Key->WriteString("", "default text"));
    EXPECT_EQ(SystemType(TestKey, "Port"), static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(SystemType(TestKey, "SortCol"), static_cast<DWORD>(REG_DWORD));

    auto reader = Registry.OpenKey(TestKey, RegAccess::Read);
    ASSERT_NE(reader, nullptr);
    std::string text;
    uint32_t number = 0;
    EXPECT_TRUE(reader->ReadString("port", text)); // names ignore case
    EXPECT_EQ(text, "COM3");
    EXPECT_TRUE(reader->ReadString("Device", text));
    EXPECT_EQ(text, "");
    EXPECT_TRUE(reader->ReadString("", text));
    EXPECT_EQ(text, "default text");
    EXPECT_TRUE(reader->ReadDword("SortCol", number));
    EXPECT_EQ(number, 0xFFFFFFFEu);
    EXPECT_EQ(reader->TypeOf("Port"), RegValueType::String);
    EXPECT_EQ(reader->TypeOf("SortCol"), RegValueType::Dword);
    EXPECT_EQ(reader->TypeOf("Nothing"), RegValueType::Missing);

    EXPECT_TRUE(Key->DeleteValue("Port"));
    EXPECT_EQ(reader->TypeOf("Port"), RegValueType::Missing);
    EXPECT_FALSE(Key->DeleteValue("Port"));
}

TEST_F(WinRegistryTest, ReadsOfAnotherTypeFail) {
    ASSERT_TRUE(Key->WriteString("Text", "12"));
    ASSERT_TRUE(Key->WriteDword("Number", 12));
    const unsigned char blob[] = {1, 2, 3};
    ASSERT_TRUE(SetRaw(TestKey, "Blob", REG_BINARY, blob, sizeof(blob)));
    const char expand[] = "%SystemRoot%\\x";
    ASSERT_TRUE(SetRaw(TestKey, "Expand", REG_EXPAND_SZ, expand, sizeof(expand)));

    std::string text = "unchanged";
    uint32_t number = 7;
    EXPECT_FALSE(Key->ReadDword("Text", number));
    EXPECT_FALSE(Key->ReadString("Number", text));
    EXPECT_FALSE(Key->ReadString("Blob", text));
    EXPECT_FALSE(Key->ReadDword("Blob", number));
    EXPECT_FALSE(Key->ReadString("Missing", text));
    EXPECT_FALSE(Key->ReadDword("Missing", number));
    EXPECT_EQ(text, "unchanged");
    EXPECT_EQ(number, 7u);
    EXPECT_EQ(Key->TypeOf("Blob"), RegValueType::Other);

    // An expandable string is a string, read as stored.
    EXPECT_EQ(Key->TypeOf("Expand"), RegValueType::String);
    EXPECT_TRUE(Key->ReadString("Expand", text));
    EXPECT_EQ(text, "%SystemRoot%\\x");
}

TEST_F(WinRegistryTest, StringsOfAnyLengthAndForm) {
    std::string longText;
    for (int i = 0; i < 70000; ++i)
        longText.push_back(static_cast<char>('A' + i % 26));
    ASSERT_TRUE(Key->WriteString("Long", longText));
    std::string text;
    EXPECT_TRUE(Key->ReadString("Long", text));
    EXPECT_EQ(text, longText);

    // Text past a NUL cannot be stored; what precedes it is.
    ASSERT_TRUE(Key->WriteString("Cut", std::string("ab\0cd", 5)));
    EXPECT_TRUE(Key->ReadString("Cut", text));
    EXPECT_EQ(text, "ab");

    // Written by another program without a terminator, or with several.
    ASSERT_TRUE(SetRaw(TestKey, "Bare", REG_SZ, "xyz", 3));
    EXPECT_TRUE(Key->ReadString("Bare", text));
    EXPECT_EQ(text, "xyz");
    ASSERT_TRUE(SetRaw(TestKey, "Padded", REG_SZ, "xy\0\0\0", 5));
    EXPECT_TRUE(Key->ReadString("Padded", text));
    EXPECT_EQ(text, "xy");

    // 8-bit ANSI text passes unchanged.
    const std::string ansi = "Gr\xfc\xdf \xe9t\xe9 \xb0";
    ASSERT_TRUE(Key->WriteString("Ansi", ansi));
    EXPECT_TRUE(Key->ReadString("Ansi", text));
    EXPECT_EQ(text, ansi);
}

TEST_F(WinRegistryTest, OpenHonoursExistenceAndAccess) {
    EXPECT_EQ(Registry.OpenKey(TestKey + "\\Absent", RegAccess::Read), nullptr);
    EXPECT_EQ(Registry.OpenKey(TestKey + "\\Absent", RegAccess::AllAccess), nullptr);

    auto reader = Registry.OpenKey(TestKey, RegAccess::Read);
    ASSERT_NE(reader, nullptr);
    EXPECT_FALSE(reader->WriteString("Port", "COM1"));
    EXPECT_FALSE(reader->WriteDword("SortCol", 1));
    EXPECT_EQ(reader->TypeOf("Port"), RegValueType::Missing);

    auto writer = Registry.OpenKey(TestKey, RegAccess::AllAccess);
    ASSERT_NE(writer, nullptr);
    EXPECT_TRUE(writer->WriteString("Port", "COM1"));
    EXPECT_EQ(reader->TypeOf("Port"), RegValueType::String);
}

TEST_F(WinRegistryTest, EnumeratesValuesAndSubkeysAsTheSystemDoes) {
    // A name longer than the first buffer the enumeration tries.
    const std::string longName(300, 'n');
    for (const std::string& name :
         {std::string("Zulu"), std::string("alpha"), longName, std::string("Mike")})
        ASSERT_TRUE(Key->WriteString(name, name));
    ASSERT_NE(Registry.CreateKey(TestKey + "\\Run"), nullptr);
    ASSERT_NE(Registry.CreateKey(TestKey + "\\Hide\\Deeper"), nullptr);

    std::vector<std::string> names = Key->ValueNames();
    EXPECT_EQ(names, SystemValueNames(TestKey));
    EXPECT_EQ(Sorted(names), Sorted({"Mike", "Zulu", "alpha", longName}));
    // Subkeys come sorted, below the key itself only.
    EXPECT_EQ(Key->SubkeyNames(), (std::vector<std::string>{"Hide", "Run"}));

    auto empty = Registry.OpenKey(TestKey + "\\Run", RegAccess::Read);
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->ValueNames().empty());
    EXPECT_TRUE(empty->SubkeyNames().empty());
}

TEST_F(WinRegistryTest, LastWriteTimeMovesOnWrite) {
    uint64_t before = 0;
    ASSERT_TRUE(Key->LastWriteTime(before));
    EXPECT_NE(before, 0u);
    // Let the clock pass the first time stamp, so a later write must differ.
    for (;;) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        if (((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) > before)
            break;
        Sleep(1);
    }
    ASSERT_TRUE(Key->WriteDword("Count", 1));
    uint64_t after = 0;
    ASSERT_TRUE(Key->LastWriteTime(after));
    EXPECT_GT(after, before);
}

TEST_F(WinRegistryTest, DeleteKeyRemovesTheWholeTree) {
    ASSERT_NE(Registry.CreateKey(TestKey + "\\Tree\\A\\B\\C"), nullptr);
    ASSERT_NE(Registry.CreateKey(TestKey + "\\Tree\\D"), nullptr);
    ASSERT_TRUE(Registry.CreateKey(TestKey + "\\Tree\\A\\B")->WriteString("v", "x"));
    ASSERT_NE(Registry.CreateKey(TestKey + "\\Kept"), nullptr);

    EXPECT_TRUE(Registry.DeleteKey(TestKey + "\\Tree"));
    EXPECT_EQ(Registry.OpenKey(TestKey + "\\Tree", RegAccess::Read), nullptr);
    EXPECT_EQ(Key->SubkeyNames(), (std::vector<std::string>{"Kept"}));

    EXPECT_FALSE(Registry.DeleteKey(TestKey + "\\Tree"));
    // The root itself is never a target.
    EXPECT_FALSE(Registry.DeleteKey(""));
    EXPECT_FALSE(Registry.DeleteKey("\\"));
    EXPECT_NE(Registry.OpenKey("SOFTWARE", RegAccess::Read), nullptr);
}

TEST_F(WinRegistryTest, LeadingBackslashNamesTheSameKey) {
    auto created = Registry.CreateKey("\\" + TestKey + "\\Slash");
    ASSERT_NE(created, nullptr);
    ASSERT_TRUE(created->WriteString("Mode", "05"));

    auto opened = Registry.OpenKey(TestKey + "\\Slash", RegAccess::Read);
    ASSERT_NE(opened, nullptr);
    std::string text;
    EXPECT_TRUE(opened->ReadString("Mode", text));
    EXPECT_EQ(text, "05");
    EXPECT_NE(Registry.OpenKey("\\" + TestKey + "\\Slash", RegAccess::Read), nullptr);

    created.reset();
    opened.reset();
    EXPECT_TRUE(Registry.DeleteKey("\\" + TestKey + "\\Slash"));
    EXPECT_EQ(Registry.OpenKey(TestKey + "\\Slash", RegAccess::Read), nullptr);
}

} // namespace
