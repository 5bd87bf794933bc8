// Files, libraries, the version resource and the whole platform bundle over
// the real system. Files live in a folder of their own below the temporary
// folder, removed again after each test.
#include "platform/callconv.h"
#include "platform/win32/win_platform.h"

#include "tests/win32/test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

using namespace qvx;
using qvx::testing_support::Lower;

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Writes everything, continuing after partial writes.
bool WriteAll(IFile& file, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        int64_t moved = file.Write(data.data() + done, data.size() - done);
        if (moved <= 0)
            return false;
        done += static_cast<size_t>(moved);
    }
    return true;
}

std::string ReadAll(IFile& file) {
    std::string data;
    char chunk[97]; // odd size: several reads, the last one short
    for (;;) {
        int64_t moved = file.Read(chunk, sizeof(chunk));
        if (moved <= 0)
            return data;
        data.append(chunk, static_cast<size_t>(moved));
    }
}

class WinFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        Folder = qvx::testing_support::MakeTempFolder("qvx_files");
        ASSERT_FALSE(Folder.empty());
    }
    void TearDown() override {
        for (const char* name : {"data.bin", "locked.bin"})
            DeleteFileA(Path(name).c_str());
        EXPECT_TRUE(RemoveDirectoryA(Folder.c_str()));
    }
    std::string Path(const std::string& name) const { return Folder + "\\" + name; }

    TWinFiles Files;
    std::string Folder;
};

TEST_F(WinFilesTest, EveryByteValueRoundTrips) {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes.push_back(static_cast<char>(i));
    {
        auto out = Files.Create(Path("data.bin"));
        ASSERT_NE(out, nullptr);
        ASSERT_TRUE(WriteAll(*out, bytes));
        EXPECT_EQ(out->Size(), 256);
    }
    auto in = Files.OpenRead(Path("data.bin"));
    ASSERT_NE(in, nullptr);
    // Taking the size leaves the read position at the start.
    EXPECT_EQ(in->Size(), 256);
    EXPECT_EQ(ReadAll(*in), bytes);
    EXPECT_EQ(in->Size(), 256);
    char more = 0;
    EXPECT_EQ(in->Read(&more, 1), 0); // at the end
}

TEST_F(WinFilesTest, CreateTruncatesAndReadersShare) {
    {
        auto out = Files.Create(Path("data.bin"));
        ASSERT_NE(out, nullptr);
        ASSERT_TRUE(WriteAll(*out, std::string(1000, 'x')));
        // Nobody reads a file while it is being written.
        EXPECT_EQ(Files.OpenRead(Path("data.bin")), nullptr);
    }
    {
        auto out = Files.Create(Path("data.bin"));
        ASSERT_NE(out, nullptr);
        ASSERT_TRUE(WriteAll(*out, "abc"));
    }
    auto first = Files.OpenRead(Path("data.bin"));
    auto second = Files.OpenRead(Path("data.bin"));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->Size(), 3);
    EXPECT_EQ(ReadAll(*second), "abc");
    // A read-only handle writes nothing.
    EXPECT_EQ(first->Write("z", 1), -1);
}

TEST_F(WinFilesTest, ExistsAndRemove) {
    EXPECT_FALSE(Files.FileExists(Path("data.bin")));
    EXPECT_EQ(Files.OpenRead(Path("data.bin")), nullptr);
    EXPECT_FALSE(Files.RemoveFile(Path("data.bin")));
    ASSERT_NE(Files.Create(Path("data.bin")), nullptr);
    EXPECT_TRUE(Files.FileExists(Path("data.bin")));
    EXPECT_TRUE(Files.RemoveFile(Path("data.bin")));
    EXPECT_FALSE(Files.FileExists(Path("data.bin")));
    // A folder is not a file.
    EXPECT_FALSE(Files.FileExists(Folder));
    EXPECT_EQ(Files.Create(Folder), nullptr);
}

TEST_F(WinFilesTest, FileHeldExclusivelyCannotBeDeletedOrReplaced) {
    const std::string path = Path("locked.bin");
    HANDLE other = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(Files.RemoveFile(path));
    EXPECT_TRUE(Files.FileExists(path));
    EXPECT_EQ(Files.Create(path), nullptr);
    EXPECT_EQ(Files.OpenRead(path), nullptr);
    CloseHandle(other);
    EXPECT_TRUE(Files.RemoveFile(path));
}

TEST_F(WinFilesTest, CurrentDirectoryFollowsSetCurrentDir) {
    const std::string start = Files.GetCurrentDir();
    ASSERT_FALSE(start.empty());
    ASSERT_TRUE(Files.SetCurrentDir(Folder));
    EXPECT_EQ(Lower(Files.GetCurrentDir()), Lower(Folder));
    // Relative names now resolve there.
    ASSERT_NE(Files.Create("data.bin"), nullptr);
    EXPECT_TRUE(Files.FileExists(Path("data.bin")));
    EXPECT_FALSE(Files.SetCurrentDir(Folder + "\\absent"));
    EXPECT_EQ(Lower(Files.GetCurrentDir()), Lower(Folder));
    ASSERT_TRUE(Files.SetCurrentDir(start));
    EXPECT_EQ(Files.GetCurrentDir(), start);
}

TEST(WinFilesPaths, SystemFolderAndProgramPath) {
    TWinFiles files;
    const std::string system = files.SystemFolder();
    char expected[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryA(expected, MAX_PATH), 0u);
    EXPECT_EQ(Lower(system), Lower(expected));
    EXPECT_FALSE(EndsWith(system, "\\"));
    EXPECT_TRUE(files.FileExists(system + "\\kernel32.dll"));

    const std::string program = files.ProgramPath();
    EXPECT_TRUE(EndsWith(Lower(program), "\\win32_tests.exe")) << program;
    EXPECT_TRUE(files.FileExists(program));
}

// The test program carries the program's own version resource.
TEST(WinVersion, ReadsTheProgramsOwnStrings) {
    TWinVersion version;
    const std::string block = "StringFileInfo\\040904E4\\";
    std::string text;
    EXPECT_FALSE(version.Query(block + "ProductName", text)); // nothing loaded yet
    EXPECT_GT(version.Size(), 0u);
    ASSERT_TRUE(version.Load());

    EXPECT_TRUE(version.Query(block + "ProductName", text));
    EXPECT_EQ(text, "Quorvelix");
    EXPECT_TRUE(version.Query(block + "FileVersion", text));
    EXPECT_EQ(text, "2.3.1.8");
    EXPECT_TRUE(version.Query("\\" + block + "InternalName", text));
    EXPECT_EQ(text, "Configurator");
    EXPECT_FALSE(version.Query(block + "NoSuchString", text));
    EXPECT_FALSE(version.Query("StringFileInfo\\04070407\\ProductName", text));

    // A binary block: language 0x0409, code page 1252.
    EXPECT_TRUE(version.Query("\\VarFileInfo\\Translation", text));
    EXPECT_EQ(text, std::string("\x09\x04\xE4\x04", 4));

    version.Release();
    EXPECT_FALSE(version.Query(block + "ProductName", text));
}

TEST(WinLibraries, LoadResolveAndFree) {
    TWinLibraries libraries;
    LibraryHandle kernel = libraries.Load("kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    using TickFn = DWORD(QVX_STDCALL*)();
    auto tick = ResolveAs<TickFn>(libraries, kernel, "GetTickCount");
    ASSERT_NE(tick, nullptr);
    EXPECT_EQ(
        reinterpret_cast<void*>(tick),
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount")));
    EXPECT_EQ(libraries.Resolve(kernel, "NoSuchEntryPoint"), nullptr);
    EXPECT_EQ(libraries.Resolve(nullptr, "GetTickCount"), nullptr);
    libraries.Free(kernel);
    libraries.Free(nullptr);

    EXPECT_EQ(libraries.Load("qvx_absent_library.dll"), nullptr);

    // A library nothing else holds goes away when freed.
    ASSERT_EQ(GetModuleHandleA("msacm32.dll"), nullptr);
    LibraryHandle acm = libraries.Load("msacm32.dll");
    ASSERT_NE(acm, nullptr);
    EXPECT_NE(libraries.Resolve(acm, "acmGetVersion"), nullptr);
    libraries.Free(acm);
    EXPECT_EQ(GetModuleHandleA("msacm32.dll"), nullptr);
}

} // namespace
