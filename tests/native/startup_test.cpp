#include "tests/native/window_fixture.h"
#include "platform/text.h"

namespace qvx {
namespace {

unsigned g_period = 0;
int g_begins = 0, g_ends = 0;
unsigned QVX_STDCALL FakeBegin(unsigned p) {
    g_period = p;
    ++g_begins;
    return 0;
}
unsigned QVX_STDCALL FakeEnd(unsigned p) {
    g_period = p;
    ++g_ends;
    return 0;
}

class StartupTest : public WindowTest {
protected:
    StartupTest() { Files.SetProgramPath("C:\\Program Files\\Quorvelix\\Configurator.exe"); }
    std::string Value(const std::string& key, const std::string& name) {
        TMemoryRegistry::Value v;
        return Registry.GetValue(key, name, v) ? v.Text : "<missing>";
    }
    uint32_t Number(const std::string& name) {
        TMemoryRegistry::Value v;
        return Registry.GetValue("SOFTWARE\\Morveklink", name, v) ? v.Number : 0xDEAD;
    }
};

TEST_F(StartupTest, FirstStartOnACleanMachine) {
    Form.FormCreate();
    EXPECT_EQ(Form.Caption(), "Quorvelix Configurator Version 2.3.1.8");
    EXPECT_EQ(Form.Settings.AppTitle, "Quorvelix Configurator Version 2.3.1.8");
    EXPECT_EQ(Form.lbName.Caption(), "Quorvelix Configurator");
    EXPECT_EQ(Form.lbVersion.Caption(), "Version 2.3.1.8");
    EXPECT_EQ(Form.rbAddMode.Caption(), "Repair Quorvelix");
    EXPECT_EQ(Form.GroupBox_Driver.Caption(), " Quorvelix Driver ");
    EXPECT_EQ(Form.Settings.AppDir, "C:\\Program Files\\Quorvelix\\");
    EXPECT_FALSE(Version.IsLoaded());
    const std::string exe = "\"C:\\Program Files\\Quorvelix\\Configurator.exe\"";
    EXPECT_EQ(Value("SOFTWARE\\Classes\\.rfw", ""), "Quorvelix_Firmware");
    EXPECT_EQ(Value("SOFTWARE\\Classes\\Quorvelix_Firmware\\DefaultIcon", ""), exe + ",0");
    EXPECT_EQ(Value("SOFTWARE\\Classes\\Quorvelix_Firmware\\shell\\open\\command", ""),
              exe + " \"%1\"");
    EXPECT_EQ(Value("SOFTWARE\\Morveklink", "Path"),
              "C:\\Program Files\\Quorvelix\\Configurator.exe");
    EXPECT_EQ(Number("SortCol"), 0u);
    EXPECT_EQ(Number("SortDir"), 0u);
    EXPECT_FALSE(Registry.KeyExists("SOFTWARE\\PassThruSupport.04.04\\Morveklink - Quorvelix"));
    EXPECT_TRUE(Form.Centered);
    EXPECT_EQ(Form.Settings.Key(), "SOFTWARE\\Morveklink");
    EXPECT_FALSE(Form.tsTest.TabVisible());
    EXPECT_FALSE(Form.btJ2534_Install.Enabled());
    Form.SetBounds(120, 80, Form.Width(), Form.Height());
    Form.FormClose();
    EXPECT_EQ(Number("WinTop"), 80u);
    EXPECT_EQ(Number("WinLeft"), 120u);
}

TEST_F(StartupTest, SecondStartRestoresThePositionAndSortOrder) {
    Registry.SetDword("SOFTWARE\\Morveklink", "WinTop", 33);
    Registry.SetDword("SOFTWARE\\Morveklink", "WinLeft", 44);
    Registry.SetDword("SOFTWARE\\Morveklink", "SortCol", 2);
    Registry.SetDword("SOFTWARE\\Morveklink", "SortDir", 1);
    Form.FormCreate();
    EXPECT_FALSE(Form.Centered);
    Form.FormShow();
    EXPECT_EQ(Form.Top(), 33);
    EXPECT_EQ(Form.Left(), 44);
    EXPECT_EQ(Form.Modes.SortCol, 2);
    EXPECT_EQ(Form.Modes.SortDir, 1);
}

TEST_F(StartupTest, OnlyOneHalfOfThePositionCentresTheWindow) {
    Registry.SetDword("SOFTWARE\\Morveklink", "WinTop", 33);
    Form.FormCreate();
    EXPECT_TRUE(Form.Centered);
    const int left = Form.Left();
    Form.FormShow();
    EXPECT_EQ(Form.Left(), left);
    Form.FormClose();
    EXPECT_NE(Number("WinLeft"), 0xDEADu);
}

TEST_F(StartupTest, SortColumnOutOfRangeIsRewrittenAsZero) {
    Registry.SetDword("SOFTWARE\\Morveklink", "SortCol", 7);
    Form.FormCreate();
    EXPECT_EQ(Form.Modes.SortCol, 0);
    EXPECT_EQ(Number("SortCol"), 0u);
}

TEST_F(StartupTest, TheMakersCatalogueEntryLearnsTheProgramPath) {
    Registry.SetString("SOFTWARE\\PassThruSupport.04.04\\Morveklink - Quorvelix", "Name", "x");
    Form.FormCreate();
    EXPECT_EQ(Value("SOFTWARE\\PassThruSupport.04.04\\Morveklink - Quorvelix", "ConfigApplication"),
              "C:\\Program Files\\Quorvelix\\Configurator.exe");
}

TEST_F(StartupTest, AFirmwareFileOnTheCommandLineOpensTheUpdatePage) {
    Files.Put("D:\\fw\\new.rfw", Bytes(100, 'x'));
    Form.CommandLine = {"D:\\fw\\new.rfw"};
    Form.FormCreate();
    EXPECT_EQ(Form.edFW_File.Text(), "D:\\fw\\new.rfw");
    EXPECT_EQ(Form.pcOptions.ActivePageIndex(), 1);
}

// A relative name is taken from the current folder at start-up, so that a
// later change of the current folder does not make it name another file.
TEST_F(StartupTest, ARelativeFirmwareNameOnTheCommandLineIsMadeAbsolute) {
    Files.Put("D:\\work\\fw\\new.rfw", Bytes(100, 'x'));
    Files.SetCurrentDir("D:\\work");
    Form.CommandLine = {"fw\\new.rfw"};
    Form.FormCreate();
    EXPECT_EQ(Form.edFW_File.Text(), "D:\\work\\fw\\new.rfw");
    EXPECT_EQ(Form.pcOptions.ActivePageIndex(), 1);
}

TEST(AbsolutePath, EachFormOfAWindowsPath) {
    EXPECT_EQ(AbsolutePath("D:\\work\\", "a.rfw"), "D:\\work\\a.rfw");
    EXPECT_EQ(AbsolutePath("D:\\work", ".\\fw\\a.rfw"), "D:\\work\\fw\\a.rfw");
    EXPECT_EQ(AbsolutePath("D:\\work", "..\\a.rfw"), "D:\\work\\..\\a.rfw");
    EXPECT_EQ(AbsolutePath("D:\\work", "C:\\fw\\a.rfw"), "C:\\fw\\a.rfw");
    EXPECT_EQ(AbsolutePath("D:\\work", "\\\\server\\fw\\a.rfw"), "\\\\server\\fw\\a.rfw");
    EXPECT_EQ(AbsolutePath("D:\\work", "\\fw\\a.rfw"), "D:\\fw\\a.rfw");
    EXPECT_EQ(AbsolutePath("D:\\work", "d:a.rfw"), "D:\\work\\a.rfw");
    EXPECT_EQ(AbsolutePath("D:\\work", "C:a.rfw"), "C:\\a.rfw");
    EXPECT_EQ(AbsolutePath("/home/me", "fw/a.rfw"), "/home/me/fw/a.rfw");
    EXPECT_EQ(AbsolutePath("/home/me", "/fw/a.rfw"), "/fw/a.rfw");
}

TEST_F(StartupTest, AMissingFileOnTheCommandLineIsIgnored) {
    Form.CommandLine = {"D:\\fw\\none.rfw"};
    Form.FormCreate();
    EXPECT_EQ(Form.edFW_File.Text(), "");
    EXPECT_EQ(Form.pcOptions.ActivePageIndex(), 0);
}

TEST_F(StartupTest, TimerResolutionIsHeldFromStartToClose) {
    Libraries.Add("winmm.dll", {{"timeBeginPeriod", reinterpret_cast<void*>(&FakeBegin)},
                                {"timeEndPeriod", reinterpret_cast<void*>(&FakeEnd)}});
    g_begins = g_ends = 0;
    Form.FormCreate();
    EXPECT_EQ(g_begins, 1);
    EXPECT_EQ(g_period, 1u);
    EXPECT_EQ(Libraries.LoadedCount("winmm.dll"), 1);
    Form.FormClose();
    EXPECT_EQ(g_ends, 1);
    EXPECT_EQ(Libraries.LoadedCount("winmm.dll"), 0);
}

TEST_F(StartupTest, WithoutAVersionResourceTheTitleStays) {
    TStaticVersion none;
    TPlatform bare{Registry, Libraries, UserIo, Files, none, Timers};
    TfrmMain form(bare, &Link);
    form.FormCreate();
    EXPECT_EQ(form.Caption(), "Name...");
    EXPECT_EQ(form.Settings.AppTitle, "Configurator");
    EXPECT_EQ(form.Settings.AppProductName, "");
    EXPECT_EQ(form.lbName.Caption(), "Name");
    EXPECT_EQ(form.rbAddMode.Caption(), "Repair");
}

TEST_F(StartupTest, AboutLinksHoverAndOpen) {
    Form.FormCreate();
    Form.pcOptions.UserSelectPage(Form.About.PageIndex());
    Form.lbRef.UserMouseEnter();
    EXPECT_TRUE(Form.lbRef.Font().Underline);
    Form.lbRef.UserMouseLeave();
    EXPECT_FALSE(Form.lbRef.Font().Underline);
    Form.lbMail.UserMouseEnter();
    EXPECT_TRUE(Form.lbMail.Font().Underline);
    EXPECT_TRUE(Form.lbMail.Font().Bold);
    Form.lbMail.UserMouseLeave();
    EXPECT_FALSE(Form.lbMail.Font().Underline);
    Form.lbRef.UserClick();
    Form.Today = [] { return TLocalDate{2021, 3, 5}; };
    Form.lbMail.UserClick();
    ASSERT_EQ(UserIo.ShellCalls().size(), 2u);
    EXPECT_EQ(UserIo.ShellCalls()[0].Target, "http://www.morveklink.example");
    EXPECT_EQ(UserIo.ShellCalls()[1].Target,
              "mailto:orders@morveklink.example?subject=Order%20for%20Quorvelix%20Adapter%20-%"
              "2020210305");
}

} // namespace
} // namespace qvx
