#include "tests/native/window_fixture.h"

namespace qvx {
namespace {

class ModesTest : public WindowTest {
protected:
    void Search(const std::vector<std::string>& lines) {
        Link.Replies["!Morvek_SC_I"] = {Framed(lines)};
        Form.btSearch.UserClick();
        RunSession();
    }
    TListItem* Row(const std::string& number) {
        for (size_t i = 0; i < Form.lvModes.Count(); ++i)
            if (Form.lvModes.Item(i)->SubItems[0] == number)
                return Form.lvModes.Item(i);
        return nullptr;
    }
    void Pick(const std::string& number) { Form.lvModes.UserSelect(Row(number)); }
    const std::vector<std::string> Reply = {
        "SN:QV1",    "FW:2.0",      "000 - Service",           "005 - CAN",
        "007 - KWP", "008 + J1850", "Selected Mode: 007 - KWP"};
};

TEST_F(ModesTest, SelectionSetsTheButtonsByKind) {
    Form.cbShow.SetEnabled(false); // tick without a search
    Form.cbShow.SetChecked(true);
    Form.cbShow.SetEnabled(true);
    Search(Reply);
    Pick("007"); // running
    EXPECT_FALSE(Form.btModeSelect.Enabled());
    EXPECT_FALSE(Form.btModeHide.Enabled());
    EXPECT_TRUE(Form.btModeFile.Enabled());
    Pick("000");
    EXPECT_TRUE(Form.btModeSelect.Enabled());
    EXPECT_FALSE(Form.btModeHide.Enabled());
    Pick("005");
    EXPECT_TRUE(Form.btModeSelect.Enabled());
    EXPECT_TRUE(Form.btModeHide.Enabled());
    EXPECT_EQ(Form.btModeHide.Caption(), "Hide");
    Pick("008"); // available
    EXPECT_FALSE(Form.btModeSelect.Enabled());
    EXPECT_EQ(Form.btModeHide.Caption(), "Order");
    // Selecting a mode leaves an empty link value behind.
    EXPECT_EQ(Setting("008", "Run"), "");
}

TEST_F(ModesTest, HideWritesTheDescriptionAndTheNextSearchLeavesTheModeOut) {
    Search(Reply);
    Pick("005");
    Form.btModeHide.UserClick();
    EXPECT_EQ(Setting("005", "Hide"), "CAN");
    EXPECT_EQ(Row("005")->StateIndex, 2);
    EXPECT_EQ(Form.btModeHide.Caption(), "Show");
    EXPECT_FALSE(Form.btModeSelect.Enabled());
    Search(Reply);
    EXPECT_EQ(Row("005"), nullptr);
    // Show ALL lists it as hidden; "Show" brings it back.
    Form.cbShow.UserClick();
    RunSession();
    ASSERT_NE(Row("005"), nullptr);
    EXPECT_EQ(Row("005")->StateIndex, 2);
    Pick("005");
    Form.btModeHide.UserClick();
    EXPECT_EQ(Setting("005", "Hide"), "");
    EXPECT_EQ(Row("005")->StateIndex, 1);
    EXPECT_EQ(Form.btModeHide.Caption(), "Hide");
    Form.cbShow.UserClick();
    RunSession();
    EXPECT_NE(Row("005"), nullptr);
}

TEST_F(ModesTest, AHideMarkForAnOldDescriptionNoLongerHides) {
    Registry.SetString("SOFTWARE\\Morveklink\\Hide", "005", "Old CAN");
    Search(Reply);
    EXPECT_NE(Row("005"), nullptr);
}

TEST_F(ModesTest, SelectDoubleClickAndEnterSwitchOnlyOrdinaryModes) {
    Search(Reply);
    Link.Writes.clear();
    Pick("007"); // running: nothing
    Form.lvModes.UserDblClick();
    EXPECT_EQ(Form.Session.State(), ssIdle);
    Pick("005");
    char enter = '\r';
    Form.lvModesKeyPress(enter);
    RunSession();
    ASSERT_GE(Link.Writes.size(), 2u);
    EXPECT_EQ(Link.Writes[0], "!Morvek_SC_M");
    EXPECT_EQ(Link.Writes[1], "005");
}

TEST_F(ModesTest, ColumnClicksSortAndFlip) {
    Search({"SN:1", "02 - beta", "10 - Alpha", "03 - gamma"});
    Form.lvModes.UserColumnClick(1);
    EXPECT_EQ(Column(0), (std::vector<std::string>{"02", "03", "10"}));
    Form.lvModes.UserColumnClick(1);
    EXPECT_EQ(Column(0), (std::vector<std::string>{"10", "03", "02"}));
    EXPECT_EQ(Form.Modes.SortDir, 1);
    Form.lvModes.UserColumnClick(2);
    EXPECT_EQ(Column(1), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
    EXPECT_EQ(Form.Modes.SortCol, 2);
    EXPECT_EQ(Form.Modes.SortDir, 0);
}

TEST_F(ModesTest, MouseUpKeepsARowSelected) {
    Search(Reply);
    Pick("005");
    Form.lvModes.SetSelected(nullptr);
    Form.lvModes.UserMouseUp(1, 5, 300);
    EXPECT_EQ(Form.lvModes.Selected(), Row("005"));
}

TEST_F(ModesTest, LinkAProgramRunItAndUnlinkIt) {
    Search(Reply);
    Pick("005");
    Files.Put("C:\\Tools\\scan.exe", "MZ");
    UserIo.QueueDialogAnswer("C:\\Tools\\scan.exe");
    Form.btModeFile.UserClick();
    ASSERT_EQ(UserIo.Dialogs().size(), 1u);
    EXPECT_EQ(UserIo.Dialogs()[0].Filter, "Executable files|*.exe;*.bat;*.cmd|All files|*.*");
    EXPECT_EQ(Form.edModeRun.Text(), "C:\\Tools\\scan.exe");
    EXPECT_EQ(Setting("005", "Run"), "C:\\Tools\\scan.exe");
    EXPECT_TRUE(Form.btModeRun.Enabled());
    Form.Settings.AppDir = "C:\\Program\\";
    Form.btModeRun.UserClick();
    ASSERT_EQ(UserIo.ShellCalls().size(), 1u);
    EXPECT_EQ(UserIo.ShellCalls()[0].Target, "C:\\Tools\\scan.exe");
    EXPECT_EQ(UserIo.ShellCalls()[0].Directory, "C:\\Tools\\");
    EXPECT_EQ(Files.GetCurrentDir(), "C:\\Program\\");
    UserIo.QueueBoxAnswer(idbutton::No);
    Form.btModeFileDel.UserClick();
    EXPECT_EQ(Setting("005", "Run"), "C:\\Tools\\scan.exe");
    UserIo.QueueBoxAnswer(idbutton::Yes);
    Form.btModeFileDel.UserClick();
    EXPECT_EQ(Setting("005", "Run"), "");
    EXPECT_FALSE(Form.btModeRun.Enabled());
    EXPECT_EQ(UserIo.Boxes()[0].Caption, "Quorvelix Configurator Version 2.3.1.8 - Unlink...");
    EXPECT_EQ(UserIo.Boxes()[0].Flags, 35u);
}

TEST_F(ModesTest, AMissingProgramIsNotLinked) {
    Search(Reply);
    Pick("005");
    UserIo.QueueDialogAnswer("C:\\gone.exe");
    Form.btModeFile.UserClick();
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(UserIo.Boxes()[0].Text, "Executable file \"C:\\gone.exe\" is not found.");
    EXPECT_EQ(Setting("005", "Run"), "");
}

TEST_F(ModesTest, OrderMailCarriesTheLogUpToTheFirmwareLine) {
    Form.cbShow.SetEnabled(false);
    Form.cbShow.SetChecked(true);
    Form.cbShow.SetEnabled(true);
    Search(Reply);
    Form.lbMail.SetCaption("orders@morveklink.example");
    Form.Today = [] { return TLocalDate{2021, 3, 5}; };
    Pick("008");
    Form.btModeHide.UserClick();
    ASSERT_EQ(UserIo.ShellCalls().size(), 1u);
    EXPECT_EQ(UserIo.ShellCalls()[0].Target,
              "mailto:orders@morveklink.example?subject=Order%20for%20Upgrade%20Quorvelix(QV1)"
              "%20-%2020210305&body=Required Mode:%0A008%20-%20J1850%0A%0A" +
                  std::string(40, '-') + "%0ACR:(c)%0ASN:QV1%0AFW:2.0%0A");
    Form.memLog.Clear();
    EXPECT_EQ(Form.OrderMailText().substr(Form.OrderMailText().size() - 43),
              std::string(40, '-') + "%0A");
}

} // namespace
} // namespace qvx
