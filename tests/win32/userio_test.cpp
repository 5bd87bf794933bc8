// The user I/O seam against the real window system. Boxes and dialogs are
// answered by a helper thread that finds them by their caption, so no call
// waits for a person.
#include "platform/win32/win_files.h"
#include "platform/win32/win_userio.h"

#include "tests/win32/test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

using namespace qvx;
using qvx::testing_support::Lower;

namespace {

std::string TextOf(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

// Waits for a visible dialog of this process with the given caption and acts
// on it once. It keeps looking until it is destroyed, which the test does
// only after the call that shows the dialog has returned: the call cannot
// return before the dialog has been answered, so nothing depends on timing.
class TDialogAnswerer {
public:
    TDialogAnswerer(std::string caption, std::function<void(HWND)> act)
        : Caption(std::move(caption)), Act(std::move(act)), Worker([this] { Run(); }) {}
    ~TDialogAnswerer() {
        Done = true;
        Worker.join();
    }
    bool Answered() const { return Acted; }

private:
    struct TSearch {
        const std::string* Caption;
        HWND Found;
    };
    static BOOL CALLBACK Match(HWND window, LPARAM param) {
        auto* search = reinterpret_cast<TSearch*>(param);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        char className[32] = {};
        GetClassNameA(window, className, sizeof(className));
        if (process == GetCurrentProcessId() && std::string(className) == "#32770" &&
            IsWindowVisible(window) && TextOf(window) == *search->Caption) {
            search->Found = window;
            return FALSE;
        }
        return TRUE;
    }
    void Run() {
        while (!Done && !Acted) {
            TSearch search{&Caption, nullptr};
            EnumWindows(Match, reinterpret_cast<LPARAM>(&search));
            if (search.Found) {
                Act(search.Found);
                Acted = true;
            } else {
                Sleep(10);
            }
        }
    }

    std::string Caption;
    std::function<void(HWND)> Act;
    std::atomic<bool> Done{false};
    std::atomic<bool> Acted{false};
    std::thread Worker;
};

void Press(HWND dialog, int button) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
}

class WinUserIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        Owner = CreateWindowExA(0, "STATIC", "Configurator", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(Owner, nullptr);
        UserIo.SetMainWindow(Owner);
    }
    void TearDown() override { DestroyWindow(Owner); }

    HWND Owner = nullptr;
    TWinUserIo UserIo;
};

TEST_F(WinUserIoTest, BoxHasTheMainWindowAsOwnerAndReturnsTheButton) {
    HWND owner = reinterpret_cast<HWND>(-1);
    std::string text;
    UINT style = 0;
    int result = 0;
    {
        TDialogAnswerer answerer("Unlink...", [&](HWND box) {
            owner = GetWindow(box, GW_OWNER);
            text = TextOf(GetDlgItem(box, 0xFFFF)); // the box's text control
            style = GetDlgItem(box, IDCANCEL) && GetDlgItem(box, IDYES) ? 1 : 0;
            Press(box, IDNO);
        });
        result = UserIo.ShowBox("Do you really want to unlink software?", "Unlink...",
                                mb::YesNoCancel | mb::IconQuestion, TBoxOwner::MainWindow);
        EXPECT_TRUE(answerer.Answered());
    }
    EXPECT_EQ(result, idbutton::No);
    EXPECT_EQ(owner, Owner);
    EXPECT_EQ(text, "Do you really want to unlink software?");
    EXPECT_EQ(style, 1u);
}

TEST_F(WinUserIoTest, BoxWithoutOwnerFromAnotherThread) {
    HWND owner = reinterpret_cast<HWND>(-1);
    int result = 0;
    {
        TDialogAnswerer answerer("Open Port(COM3) Error...", [&](HWND box) {
            owner = GetWindow(box, GW_OWNER);
            Press(box, IDOK);
        });
        std::thread background([&] {
            result = UserIo.ShowBox("Port is busy", "Open Port(COM3) Error...",
                                    mb::Ok | mb::IconInformation, TBoxOwner::None);
        });
        background.join();
    }
    EXPECT_EQ(result, idbutton::Ok);
    EXPECT_EQ(owner, nullptr);
}

TEST_F(WinUserIoTest, OpenDialogShowsTheRequestAndReturnsTheChoice) {
    const std::string start = TWinFiles().GetCurrentDir();
    const std::string program = TWinFiles().ProgramPath();
    TOpenFileRequest request;
    request.Title = "Open";
    request.Filter = "Firmware files|*.rfw|All files|*.*";
    request.FileName = program;

    std::vector<std::string> filters;
    HWND owner = nullptr;
    bool accepted = false;
    {
        TDialogAnswerer answerer("Open", [&](HWND dialog) {
            owner = GetWindow(dialog, GW_OWNER);
            HWND types = GetDlgItem(dialog, 0x470); // the file type combo
            const int count = static_cast<int>(SendMessageA(types, CB_GETCOUNT, 0, 0));
            for (int i = 0; i < count; ++i) {
                char item[256] = {};
                SendMessageA(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
                filters.push_back(item);
            }
            Press(dialog, IDOK);
        });
        accepted = UserIo.OpenFileDialog(request);
    }
    TWinFiles().SetCurrentDir(start); // the dialog moves it to the chosen folder
    EXPECT_TRUE(accepted);
    EXPECT_EQ(Lower(request.FileName), Lower(program));
    EXPECT_EQ(owner, Owner);
    EXPECT_EQ(filters, (std::vector<std::string>{"Firmware files", "All files"}));
}

TEST_F(WinUserIoTest, CancelledDialogLeavesTheFileName) {
    TOpenFileRequest request;
    request.Title = "Pick firmware";
    request.Filter = "Firmware files|*.rfw";
    request.FileName = "C:\\absent\\image.rfw";
    bool accepted = true;
    {
        TDialogAnswerer answerer("Pick firmware", [](HWND dialog) { Press(dialog, IDCANCEL); });
        accepted = UserIo.OpenFileDialog(request);
    }
    EXPECT_FALSE(accepted);
    EXPECT_EQ(request.FileName, "C:\\absent\\image.rfw");
}

TEST(WinUserIo, FilterBecomesNulSeparated) {
    const char expected[] = "Firmware files\0*.rfw\0All files\0*.*\0"; // and one more NUL
    EXPECT_EQ(DialogFilter("Firmware files|*.rfw|All files|*.*"),
              std::string(expected, sizeof(expected)));
    EXPECT_EQ(DialogFilter(""), std::string("\0\0", 2));
}

std::string ClipboardText() {
    std::string text;
    if (!OpenClipboard(nullptr))
        return "<clipboard busy>";
    if (HANDLE data = GetClipboardData(CF_TEXT)) {
        if (const char* chars = static_cast<const char*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

TEST_F(WinUserIoTest, ClipboardTakesTheText) {
    const std::string log = "Serial: 0042\r\nFirmware: 2.3\r\n";
    ASSERT_TRUE(UserIo.SetClipboardText(log));
    EXPECT_EQ(ClipboardText(), log);
    ASSERT_TRUE(UserIo.SetClipboardText(std::string("before\0after", 12)));
    EXPECT_EQ(ClipboardText(), "before");
}

// The shell starts this very test program, in a folder of the test's own,
// with parameters that make it run one quick case and write its report into
// its current folder.
TEST_F(WinUserIoTest, ShellOpenPassesParametersAndFolder) {
    const std::string folder = qvx::testing_support::MakeTempFolder("qvx_shell");
    ASSERT_FALSE(folder.empty());
    const std::string report = folder + "\\shell_report.xml";
    TWinFiles files;

    ASSERT_TRUE(UserIo.ShellOpen(files.ProgramPath(),
                                 "--gtest_filter=WinUserIo.FilterBecomesNulSeparated "
                                 "--gtest_output=xml:shell_report.xml",
                                 folder));
    // Finished when the report is complete and its writer has let go of it.
    bool complete = false;
    const DWORD begin = GetTickCount();
    while (!complete && GetTickCount() - begin < 60000) {
        Sleep(20);
        auto in = files.OpenRead(report);
        if (!in)
            continue;
        std::string content(static_cast<size_t>(in->Size() > 0 ? in->Size() : 0), '\0');
        if (!content.empty() && in->Read(&content[0], content.size()) > 0)
            complete = content.find("</testsuites>") != std::string::npos &&
                       content.find("FilterBecomesNulSeparated") != std::string::npos;
        in.reset();
        complete = complete && files.RemoveFile(report);
    }
    EXPECT_TRUE(complete);
    files.RemoveFile(report);
    // The folder stays in use until the started program has ended.
    bool removed = false;
    while (!(removed = RemoveDirectoryA(folder.c_str()) != 0) && GetTickCount() - begin < 60000)
        Sleep(20);
    EXPECT_TRUE(removed);

    EXPECT_FALSE(UserIo.ShellOpen(folder + "\\absent.exe", "", ""));
}

} // namespace
