// The whole program as its users meet it: the real Configurator.exe in a
// folder of its own with the stand-in D2XX library serving a simulated
// adapter, worked from this separate process through Win32 messages.
#include "tests/e2e/remote_app.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

namespace qvx::e2e {
namespace {

constexpr const char* Serial = "QV2A0017";
constexpr int UpdateTab = 1;

std::string TestName() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

// A firmware file: the 80-byte header and `pages` pages of 128 bytes, plus a
// trailing partial page that is never sent. The bytes never repeat a slice,
// so each page can be told apart on the wire.
std::string FirmwareImage(int pages) {
    std::string image(80 + 128 * static_cast<size_t>(pages) + 50, '\0');
    uint32_t x = 12345;
    for (char& c : image) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return image;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override { DeleteSettings(); }

    // Starts the program for this test with the adapter's configuration.
    void Launch(const std::string& simConfig, const std::string& argument = "") {
        App = std::make_unique<TRemoteApp>(TestName(), simConfig);
        ASSERT_TRUE(App->Start(argument)) << "the main window did not appear";
    }
    std::string Put(const std::string& name, const std::string& bytes) {
        const std::string path = App->Folder() + name;
        EXPECT_TRUE(WriteFileBytes(path, bytes));
        return path;
    }

    std::unique_ptr<TRemoteApp> App;
};

TEST_F(EndToEnd, FirmwareFileArgumentOpensTheUpdatePageAndClosingSavesTheWindow) {
    App = std::make_unique<TRemoteApp>(TestName(), "identity.serial=QV2A0017\n");
    const std::string file = App->Folder() + "new.rfw";
    ASSERT_TRUE(WriteFileBytes(file, FirmwareImage(2)));
    ASSERT_TRUE(App->Start(file));

    EXPECT_EQ(App->ActiveTab(), UpdateTab);
    EXPECT_TRUE(IsWindowVisible(App->UpdatePage()));
    EXPECT_FALSE(IsWindowVisible(App->SettingsPage()));
    EXPECT_EQ(TRemoteApp::Text(App->EditBeside("File:", App->UpdatePage())), file);

    RECT at;
    GetWindowRect(App->Main(), &at);
    ASSERT_TRUE(App->Close());
    DWORD top = 0, left = 0, sortCol = 99, sortDir = 99;
    EXPECT_TRUE(RegistryDword(SettingsKey, "WinTop", top));
    EXPECT_TRUE(RegistryDword(SettingsKey, "WinLeft", left));
    EXPECT_EQ(static_cast<LONG>(top), at.top);
    EXPECT_EQ(static_cast<LONG>(left), at.left);
    EXPECT_TRUE(RegistryDword(SettingsKey, "SortCol", sortCol));
    EXPECT_TRUE(RegistryDword(SettingsKey, "SortDir", sortDir));
    EXPECT_EQ(sortCol, 0u);
}

TEST_F(EndToEnd, FirstStartOnAnEmptyRegistryThenSearchFillsTheIdentity) {
    Launch("identity.serial=QV2A0017\nidentity.signature=5A3C91E0\nidentity.firmware=2.31\n"
           "identity.boot=1.07\nidentity.hardware=3.0\n");
    // Start-up already wrote the program's path and the checked sort column.
    std::string path;
    EXPECT_TRUE(RegistryString(SettingsKey, "Path", path));
    EXPECT_EQ(path, App->Folder() + "Configurator.exe");
    DWORD sortCol = 99;
    EXPECT_TRUE(RegistryDword(SettingsKey, "SortCol", sortCol));
    EXPECT_EQ(sortCol, 0u);
    EXPECT_EQ(App->ActiveTab(), 0);

    ASSERT_TRUE(App->SearchFor(Serial));
    EXPECT_EQ(TRemoteApp::Text(App->EditBeside("Signature:")), "5A3C91E0");
    EXPECT_EQ(TRemoteApp::Text(App->EditBeside("Firmware:")), "2.31");
    EXPECT_EQ(TRemoteApp::Text(App->EditBeside("Bootware:")), "1.07");
    EXPECT_EQ(TRemoteApp::Text(App->EditBeside("Hardware:")), "3.0");

    // The adapter's modes are listed, the running one among them.
    HWND modes = App->Largest("SysListView32", App->SettingsPage());
    ASSERT_GT(App->ListCount(modes), 0);
    bool found = false;
    std::string rows;
    for (int row = 0; row < App->ListCount(modes); ++row) {
        found |= App->ListText(modes, row, 1) == "001" &&
                 App->ListText(modes, row, 2) == "SAE J2534 Pass-Thru";
        rows += " [" + App->ListText(modes, row, 0) + "|" + App->ListText(modes, row, 1) + "|" +
                App->ListText(modes, row, 2) + "]";
    }
    EXPECT_TRUE(found) << rows;
    // The identify request went out on the wire.
    EXPECT_FALSE(App->Wire().empty());
    EXPECT_EQ(App->MessageBoxWindow(), nullptr);

    ASSERT_TRUE(App->Close());
    std::string port;
    EXPECT_TRUE(RegistryString(SettingsKey, "Port", port));
    EXPECT_EQ(port, std::string("USB:") + Serial);
}

TEST_F(EndToEnd, FirmwareUploadThroughTheWindowEndsOkWithAFullProgressBar) {
    App = std::make_unique<TRemoteApp>(
        TestName(), "identity.serial=QV2A0017\nboot.pagesize=128\nline.rate=11520\n"
                    "line.chunk=64\n");
    const std::string image = FirmwareImage(6);
    const std::string file = App->Folder() + "new.rfw";
    ASSERT_TRUE(WriteFileBytes(file, image));
    ASSERT_TRUE(App->Start(file));

    App->SelectTab(0);
    ASSERT_TRUE(IsWindowVisible(App->SettingsPage()));
    ASSERT_TRUE(App->SearchFor(Serial));
    App->SelectTab(UpdateTab);
    ASSERT_EQ(App->ActiveTab(), UpdateTab);
    ASSERT_TRUE(IsWindowVisible(App->UpdatePage()));

    HWND page = App->UpdatePage();
    HWND run = App->Button("Run", page);
    ASSERT_NE(run, nullptr);
    ASSERT_TRUE(IsWindowEnabled(run));
    HWND fileEdit = App->EditBeside("File:", page);
    HWND status = App->Below(fileEdit, "Edit");
    HWND progress = App->OfClass("msctls_progress32", page);
    ASSERT_NE(status, nullptr);
    ASSERT_NE(progress, nullptr);
    const size_t before = App->Wire().size();

    TRemoteApp::Click(run);
    EXPECT_TRUE(WaitFor([&] {
        return TRemoteApp::Text(status) == "Updating firmware : Ok" || App->MessageBoxWindow();
    })) << "status: "
        << TRemoteApp::Text(status);
    EXPECT_EQ(TRemoteApp::Text(status), "Updating firmware : Ok");
    EXPECT_EQ(TRemoteApp::ProgressPos(progress), TRemoteApp::ProgressMax(progress));
    EXPECT_GT(TRemoteApp::ProgressMax(progress), 0);
    EXPECT_EQ(TRemoteApp::Text(run), "Run");
    EXPECT_EQ(App->MessageBoxWindow(), nullptr);

    // The header and every whole page crossed the wire, the partial page not.
    const std::string wire = App->Wire().substr(before);
    EXPECT_NE(wire.find(image.substr(0, 80)), std::string::npos);
    for (int p = 0; p < 6; ++p)
        EXPECT_NE(wire.find(image.substr(80 + 128 * static_cast<size_t>(p), 128)),
                  std::string::npos)
            << "page " << p;
    EXPECT_EQ(wire.find(image.substr(80 + 128 * 6, 50)), std::string::npos);
    HWND log = App->Below(progress, "Edit");
    EXPECT_NE(TRemoteApp::Text(log).find("Updating firmware : Ok"), std::string::npos);
}

TEST_F(EndToEnd, AdapterNotFoundShowsTheBoxAndTheWindowIsUsableAgain) {
    Launch("identity.serial=QV2A0017\nfault.silent=1\n");
    ASSERT_TRUE(App->PickPort(Serial));
    HWND search = App->Button("Search", App->SettingsPage());
    TRemoteApp::Click(search);

    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = App->MessageBoxWindow()) != nullptr; }));
    const std::string text = TRemoteApp::BoxText(box);
    EXPECT_NE(text.find("Adapter is not found on Communication Port USB:QV2A0017"),
              std::string::npos)
        << text;
    ASSERT_TRUE(TRemoteApp::AnswerBox(box, "OK"));
    EXPECT_TRUE(WaitFor([&] { return App->MessageBoxWindow() == nullptr; }));
    EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(search) && IsWindowEnabled(App->Main()); }));
    EXPECT_EQ(TRemoteApp::Text(App->EditBeside("Serial Number:")), "");

    // Usable again: another search runs and ends with the same box.
    TRemoteApp::Click(search);
    ASSERT_TRUE(WaitFor([&] { return (box = App->MessageBoxWindow()) != nullptr; }));
    EXPECT_TRUE(TRemoteApp::AnswerBox(box, "OK"));
    EXPECT_TRUE(WaitFor([&] { return App->MessageBoxWindow() == nullptr; }));
    EXPECT_TRUE(App->Close());
}

TEST_F(EndToEnd, SecondStartRestoresTheWindowPosition) {
    Launch("identity.serial=QV2A0017\n");
    // The person moves the window somewhere else, then closes the program.
    RECT first;
    GetWindowRect(App->Main(), &first);
    const LONG left = first.left + 37, top = first.top + 23;
    SetWindowPos(App->Main(), nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ASSERT_TRUE(WaitFor([&] {
        RECT r;
        GetWindowRect(App->Main(), &r);
        return r.left == left && r.top == top;
    }));
    ASSERT_TRUE(App->Close());
    DWORD savedTop = 0, savedLeft = 0;
    ASSERT_TRUE(RegistryDword(SettingsKey, "WinTop", savedTop));
    ASSERT_TRUE(RegistryDword(SettingsKey, "WinLeft", savedLeft));
    EXPECT_EQ(static_cast<LONG>(savedTop), top);
    EXPECT_EQ(static_cast<LONG>(savedLeft), left);

    ASSERT_TRUE(App->Start());
    RECT second;
    GetWindowRect(App->Main(), &second);
    EXPECT_EQ(second.left, left);
    EXPECT_EQ(second.top, top);
}

TEST_F(EndToEnd, SelectingAModeSwitchesTheAdapterAndMarksTheRow) {
    Launch("identity.serial=QV2A0017\nmode.running=001\n");
    ASSERT_TRUE(App->SearchFor(Serial));
    HWND modes = App->Largest("SysListView32", App->SettingsPage());
    const int running = App->FindRow(modes, 1, "001");
    const int wanted = App->FindRow(modes, 1, "002");
    ASSERT_GE(running, 0);
    ASSERT_GE(wanted, 0);
    EXPECT_EQ(TRemoteApp::ListStateIndex(modes, running), 0); // running
    EXPECT_NE(TRemoteApp::ListStateIndex(modes, wanted), 0);

    App->SelectRow(modes, wanted);
    HWND select = App->Button("Select", App->SettingsPage());
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(select); }));
    TRemoteApp::Click(select);
    // The program asks for the mode, then lists the modes again: 002 runs.
    ASSERT_TRUE(WaitFor([&] {
        const int row = App->FindRow(modes, 1, "002");
        return (row >= 0 && TRemoteApp::ListStateIndex(modes, row) == 0) || App->MessageBoxWindow();
    }));
    EXPECT_EQ(App->MessageBoxWindow(), nullptr);
    EXPECT_NE(TRemoteApp::ListStateIndex(modes, App->FindRow(modes, 1, "001")), 0);
    EXPECT_TRUE(App->Close());
    std::string mode;
    EXPECT_TRUE(RegistryString(SettingsKey, "Mode", mode));
    EXPECT_NE(mode.find("002"), std::string::npos) << mode;
}

TEST_F(EndToEnd, StopEndsARunningUploadAndNothingMoreIsSent) {
    // Enough slow pages that the upload is still running when Stop is pressed.
    App = std::make_unique<TRemoteApp>(
        TestName(), "identity.serial=QV2A0017\nboot.pagesize=128\nline.rate=2000\n");
    const std::string image = FirmwareImage(400);
    const std::string file = App->Folder() + "big.rfw";
    ASSERT_TRUE(WriteFileBytes(file, image));
    ASSERT_TRUE(App->Start(file));
    App->SelectTab(0);
    ASSERT_TRUE(App->SearchFor(Serial));
    App->SelectTab(UpdateTab);
    HWND page = App->UpdatePage();
    HWND run = App->Button("Run", page);
    HWND status = App->Below(App->EditBeside("File:", page), "Edit");
    HWND progress = App->OfClass("msctls_progress32", page);
    ASSERT_NE(run, nullptr);

    TRemoteApp::Click(run);
    ASSERT_TRUE(WaitFor([&] { return TRemoteApp::ProgressPos(progress) > 0; }));
    EXPECT_EQ(TRemoteApp::Text(run), "Stop");
    TRemoteApp::Click(run);
    EXPECT_TRUE(WaitFor([&] { return TRemoteApp::Text(run) == "Run"; }));
    EXPECT_EQ(TRemoteApp::Text(status), "Firmware Update canceled...");
    EXPECT_LT(TRemoteApp::ProgressPos(progress), TRemoteApp::ProgressMax(progress));
    // The link is closed: the last page never went out.
    const std::string wire = App->Wire();
    EXPECT_EQ(wire.find(image.substr(80 + 128 * 399, 128)), std::string::npos);
    // Nothing more goes out once the upload has stopped, and the window is
    // usable again.
    HWND search = App->Button("Search", App->SettingsPage());
    EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(search) && IsWindowEnabled(run); }));
    EXPECT_EQ(App->Wire().size(), wire.size());
    EXPECT_EQ(App->MessageBoxWindow(), nullptr);
}

// Closing the window mid-upload asks first: No keeps the window and the
// upload, Yes stops the upload and closes.
TEST_F(EndToEnd, ClosingDuringAnUploadAsksFirst) {
    App = std::make_unique<TRemoteApp>(
        TestName(), "identity.serial=QV2A0017\nboot.pagesize=128\nline.rate=2000\n");
    const std::string file = App->Folder() + "big.rfw";
    ASSERT_TRUE(WriteFileBytes(file, FirmwareImage(400)));
    ASSERT_TRUE(App->Start(file));
    App->SelectTab(0);
    ASSERT_TRUE(App->SearchFor(Serial));
    App->SelectTab(UpdateTab);
    HWND page = App->UpdatePage();
    HWND run = App->Button("Run", page);
    HWND progress = App->OfClass("msctls_progress32", page);
    ASSERT_NE(run, nullptr);
    TRemoteApp::Click(run);
    ASSERT_TRUE(WaitFor([&] { return TRemoteApp::ProgressPos(progress) > 0; }));

    HWND box = nullptr;
    PostMessageA(App->Main(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return (box = App->MessageBoxWindow()) != nullptr; }));
    EXPECT_NE(TRemoteApp::BoxText(box).find("A firmware update is running. Stop it and close?"),
              std::string::npos)
        << TRemoteApp::BoxText(box);
    ASSERT_TRUE(TRemoteApp::AnswerBox(box, "No"));
    ASSERT_TRUE(WaitFor([&] { return App->MessageBoxWindow() == nullptr; }));
    const int position = TRemoteApp::ProgressPos(progress);
    EXPECT_TRUE(WaitFor([&] { return TRemoteApp::ProgressPos(progress) > position; }));
    EXPECT_TRUE(App->Running());
    EXPECT_EQ(TRemoteApp::Text(run), "Stop");

    PostMessageA(App->Main(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return (box = App->MessageBoxWindow()) != nullptr; }));
    ASSERT_TRUE(TRemoteApp::AnswerBox(box, "Yes"));
    EXPECT_TRUE(WaitFor([&] { return !App->Running(); }));
}

// Double-clicking a firmware file starts the elevated program in the file's
// folder. A D2XX library of the right name planted there must not run; the
// one beside the program does.
TEST_F(EndToEnd, ALibraryBesideTheFirmwareFileIsNeverLoaded) {
    App = std::make_unique<TRemoteApp>(TestName(), "identity.serial=QV2A0017\n");
    const std::string program = App->Folder();
    const std::string downloads = program + "downloads\\";
    CreateDirectoryA(downloads.c_str(), nullptr);
    ASSERT_TRUE(
        CopyFileA((program + "mvd2xx.dll").c_str(), (downloads + "mvd2xx.dll").c_str(), FALSE));
    ASSERT_TRUE(
        CopyFileA((program + "mvd2xx.cfg").c_str(), (downloads + "mvd2xx.cfg").c_str(), FALSE));
    ASSERT_TRUE(DeleteFileA((program + "mvd2xx.dll").c_str()));
    const std::string file = downloads + "new.rfw";
    ASSERT_TRUE(WriteFileBytes(file, FirmwareImage(2)));
    ASSERT_TRUE(App->Start(file, downloads));
    App->SelectTab(0);

    // The scan of the USB devices at start-up (the one that loads the
    // library) is long over by then.
    Sleep(4000);
    HWND combo = App->OfClass("ComboBox", App->SettingsPage());
    for (const std::string& item : App->ComboItems(combo))
        EXPECT_EQ(item.find(Serial), std::string::npos) << item;

    ASSERT_TRUE(
        CopyFileA((downloads + "mvd2xx.dll").c_str(), (program + "mvd2xx.dll").c_str(), FALSE));
    TRemoteApp::Click(App->Button("Refresh", App->SettingsPage()));
    EXPECT_TRUE(App->SearchFor(Serial));
}

} // namespace
} // namespace qvx::e2e
