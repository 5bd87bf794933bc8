// The elevated program never runs a library that lies only in its current
// folder; libraries beside the program still load.
#include "platform/memory/scripted_userio.h"
#include "platform/win32/win_libraries.h"
#include "serdev/win32/Serdev.h"
#include "tests/win32/link_test_support.h"
#include "tests/win32/test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace qvx {
namespace {

// The D2XX library asked for under a name that only the current folder holds.
class TCurrentFolderLoader : public TWinLibraries {
public:
    LibraryHandle Load(const std::string& fileName) override {
        return TWinLibraries::Load(fileName == "mvd2xx.dll" ? "qvx_cwd_only.dll"
                                                            : "qvx_nowhere.dll");
    }
};

std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    std::string own(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    return own.substr(0, own.find_last_of("\\/") + 1);
}

TEST(LibrarySearch, ALibraryOnlyInTheCurrentFolderIsNotLoadedOneBesideTheProgramIs) {
    const std::string folder = testing_support::MakeTempFolder("qvx_cwd");
    ASSERT_FALSE(folder.empty());
    const std::string planted = folder + "\\qvx_cwd_only.dll";
    ASSERT_TRUE(CopyFileA((ProgramFolder() + "mvd2xx.dll").c_str(), planted.c_str(), FALSE));
    char previous[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));

    ASSERT_TRUE(KeepCurrentFolderOutOfLibrarySearch());
    TScriptedUserIo userIo;
    TCurrentFolderLoader planter;
    TSerDev link(userIo, planter, std::make_unique<TCountingLists>());
    link.SetPortName("USB:A1B2C3D4");
    EXPECT_FALSE(link.Open());
    ASSERT_EQ(userIo.Boxes().size(), 1u);
    EXPECT_EQ(userIo.Boxes()[0].Text, "Reinstall drivers, please.");

    TWinLibraries libraries;
    LibraryHandle beside = libraries.Load("mvd2xx.dll");
    EXPECT_NE(beside, nullptr);
    libraries.Free(beside);

    SetCurrentDirectoryA(previous);
    DeleteFileA(planted.c_str());
    RemoveDirectoryA(folder.c_str());
}

} // namespace
} // namespace qvx
