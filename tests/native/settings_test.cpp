#include "platform/settings.h"
#include "platform/memory/memory_platform.h"

#include <gtest/gtest.h>

namespace qvx {
namespace {

struct SettingsTest : ::testing::Test, TMemoryPlatform {
    TSettingsStore Store{Platform};

    TMemoryRegistry::Value Stored(const std::string& path, const std::string& name) {
        TMemoryRegistry::Value v;
        Registry.GetValue(path, name, v);
        return v;
    }
};

// --- registry -------------------------------------------------------------

TEST_F(SettingsTest, ReadStrOnFreshKeyCreatesSubkeyAndEmptyValue) {
    EXPECT_EQ(Store.RegReadStr("Hide", "05", ""), "");
    ASSERT_TRUE(Registry.KeyExists("SOFTWARE\\Morveklink\\Hide"));
    TMemoryRegistry::Value v = Stored("SOFTWARE\\Morveklink\\Hide", "05");
    EXPECT_EQ(v.Type, RegValueType::String);
    EXPECT_EQ(v.Text, "");
    // Nothing lands in the settings key itself.
    EXPECT_TRUE(Registry.ValueNamesOf(SettingsKey).empty());
}

TEST_F(SettingsTest, DefaultIsWrittenOnlyWhenTheValueIsMissing) {
    EXPECT_EQ(Store.RegReadStr("", "Port", "COM1"), "COM1");
    EXPECT_EQ(Stored(SettingsKey, "Port").Text, "COM1");
    // A stored value wins over a different default and is not rewritten.
    EXPECT_EQ(Store.RegReadStr("", "Port", "COM9"), "COM1");
    EXPECT_EQ(Stored(SettingsKey, "Port").Text, "COM1");

    Registry.SetDword(SettingsKey, "SortCol", 2);
    EXPECT_EQ(Store.RegReadInt("SortCol", 0), 2);
    EXPECT_EQ(Stored(SettingsKey, "SortCol").Number, 2u);
    EXPECT_EQ(Store.RegReadInt("WinTop", -40), -40);
    TMemoryRegistry::Value top = Stored(SettingsKey, "WinTop");
    EXPECT_EQ(top.Type, RegValueType::Dword);
    EXPECT_EQ(top.Number, 0xFFFFFFD8u);
    EXPECT_EQ(Store.RegReadInt("WinTop", 7), -40);
}

TEST_F(SettingsTest, LeadingBackslashNamesTheSameKey) {
    TSettingsStore rooted(Platform, "\\SOFTWARE\\PassThruSupport.04.04");
    ASSERT_TRUE(rooted.RegWriteStr("Morveklink - Quorvelix", "ConfigApplication", "C:\\a.exe"));
    EXPECT_EQ(Store.ReadStrAt("SOFTWARE\\PassThruSupport.04.04\\Morveklink - Quorvelix",
                              "ConfigApplication", "x"),
              "C:\\a.exe");
    EXPECT_EQ(Registry.SubkeyNamesOf("SOFTWARE").size(), 1u);
}

TEST_F(SettingsTest, WriteStrWithEmptyNameSetsTheDefaultValue) {
    ASSERT_TRUE(Store.WriteStrAt("SOFTWARE\\Classes\\.rfw", "", "Quorvelix_Firmware"));
    EXPECT_EQ(Stored("SOFTWARE\\Classes\\.rfw", "").Text, "Quorvelix_Firmware");
    ASSERT_TRUE(Store.WriteStrAt("\\SOFTWARE\\Classes\\.rfw", "", "Other"));
    EXPECT_EQ(Registry.ValueNamesOf("SOFTWARE\\Classes\\.rfw").size(), 1u);
}

TEST_F(SettingsTest, ValueExistsSeesAnyTypeAndWritesNoValue) {
    EXPECT_FALSE(Store.RegValueExists("WinTop"));
    EXPECT_TRUE(Registry.ValueNamesOf(SettingsKey).empty());
    Registry.SetDword(SettingsKey, "WinTop", 5);
    Registry.SetString(SettingsKey, "WinLeft", "5");
    EXPECT_TRUE(Store.RegValueExists("WinTop"));
    EXPECT_TRUE(Store.RegValueExists("winleft"));
}

TEST_F(SettingsTest, WrongTypeReadsAsDefaultAndKeepsTheStoredValue) {
    Registry.SetString(SettingsKey, "SortCol", "2");
    Registry.SetDword(SettingsKey, "Port", 3);
    Registry.SetOther(SettingsKey, "Mode", std::string("\x01\x00\x02", 3));
    Registry.SetString(SettingsKey, "Device", "Mine");

    EXPECT_EQ(Store.RegReadInt("SortCol", 0), 0);
    EXPECT_EQ(Store.RegReadStr("", "Port", "COM1"), "COM1");
    EXPECT_EQ(Store.RegReadStr("", "Mode", "01"), "01");

    TMemoryRegistry::Value sortCol = Stored(SettingsKey, "SortCol");
    EXPECT_EQ(sortCol.Type, RegValueType::String);
    EXPECT_EQ(sortCol.Text, "2");
    TMemoryRegistry::Value port = Stored(SettingsKey, "Port");
    EXPECT_EQ(port.Type, RegValueType::Dword);
    EXPECT_EQ(port.Number, 3u);
    EXPECT_EQ(Stored(SettingsKey, "Mode").Text, std::string("\x01\x00\x02", 3));
    EXPECT_EQ(Stored(SettingsKey, "Device").Text, "Mine");
    EXPECT_EQ(Registry.ValueNamesOf(SettingsKey).size(), 4u);

    // A caller's write replaces the wrongly typed value.
    ASSERT_TRUE(Store.RegWriteInt("SortCol", 1));
    EXPECT_EQ(Store.RegReadInt("SortCol", 0), 1);
}

TEST_F(SettingsTest, DeniedKeyReadsDefaultsAndWritesFail) {
    Registry.SetString(SettingsKey, "Device", "Mine");
    Registry.DenyKey(SettingsKey);
    EXPECT_EQ(Store.RegReadStr("", "Device", "x"), "x");
    EXPECT_EQ(Store.RegReadStr("Hide", "05", ""), "");
    EXPECT_EQ(Store.RegReadInt("SortCol", 3), 3);
    EXPECT_FALSE(Store.RegValueExists("Device"));
    EXPECT_FALSE(Store.RegWriteStr("", "Device", "y"));
    EXPECT_FALSE(Store.RegWriteInt("SortCol", 1));

    Registry.DenyKey(SettingsKey, false);
    EXPECT_EQ(Registry.ValueNamesOf(SettingsKey), std::vector<std::string>{"Device"});
    EXPECT_EQ(Stored(SettingsKey, "Device").Text, "Mine");
    EXPECT_FALSE(Registry.KeyExists("SOFTWARE\\Morveklink\\Hide"));
}

TEST_F(SettingsTest, ReadOnlyKeyStillReadsStoredValues) {
    Registry.SetDword(SettingsKey, "SortCol", 2);
    Registry.MakeReadOnly(SettingsKey);
    EXPECT_EQ(Store.RegReadInt("SortCol", 0), 2);
    EXPECT_EQ(Store.RegReadInt("SortDir", 1), 1);
    EXPECT_EQ(Store.RegReadStr("Run", "01", "none"), "none");
    EXPECT_FALSE(Store.RegWriteInt("SortCol", 0));
    EXPECT_FALSE(Store.RegWriteStr("", "Port", "COM2"));

    EXPECT_EQ(Registry.ValueNamesOf(SettingsKey), std::vector<std::string>{"SortCol"});
    EXPECT_EQ(Stored(SettingsKey, "SortCol").Number, 2u);
    EXPECT_FALSE(Registry.KeyExists("SOFTWARE\\Morveklink\\Run"));
}

TEST_F(SettingsTest, EveryOperationOpensTheKeyAfresh) {
    int before = Registry.OpenCount();
    Store.RegWriteInt("SortCol", 1);
    Registry.SetDword(SettingsKey, "SortCol", 2); // changed behind the store's back
    EXPECT_EQ(Store.RegReadInt("SortCol", 0), 2);
    EXPECT_EQ(Store.ReadIntAt("SOFTWARE\\Other", "SortCol", 9), 9);
    EXPECT_EQ(Registry.OpenCount() - before, 3);
}

// --- version resource -----------------------------------------------------

TEST_F(SettingsTest, VersionStringsComeFromTheLoadedBlock) {
    EXPECT_EQ(Store.GetVersionString("ProductName"), ""); // nothing loaded yet
    ASSERT_TRUE(Store.LoadVersionData());
    EXPECT_EQ(Store.GetVersionString("ProductName"), "Quorvelix");
    EXPECT_EQ(Store.GetVersionString("FileVersion"), "2.3.1.8");
    EXPECT_EQ(Store.GetVersionString("NoSuchKey"), "");
    Store.ReleaseVersionData();
    EXPECT_FALSE(Version.IsLoaded());
    EXPECT_EQ(Store.GetVersionString("ProductName"), "");
}

TEST_F(SettingsTest, NoVersionResourceGivesEmptyStrings) {
    TStaticVersion none;
    TPlatform bare{Registry, Libraries, UserIo, Files, none, Timers};
    TSettingsStore store(bare);
    EXPECT_FALSE(store.LoadVersionData());
    EXPECT_EQ(store.GetVersionString("ProductName"), "");
    EXPECT_EQ(store.GetVersionString(""), "");
    store.ReleaseVersionData();
}

// --- files ----------------------------------------------------------------

TEST_F(SettingsTest, LoadFileIsByteExact) {
    std::string content("\x00\xFF\r\n\x00\x7F\x80", 7);
    Files.Put("C:\\fw.rfw", content);
    Bytes data = "old";
    ASSERT_TRUE(Store.LoadFileToString("C:\\fw.rfw", data));
    EXPECT_EQ(data, content);

    Files.Put("C:\\empty", "");
    ASSERT_TRUE(Store.LoadFileToString("C:\\empty", data));
    EXPECT_EQ(data, "");
}

TEST_F(SettingsTest, LoadFileFailsOnMissingOrLockedFile) {
    Bytes data = "kept";
    EXPECT_FALSE(Store.LoadFileToString("C:\\missing", data));
    Files.Put("C:\\locked", "abc");
    Files.Lock("C:\\locked");
    EXPECT_FALSE(Store.LoadFileToString("C:\\locked", data));
    EXPECT_EQ(data, "kept");
}

TEST_F(SettingsTest, SaveReplacesAnExistingFile) {
    Files.Put("C:\\out.dll", "a much longer old content");
    std::string content("\x00\xFFMkdV", 6);
    ASSERT_TRUE(Store.SaveStringToFile("C:\\out.dll", content, content.size()));
    std::string got;
    ASSERT_TRUE(Files.Get("C:\\out.dll", got));
    EXPECT_EQ(got, content);
    // A length below the data's size writes only that prefix.
    ASSERT_TRUE(Store.SaveStringToFile("C:\\out.dll", content, 2));
    ASSERT_TRUE(Files.Get("C:\\out.dll", got));
    EXPECT_EQ(got, std::string("\x00\xFF", 2));
}

TEST_F(SettingsTest, SaveOverLockedFileFailsAndCreatesNothing) {
    Files.Put("C:\\out.dll", "in use");
    Files.Lock("C:\\out.dll");
    EXPECT_FALSE(Store.SaveStringToFile("C:\\out.dll", "new", 3));
    std::string got;
    ASSERT_TRUE(Files.Get("C:\\out.dll", got));
    EXPECT_EQ(got, "in use");
    EXPECT_EQ(Files.Paths().size(), 1u);
}

TEST_F(SettingsTest, SaveContinuesAfterShortWrites) {
    Files.SetWriteChunk(3);
    std::string content(1000, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7);
    ASSERT_TRUE(Store.SaveStringToFile("C:\\out.dll", content, content.size()));
    std::string got;
    ASSERT_TRUE(Files.Get("C:\\out.dll", got));
    EXPECT_EQ(got, content);
}

TEST_F(SettingsTest, FailedWriteDeletesThePartialFile) {
    Files.Put("C:\\out.dll", "old");
    Files.SetWriteChunk(4);
    Files.FailWritesAfter(10);
    EXPECT_FALSE(Store.SaveStringToFile("C:\\out.dll", std::string(64, 'x'), 64));
    EXPECT_FALSE(Files.FileExists("C:\\out.dll"));
    EXPECT_TRUE(Files.Paths().empty());
}

TEST_F(SettingsTest, SaveWithLengthBeyondDataTouchesNothing) {
    Files.Put("C:\\out.dll", "old");
    EXPECT_FALSE(Store.SaveStringToFile("C:\\out.dll", "abc", 4));
    std::string got;
    ASSERT_TRUE(Files.Get("C:\\out.dll", got));
    EXPECT_EQ(got, "old");
}

// --- dialogs and boxes ----------------------------------------------------

TEST_F(SettingsTest, OpenFileDialogOffersFilterAndReturnsTheChoice) {
    std::string fileName = "C:\\start.rfw";
    UserIo.QueueDialogAnswer("C:\\fw\\new.rfw");
    ASSERT_TRUE(Store.OpenFileDialog("Firmware files", "*.RFW", fileName));
    EXPECT_EQ(fileName, "C:\\fw\\new.rfw");
    ASSERT_EQ(UserIo.Dialogs().size(), 1u);
    TOpenFileRequest shown = UserIo.Dialogs()[0];
    EXPECT_EQ(shown.Title, "Open");
    EXPECT_EQ(shown.Filter, "Firmware files|*.rfw|All files|*.*");
    EXPECT_EQ(shown.FileName, "C:\\start.rfw");
    EXPECT_TRUE(shown.HideReadOnly);
    EXPECT_TRUE(shown.FileMustExist);
    EXPECT_TRUE(shown.EnableSizing);
}

TEST_F(SettingsTest, CancelledDialogLeavesTheFileName) {
    std::string fileName = "C:\\start.rfw";
    UserIo.QueueDialogCancel();
    EXPECT_FALSE(Store.OpenFileDialog("Firmware files", "*.rfw", fileName));
    EXPECT_EQ(fileName, "C:\\start.rfw");
}

TEST_F(SettingsTest, MessageBoxCaptionCarriesTheTitle) {
    Store.AppTitle = "Quorvelix Configurator Version 2.3.1.8";
    UserIo.QueueBoxAnswer(idbutton::No);
    EXPECT_EQ(Store.ShowMessageBox("Unlink...", "Unlink?", mb::YesNoCancel | mb::IconQuestion),
              idbutton::No);
    EXPECT_EQ(Store.ShowMessageBox("Error...", "Failed", mb::IconStop), idbutton::Ok);
    ASSERT_EQ(UserIo.Boxes().size(), 2u);
    TScriptedUserIo::Box error = UserIo.Boxes()[1];
    EXPECT_EQ(error.Caption, "Quorvelix Configurator Version 2.3.1.8 - Error...");
    EXPECT_EQ(error.Text, "Failed");
    EXPECT_EQ(error.Flags, 16u);
    EXPECT_EQ(error.Owner, TBoxOwner::MainWindow);
    EXPECT_EQ(UserIo.Boxes()[0].Flags, 35u);
}

TEST_F(SettingsTest, TitleIsConfiguratorUntilStartUpSetsIt) {
    TSettingsStore fresh(Platform);
    EXPECT_EQ(fresh.AppTitle, "Configurator");
    EXPECT_EQ(fresh.AppProductName, "");
    EXPECT_EQ(fresh.VersionBlockPath, "StringFileInfo\\040904E4\\");
    fresh.ShowMessageBox("Error...", "x", mb::IconStop);
    EXPECT_EQ(UserIo.Boxes().back().Caption, "Configurator - Error...");
}

} // namespace
} // namespace qvx
