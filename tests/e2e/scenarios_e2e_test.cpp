// More of the program as its users meet it: the mode list's views, hiding,
// program links and sorting, the power switch, the self-test, the fallback
// header of an upload, the reset command and what the pages look like. Each
// scenario drives the real Configurator.exe and checks the window, the bytes
// that crossed the wire and the registry.
#include "tests/e2e/remote_app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qvx::e2e {
namespace {

constexpr const char* Serial = "QV2A0017";
const std::string HideKey = std::string(SettingsKey) + "\\Hide";
const std::string RunKey = std::string(SettingsKey) + "\\Run";

std::string TestName() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

// A firmware file as in the other scenarios: the 80-byte header, `pages`
// pages of 128 bytes and 50 bytes more; no slice repeats.
std::string FirmwareImage(int pages) {
    std::string image(80 + 128 * static_cast<size_t>(pages) + 50, '\0');
    uint32_t x = 4242;
    for (char& c : image) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return image;
}

std::string Le16(unsigned value) {
    return std::string{static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF)};
}

unsigned Sum16(const std::string& bytes) {
    unsigned sum = 0;
    for (char c : bytes)
        sum += static_cast<unsigned char>(c);
    return sum & 0xFFFF;
}

// The page frame the boot loader gets for page `number` with `data`.
std::string PageFrame(unsigned number, const std::string& data) {
    return "@" + Le16(number) + Le16(Sum16(data)) + data;
}

size_t Occurrences(const std::string& text, const std::string& word) {
    size_t count = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++count;
    return count;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos)
            return lines;
        start = end + 2;
    }
}

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items)
        text += "[" + item + "]";
    return text;
}

std::string RegistryText(const std::string& key, const std::string& name) {
    std::string value = "<missing>";
    RegistryString(key, name, value);
    return value;
}

class Scenarios : public ::testing::Test {
protected:
    void SetUp() override { DeleteSettings(); }

    void Launch(const std::string& simConfig, const std::string& argument = "") {
        App = std::make_unique<TRemoteApp>(TestName(), simConfig);
        ASSERT_TRUE(App->Start(argument)) << "the main window did not appear";
    }

    HWND Modes() const { return App->Largest("SysListView32", App->SettingsPage()); }
    // The legend: the settings page's other list view.
    HWND Legend() const {
        for (const TControlInfo& c : App->Controls(App->SettingsPage()))
            if (c.Class == "SysListView32" && c.Window != Modes())
                return c.Window;
        return nullptr;
    }
    HWND SearchButton() const { return App->Button("Search", App->SettingsPage()); }
    HWND ShowAll() const { return App->Button("Show ALL", App->SettingsPage()); }
    HWND HideButton() const {
        for (const char* caption : {"Hide", "Show", "Order"})
            if (HWND b = App->Button(caption, App->SettingsPage()))
                return b;
        return nullptr;
    }

    // The session that a click started is over without a box: it has written
    // to the adapter (every session does, after locking the window) and the
    // window is given back. `wireBefore` is the wire's length before the click.
    bool SessionOver(size_t wireBefore) const {
        return WaitFor([&] {
                   return (App->Wire().size() > wireBefore && IsWindowEnabled(SearchButton())) ||
                          App->MessageBoxWindow();
               }) &&
               App->MessageBoxWindow() == nullptr;
    }
    // Clicks a button that starts a session and waits for its end.
    bool RunSession(HWND button) const {
        const size_t before = App->Wire().size();
        TRemoteApp::Click(button);
        return SessionOver(before);
    }
    // The rows of the mode list as "ID:state" in list order.
    std::vector<std::string> Rows() const {
        std::vector<std::string> rows;
        HWND list = Modes();
        for (int row = 0; row < App->ListCount(list); ++row)
            rows.push_back(App->ListText(list, row, 1) + ":" +
                           std::to_string(TRemoteApp::ListStateIndex(list, row)));
        return rows;
    }
    int StateOf(const std::string& number) const {
        const int row = App->FindRow(Modes(), 1, number);
        return row < 0 ? -99 : TRemoteApp::ListStateIndex(Modes(), row);
    }
    // The user selects the row of that mode number.
    bool SelectMode(const std::string& number) const {
        const int row = App->FindRow(Modes(), 1, number);
        if (row < 0)
            return false;
        App->SelectRow(Modes(), row);
        App->Settle();
        return true;
    }
    // Ticks or clears "Show ALL", which searches again; waits for its end.
    bool ToggleShowAll() const {
        return RunSession(ShowAll()) &&
               TRemoteApp::Text(App->EditBeside("Serial Number:")) == Serial;
    }
    bool SearchAgain() const {
        return RunSession(SearchButton()) &&
               TRemoteApp::Text(App->EditBeside("Serial Number:")) == Serial;
    }

    std::unique_ptr<TRemoteApp> App;
};

// ---- the mode list ----

TEST_F(Scenarios, ShowAllListsHiddenAndAvailableModesBesideTheLegend) {
    // A mode hidden in an earlier run, and the adapter's default modes: 000
    // to 002 ordinary ('-'), 003 to 005 offered but not enabled.
    Launch("identity.serial=QV2A0017\nmode.running=001\n");
    ASSERT_TRUE(App->Close());
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, HideKey.c_str(), 0, nullptr, 0, KEY_WRITE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char hidden[] = "Scan tool emulation";
    RegSetValueExA(key, "002", 0, REG_SZ, reinterpret_cast<const BYTE*>(hidden), sizeof hidden);
    RegCloseKey(key);
    ASSERT_TRUE(App->Start());

    ASSERT_TRUE(App->SearchFor(Serial));
    HWND legend = Legend();
    ASSERT_NE(legend, nullptr);
    EXPECT_FALSE(IsWindowVisible(legend));
    EXPECT_FALSE(TRemoteApp::Checked(ShowAll()));
    EXPECT_EQ(Joined(Rows()), "[000:-1][001:0]") << "the hidden mode and the offered ones stay out";
    EXPECT_EQ(Occurrences(App->Wire(), "!Morvek_SC_I"), 1u);

    ASSERT_TRUE(ToggleShowAll());
    EXPECT_TRUE(TRemoteApp::Checked(ShowAll()));
    EXPECT_EQ(Occurrences(App->Wire(), "!Morvek_SC_I"), 2u) << "ticking it searches again";
    EXPECT_EQ(Joined(Rows()), "[000:1][001:0][002:2][003:3][004:3][005:3]");
    // The legend shows the four kinds with their pictures, stretched down to
    // the link buttons and as wide as "Run".
    EXPECT_TRUE(IsWindowVisible(legend));
    EXPECT_EQ(Joined(App->ListColumn(legend, 0)), "[Selected][Active][Hidden][Available]");
    for (int state = 0; state < 4; ++state)
        EXPECT_EQ(TRemoteApp::ListStateIndex(legend, state), state);
    RECT legendAt, runAt;
    GetWindowRect(legend, &legendAt);
    GetWindowRect(App->Button("Run", App->SettingsPage()), &runAt);
    EXPECT_EQ(legendAt.right - legendAt.left, runAt.right - runAt.left);
    EXPECT_EQ(legendAt.bottom, runAt.top);
    // An offered mode can be ordered, not selected.
    ASSERT_TRUE(SelectMode("004"));
    EXPECT_EQ(TRemoteApp::Text(HideButton()), "Order");
    EXPECT_FALSE(IsWindowEnabled(App->Button("Select", App->SettingsPage())));

    ASSERT_TRUE(ToggleShowAll());
    EXPECT_FALSE(TRemoteApp::Checked(ShowAll()));
    EXPECT_FALSE(IsWindowVisible(legend));
    EXPECT_EQ(Joined(Rows()), "[000:-1][001:0]");
    EXPECT_EQ(Occurrences(App->Wire(), "!Morvek_SC_I"), 3u);
    // Looking never changes the mark.
    EXPECT_EQ(RegistryText(HideKey, "002"), "Scan tool emulation");
}

TEST_F(Scenarios, AHiddenModeStaysHiddenAcrossSearchesAndRunsUntilShownAgain) {
    Launch("identity.serial=QV2A0017\nmode.running=001\n");
    ASSERT_TRUE(App->SearchFor(Serial));
    EXPECT_EQ(Joined(Rows()), "[000:-1][001:0][002:-1]");
    HWND select = App->Button("Select", App->SettingsPage());
    // The running mode and mode 000 cannot be hidden.
    EXPECT_FALSE(IsWindowEnabled(HideButton())) << "the running mode is selected";
    ASSERT_TRUE(SelectMode("000"));
    EXPECT_TRUE(IsWindowEnabled(select));
    EXPECT_FALSE(IsWindowEnabled(HideButton()));

    ASSERT_TRUE(SelectMode("002"));
    ASSERT_TRUE(IsWindowEnabled(HideButton()));
    EXPECT_EQ(TRemoteApp::Text(HideButton()), "Hide");
    const size_t wireBefore = App->Wire().size();
    TRemoteApp::Click(HideButton());
    App->Settle();
    // The row stays until the next search, marked hidden; the adapter is not
    // told: the mark lives in the registry alone.
    EXPECT_EQ(StateOf("002"), 2);
    EXPECT_EQ(TRemoteApp::Text(HideButton()), "Show");
    EXPECT_FALSE(IsWindowEnabled(select));
    EXPECT_EQ(RegistryText(HideKey, "002"), "Scan tool emulation");
    EXPECT_EQ(App->Wire().size(), wireBefore);

    ASSERT_TRUE(SearchAgain());
    EXPECT_EQ(Joined(Rows()), "[000:-1][001:0]");

    // A new run of the program keeps it hidden.
    ASSERT_TRUE(App->Close());
    ASSERT_TRUE(App->Start());
    ASSERT_TRUE(App->SearchFor(Serial));
    EXPECT_EQ(Joined(Rows()), "[000:-1][001:0]");

    // Shown again from the "Show ALL" view.
    select = App->Button("Select", App->SettingsPage()); // of the new run
    ASSERT_TRUE(ToggleShowAll());
    EXPECT_EQ(StateOf("002"), 2);
    ASSERT_TRUE(SelectMode("002"));
    EXPECT_EQ(TRemoteApp::Text(HideButton()), "Show");
    EXPECT_FALSE(IsWindowEnabled(select));
    TRemoteApp::Click(HideButton());
    App->Settle();
    EXPECT_EQ(StateOf("002"), 1);
    EXPECT_EQ(TRemoteApp::Text(HideButton()), "Hide");
    EXPECT_TRUE(IsWindowEnabled(select));
    // Shown means an empty mark, not a removed one.
    EXPECT_EQ(RegistryText(HideKey, "002"), "");

    ASSERT_TRUE(ToggleShowAll());
    EXPECT_EQ(Joined(Rows()), "[000:-1][001:0][002:-1]");
    ASSERT_TRUE(App->Close());
    EXPECT_EQ(RegistryText(HideKey, "002"), "");
}

TEST_F(Scenarios, AProgramLinkedThroughTheOpenDialogFollowsItsModeUntilUnlinked) {
    Launch("identity.serial=QV2A0017\nmode.running=001\n");
    const std::string tool = App->Folder() + "mode tool.bat";
    ASSERT_TRUE(WriteFileBytes(tool, "@echo off\r\n"));
    ASSERT_TRUE(App->SearchFor(Serial));
    HWND page = App->SettingsPage();
    HWND edit = App->Beside(HideButton(), "Edit");
    HWND browse = App->Button("...", page);
    HWND unlink = App->Button("X", page);
    HWND run = App->Button("Run", page);
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(browse, nullptr);
    ASSERT_NE(unlink, nullptr);
    ASSERT_NE(run, nullptr);
    // The running mode is selected: nothing linked yet, and reading the link
    // left an empty value behind.
    EXPECT_EQ(TRemoteApp::Text(edit), "");
    EXPECT_TRUE(IsWindowEnabled(browse));
    EXPECT_FALSE(IsWindowEnabled(unlink));
    EXPECT_FALSE(IsWindowEnabled(run));
    EXPECT_EQ(RegistryText(RunKey, "001"), "");
    const size_t wireBefore = App->Wire().size();

    // "..." opens the system's open dialog; the user types the path.
    TRemoteApp::ClickLater(browse);
    HWND dialog = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (dialog = App->DialogWindow("Open")) != nullptr; }));
    ASSERT_TRUE(TRemoteApp::ChooseInOpenDialog(dialog, tool));
    ASSERT_TRUE(WaitFor([&] { return App->DialogWindow("Open") == nullptr; }))
        << "the dialog did not take the file";
    App->Settle();
    EXPECT_EQ(App->MessageBoxWindow(), nullptr);
    EXPECT_EQ(TRemoteApp::Text(edit), tool);
    EXPECT_TRUE(IsWindowEnabled(unlink));
    EXPECT_TRUE(IsWindowEnabled(run));
    EXPECT_EQ(RegistryText(RunKey, "001"), tool);

    // The link belongs to the mode number: another mode shows none, and the
    // linked one shows it again after a search.
    ASSERT_TRUE(SelectMode("002"));
    EXPECT_EQ(TRemoteApp::Text(edit), "");
    EXPECT_FALSE(IsWindowEnabled(run));
    ASSERT_TRUE(SearchAgain());
    EXPECT_EQ(TRemoteApp::Text(edit), tool);
    EXPECT_TRUE(IsWindowEnabled(run));

    // "X" asks first; No keeps the link.
    TRemoteApp::ClickLater(unlink);
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (box = App->MessageBoxWindow()) != nullptr; }));
    EXPECT_EQ(TRemoteApp::Text(box), std::string(MainTitle) + " - Unlink...");
    EXPECT_NE(TRemoteApp::BoxText(box).find("Do you really want to unlink software?"),
              std::string::npos)
        << TRemoteApp::BoxText(box);
    ASSERT_TRUE(TRemoteApp::AnswerBox(box, "No"));
    ASSERT_TRUE(WaitFor([&] { return App->MessageBoxWindow() == nullptr; }));
    App->Settle();
    EXPECT_EQ(TRemoteApp::Text(edit), tool);
    EXPECT_EQ(RegistryText(RunKey, "001"), tool);

    // Yes removes it: an empty value, not a deleted one.
    TRemoteApp::ClickLater(unlink);
    ASSERT_TRUE(WaitFor([&] { return (box = App->MessageBoxWindow()) != nullptr; }));
    ASSERT_TRUE(TRemoteApp::AnswerBox(box, "Yes"));
    ASSERT_TRUE(WaitFor([&] { return App->MessageBoxWindow() == nullptr; }));
    App->Settle();
    EXPECT_EQ(TRemoteApp::Text(edit), "");
    EXPECT_FALSE(IsWindowEnabled(unlink));
    EXPECT_FALSE(IsWindowEnabled(run));
    EXPECT_EQ(RegistryText(RunKey, "001"), "");
    // Linking is the PC's business: only the one search went to the adapter.
    EXPECT_EQ(App->Wire().substr(wireBefore), "!Morvek_SC_I");
}

TEST_F(Scenarios, SortingByAColumnIsRestoredAtTheNextStart) {
    // Mode numbers, descriptions and arrival order all sort differently.
    Launch("identity.serial=QV2A0017\nmode=000 - Service\nmode=001 - Zeta tool\n"
           "mode=002 - alpha tool\nmode=010 - Mid tool\nmode.running=001\n");
    ASSERT_TRUE(App->SearchFor(Serial));
    HWND list = Modes();
    EXPECT_EQ(Joined(App->ListColumn(list, 1)), "[000][001][002][010]");

    ASSERT_TRUE(App->ClickColumnHeader(list, 2)); // "Description", ascending
    EXPECT_EQ(Joined(App->ListColumn(list, 1)), "[002][010][000][001]");
    ASSERT_TRUE(App->ClickColumnHeader(list, 1)); // "ID", ascending
    EXPECT_EQ(Joined(App->ListColumn(list, 1)), "[000][001][002][010]");
    ASSERT_TRUE(App->ClickColumnHeader(list, 1)); // "ID" again, descending
    EXPECT_EQ(Joined(App->ListColumn(list, 1)), "[010][002][001][000]");
    ASSERT_TRUE(App->Close());
    DWORD col = 99, dir = 99;
    EXPECT_TRUE(RegistryDword(SettingsKey, "SortCol", col));
    EXPECT_TRUE(RegistryDword(SettingsKey, "SortDir", dir));
    EXPECT_EQ(col, 1u);
    EXPECT_EQ(dir, 1u);

    ASSERT_TRUE(App->Start());
    ASSERT_TRUE(App->SearchFor(Serial));
    list = Modes();
    EXPECT_EQ(Joined(App->ListColumn(list, 1)), "[010][002][001][000]");
    // The direction goes on from the restored one: another column sorts
    // ascending.
    ASSERT_TRUE(App->ClickColumnHeader(list, 2));
    EXPECT_EQ(Joined(App->ListColumn(list, 1)), "[002][010][000][001]");
    ASSERT_TRUE(App->Close());
    EXPECT_TRUE(RegistryDword(SettingsKey, "SortCol", col));
    EXPECT_TRUE(RegistryDword(SettingsKey, "SortDir", dir));
    EXPECT_EQ(col, 2u);
    EXPECT_EQ(dir, 0u);
}

// ---- power and self-test ----

TEST_F(Scenarios, ExternalPowerSwitchesBothWaysAndReadRepeatsTheState) {
    Launch("identity.serial=QV2A0017\npower.lines=1\npower.on=0\npower.volts=12.34\n");
    ASSERT_TRUE(App->SearchFor(Serial));
    HWND power = App->Button("Ext. Power:");
    HWND read = App->Button("Read");
    ASSERT_NE(power, nullptr);
    ASSERT_NE(read, nullptr);
    HWND volts = App->Beside(power, "Edit");
    ASSERT_NE(volts, nullptr);
    EXPECT_TRUE(IsWindowVisible(power));
    EXPECT_TRUE(IsWindowVisible(read));
    EXPECT_NE(App->Find("Static", "V"), nullptr);
    EXPECT_FALSE(TRemoteApp::Checked(power));
    // "UI:12.34V" as the program reads it.
    EXPECT_EQ(TRemoteApp::Text(volts), "12.890");

    auto switchBy = [&](HWND control, const std::string& sent) {
        const size_t before = App->Wire().size();
        TRemoteApp::Click(control);
        EXPECT_TRUE(WaitFor([&] {
            return (IsWindowEnabled(power) && IsWindowEnabled(read) &&
                    App->Wire().size() >= before + sent.size()) ||
                   App->MessageBoxWindow();
        }));
        EXPECT_EQ(App->MessageBoxWindow(), nullptr);
        EXPECT_EQ(App->Wire().substr(before), sent);
    };
    switchBy(power, "!Morvek_SC_P1");
    EXPECT_TRUE(TRemoteApp::Checked(power)) << "the adapter reports the output on";
    EXPECT_EQ(TRemoteApp::Text(volts), "12.890");
    switchBy(read, "!Morvek_SC_P1");
    EXPECT_TRUE(TRemoteApp::Checked(power));
    // The adapter keeps the output on: a search reads it back.
    ASSERT_TRUE(SearchAgain());
    EXPECT_TRUE(TRemoteApp::Checked(power));
    switchBy(power, "!Morvek_SC_P0");
    EXPECT_FALSE(TRemoteApp::Checked(power));
    switchBy(read, "!Morvek_SC_P0");
    EXPECT_FALSE(TRemoteApp::Checked(power));
    EXPECT_EQ(TRemoteApp::Text(volts), "12.890");
}

TEST_F(Scenarios, SelfTestShowsItsProgressLiveAndRatesErrorsAndWarnings) {
    // Slow enough steps that the progress can be watched, yet well inside
    // the program's silence timeout.
    Launch("identity.serial=QV2A0017\ntest.steps=3\ntest.errors=2\ntest.warnings=1\n"
           "test.stepdelay=80000\n");
    ASSERT_TRUE(App->SearchFor(Serial));
    ASSERT_TRUE(App->SelectTabNamed("Test")) << Joined(App->TabCaptions());
    HWND page = App->ActivePage();
    HWND run = App->Button("Run", page);
    HWND counts = App->OfClass("Edit", page);
    HWND log = App->Largest("Edit", page);
    HWND copy = App->Button("Copy to Buffer", page);
    ASSERT_NE(run, nullptr);
    ASSERT_NE(log, nullptr);
    ASSERT_NE(counts, log);
    HWND verdict = nullptr; // the circle between "Run" and the counts
    for (const TControlInfo& c : App->Controls(page))
        if (c.Class != "Button" && c.Class != "Edit")
            verdict = c.Window;
    ASSERT_NE(verdict, nullptr);
    EXPECT_FALSE(IsWindowEnabled(copy));
    const size_t before = App->Wire().size();

    TRemoteApp::Click(run);
    // A progress line shows while the test runs.
    EXPECT_TRUE(WaitFor([&] {
        const std::string text = TRemoteApp::Text(log);
        return text.find("%") != std::string::npos || text.find("RESULT") != std::string::npos;
    }));
    EXPECT_EQ(TRemoteApp::Text(log).find("RESULT"), std::string::npos)
        << "no progress was seen before the verdict:\n"
        << TRemoteApp::Text(log);
    EXPECT_TRUE(IsWindowEnabled(copy)) << "the log is not empty";
    ASSERT_TRUE(SessionOver(before));
    EXPECT_EQ(App->Wire().substr(before), "!Morvek_SC_T");

    // Each progress line ended as its step's result line.
    const std::vector<std::string> lines = Lines(TRemoteApp::Text(log));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.back(), "RESULT : Error/Warning");
    EXPECT_EQ(lines[lines.size() - 2], "");
    EXPECT_EQ(lines[lines.size() - 3], "Self-test finished");
    EXPECT_EQ(lines[1], "Self-test started");
    int done = 0;
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find('%'), std::string::npos) << line;
        done += line.size() > 6 && line.compare(line.size() - 6, 6, ": done") == 0;
    }
    EXPECT_EQ(done, 3) << Joined(lines);
    EXPECT_EQ(TRemoteApp::Text(counts), "2/1");
    EXPECT_EQ(CentreColour(verdict), 0xFF00FFu) << "fuchsia for errors and warnings";
}

TEST_F(Scenarios, SelfTestWithoutFindingsIsRatedOk) {
    Launch("identity.serial=QV2A0017\ntest.steps=2\ntest.stepdelay=20000\n");
    ASSERT_TRUE(App->SearchFor(Serial));
    ASSERT_TRUE(App->SelectTabNamed("Test"));
    HWND page = App->ActivePage();
    HWND log = App->Largest("Edit", page);
    ASSERT_TRUE(RunSession(App->Button("Run", page)));
    const std::vector<std::string> lines = Lines(TRemoteApp::Text(log));
    EXPECT_EQ(lines.back(), "RESULT : OK (No Errors)");
    EXPECT_EQ(TRemoteApp::Text(App->OfClass("Edit", page)), "0/0");
    for (const TControlInfo& c : App->Controls(page)) {
        if (c.Class != "Button" && c.Class != "Edit") {
            EXPECT_EQ(CentreColour(c.Window), 0x00FF00u) << "lime for a clean test";
        }
    }
    // A new search hides the page and clears the log.
    ASSERT_TRUE(App->SelectTabNamed("Settings"));
    ASSERT_TRUE(SearchAgain());
    EXPECT_EQ(TRemoteApp::Text(log), "");
}

// ---- the Update page ----

TEST_F(Scenarios, UploadToASilentHeaderSendsTheFallbackHeaderAndPagesFromOffset264) {
    App = std::make_unique<TRemoteApp>(
        TestName(), "identity.serial=QV2A0017\nboot.pagesize=128\nfault.header.silent=1\n"
                    "line.rate=11520\nline.chunk=64\n");
    const int pages = 8;
    const std::string image = FirmwareImage(pages);
    const std::string file = App->Folder() + "fallback.rfw";
    ASSERT_TRUE(WriteFileBytes(file, image));
    ASSERT_TRUE(App->Start(file));
    App->SelectTab(0);
    ASSERT_TRUE(App->SearchFor(Serial));
    ASSERT_TRUE(App->SelectTabNamed("Update"));
    HWND page = App->UpdatePage();
    HWND run = App->Button("Run", page);
    HWND status = App->Below(App->EditBeside("File:", page), "Edit");
    HWND progress = App->OfClass("msctls_progress32", page);
    HWND log = App->Below(progress, "Edit");
    ASSERT_NE(run, nullptr);
    ASSERT_NE(status, nullptr);
    ASSERT_NE(log, nullptr);
    const size_t before = App->Wire().size();

    TRemoteApp::Click(run);
    EXPECT_TRUE(WaitFor([&] {
        return TRemoteApp::Text(status) == "Updating firmware : Ok" || App->MessageBoxWindow() ||
               TRemoteApp::Text(run) == "Run";
    }));
    EXPECT_EQ(TRemoteApp::Text(status), "Updating firmware : Ok");
    EXPECT_TRUE(WaitFor([&] { return TRemoteApp::Text(run) == "Run"; }));
    EXPECT_EQ(App->MessageBoxWindow(), nullptr);

    // The fallback form: 184 header bytes raw, then the pages of the rest.
    const std::string fallbackPayload = image.substr(264);
    const int fallbackPages = static_cast<int>(fallbackPayload.size() / 128);
    ASSERT_EQ(fallbackPages, pages - 2);
    EXPECT_EQ(TRemoteApp::ProgressMax(progress), fallbackPages);
    EXPECT_EQ(TRemoteApp::ProgressPos(progress), fallbackPages);

    const std::string wire = App->Wire().substr(before);
    const std::string header = "#" + Le16(Sum16(image.substr(0, 80))) + image.substr(0, 80);
    const size_t headerAt = wire.find(header);
    ASSERT_NE(headerAt, std::string::npos);
    EXPECT_EQ(wire.substr(headerAt + header.size(), 184), image.substr(80, 184))
        << "the fallback header follows the header directly";
    size_t at = headerAt + header.size() + 184;
    for (int p = 0; p < fallbackPages; ++p) {
        const std::string frame = PageFrame(
            static_cast<unsigned>(p), fallbackPayload.substr(128 * static_cast<size_t>(p), 128));
        const size_t found = wire.find(frame, at);
        EXPECT_NE(found, std::string::npos) << "page " << p;
        if (found != std::string::npos)
            at = found + frame.size();
    }
    EXPECT_EQ(wire.substr(wire.size() - 3), std::string("@\xFF\xFF", 3)) << "the end marker last";
    // Never a page of the first form (its page 0 starts at offset 80).
    EXPECT_EQ(wire.find(PageFrame(0, image.substr(80, 128))), std::string::npos);
    // The partial page at the end never goes out.
    EXPECT_EQ(wire.find(fallbackPayload.substr(128 * static_cast<size_t>(fallbackPages))),
              std::string::npos);

    const std::vector<std::string> lines = Lines(TRemoteApp::Text(log));
    const std::string logText = Joined(lines);
    EXPECT_NE(logText.find("[Send Header...][SN:QV2A0017][ID:Quorvelix boot loader 1.07]"
                           "[Wait for page request...]"),
              std::string::npos)
        << logText;
    EXPECT_NE(logText.find("[Writing Page #5 : Ok]"), std::string::npos) << logText;
    EXPECT_EQ(logText.find("Writing Page #6"), std::string::npos) << logText;
}

TEST_F(Scenarios, ResetSendsTheResetCommandAloneAndLeavesThePageAsItWas) {
    Launch("identity.serial=QV2A0017\n");
    ASSERT_TRUE(App->SearchFor(Serial));
    ASSERT_TRUE(App->SelectTabNamed("Update"));
    HWND page = App->UpdatePage();
    HWND reset = App->Button("Reset", page);
    HWND status = App->Below(App->EditBeside("File:", page), "Edit");
    HWND run = App->Button("Run", page);
    ASSERT_NE(reset, nullptr);
    ASSERT_NE(status, nullptr);
    const size_t before = App->Wire().size();

    TRemoteApp::Click(reset);
    EXPECT_TRUE(SessionOver(before));
    // Sent without waiting for an answer, and nothing after it.
    EXPECT_EQ(App->Wire().substr(before), "!Morvek_SC_R");
    EXPECT_EQ(TRemoteApp::Text(status), "");
    EXPECT_EQ(TRemoteApp::Text(run), "Run");
    EXPECT_FALSE(IsWindowEnabled(run)) << "no firmware file chosen";
    EXPECT_TRUE(IsWindowEnabled(reset));
    EXPECT_EQ(TRemoteApp::Text(App->EditBeside("Serial Number:")), Serial);
    EXPECT_EQ(App->ActiveTab(), 1);
    Sleep(300);
    EXPECT_EQ(App->Wire().size(), before + 12);

    // The restarted adapter answers the next search.
    ASSERT_TRUE(App->SelectTabNamed("Settings"));
    EXPECT_TRUE(SearchAgain());
}

// ---- what the pages look like ----

// Saves every page of the window as build/win32/screenshots/e2e_<stage>_<n>_<caption>.png.
void ShootEveryPage(TRemoteApp& app, const std::string& stage) {
    const std::vector<std::string> captions = app.TabCaptions();
    ASSERT_FALSE(captions.empty());
    for (size_t i = 0; i < captions.size(); ++i) {
        app.SelectTab(static_cast<int>(i));
        ASSERT_TRUE(WaitFor([&] { return app.ActiveTab() == static_cast<int>(i); }));
        app.Settle();
        const TScreenShot shot = CaptureClient(app.Main());
        RECT client;
        GetClientRect(app.Main(), &client);
        EXPECT_EQ(shot.Width, client.right);
        EXPECT_EQ(shot.Height, client.bottom);
        // A page that never painted is one flat colour (or nearly).
        std::vector<uint32_t> colours;
        for (int y = 0; y < shot.Height; y += 3)
            for (int x = 0; x < shot.Width; x += 3) {
                const uint32_t c = shot.At(x, y);
                if (std::find(colours.begin(), colours.end(), c) == colours.end() &&
                    colours.size() < 64)
                    colours.push_back(c);
            }
        EXPECT_GT(colours.size(), 16u) << captions[i];
        std::string name = captions[i];
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        const std::string path =
            ScreenshotFolder() + "e2e_" + stage + "_" + std::to_string(i) + "_" + name + ".png";
        EXPECT_TRUE(SavePng(path, shot)) << path;
    }
}

TEST_F(Scenarios, ScreenshotsOfEveryPageAfterASearchAndAnUpload) {
    App = std::make_unique<TRemoteApp>(
        TestName(), "identity.serial=QV2A0017\nboot.pagesize=128\npower.volts=12.34\n");
    const std::string file = App->Folder() + "firmware_2_31.rfw";
    ASSERT_TRUE(WriteFileBytes(file, FirmwareImage(6)));
    ASSERT_TRUE(App->Start(file));
    App->SelectTab(0);
    ASSERT_TRUE(App->SearchFor(Serial));
    ASSERT_TRUE(ToggleShowAll()); // the legend and every kind of row
    ASSERT_TRUE(SelectMode("002"));
    ShootEveryPage(*App, "search");

    ASSERT_TRUE(App->SelectTabNamed("Update"));
    HWND page = App->UpdatePage();
    HWND status = App->Below(App->EditBeside("File:", page), "Edit");
    TRemoteApp::Click(App->Button("Run", page));
    ASSERT_TRUE(WaitFor([&] {
        return TRemoteApp::Text(status) == "Updating firmware : Ok" || App->MessageBoxWindow();
    }));
    ASSERT_TRUE(WaitFor([&] { return TRemoteApp::Text(App->Button("Run", page)) == "Run"; }));
    ShootEveryPage(*App, "upload");
}

} // namespace
} // namespace qvx::e2e
