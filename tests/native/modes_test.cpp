#include "modes/modes.h"
#include "platform/text.h"
#include "tests/native/window_fixture.h"

#include <map>

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
                  std::string(40, '-') + "%0ACR%3A%28c%29%0ASN%3AQV1%0AFW%3A2.0%0A");
    Form.memLog.Clear();
    EXPECT_EQ(Form.OrderMailText().substr(Form.OrderMailText().size() - 43),
              std::string(40, '-') + "%0A");
}

// The fields of a "mailto:" link as a mail program reads them: the address,
// then name=value pairs after "?", split at "&", values percent-decoded.
std::map<std::string, std::string> MailFields(const std::string& link) {
    std::map<std::string, std::string> fields;
    const size_t query = link.find('?');
    fields["to"] = PercentDecode(link.substr(7, query - 7));
    size_t start = query + 1;
    while (query != std::string::npos && start <= link.size()) {
        size_t end = link.find('&', start);
        const std::string pair = link.substr(start, end - start);
        const size_t eq = pair.find('=');
        fields[pair.substr(0, eq)] =
            eq == std::string::npos ? "" : PercentDecode(pair.substr(eq + 1));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return fields;
}

TOrderMail SampleMail() {
    TOrderMail mail;
    mail.Address = "orders@morveklink.example";
    mail.Product = "Quorvelix";
    mail.Serial = "QV1";
    mail.Number = "008";
    mail.Description = "Extra & more #1 50%off?cc=someone@example.test \xE9t\xE9";
    mail.Log = {"CR:(c)", "SN:QV1", "FW:2.0"};
    mail.Date = {2021, 3, 5};
    return mail;
}

TEST(OrderMail, AdapterTextAddsNoFieldAndReadsBackUnchanged) {
    const std::string link = OrderMailText(SampleMail(), Cp1252ToUtf8);
    const auto fields = MailFields(link);
    EXPECT_EQ(fields.size(), 3u) << link; // to, subject, body
    EXPECT_EQ(fields.at("to"), "orders@morveklink.example");
    EXPECT_EQ(fields.at("subject"), "Order for Upgrade Quorvelix(QV1) - 20210305");
    EXPECT_EQ(fields.at("body"),
              "Required Mode:\n008 - Extra & more #1 50%off?cc=someone@example.test "
              "\xC3\xA9t\xC3\xA9\n\n" +
                  std::string(40, '-') + "\nCR:(c)\nSN:QV1\nFW:2.0\n");
}

TEST(OrderMail, ALongLogIsCutFromTheEndToFitTheLink) {
    TOrderMail mail = SampleMail();
    mail.Log.assign(200, "Line of the log");
    const std::string link = OrderMailText(mail, Cp1252ToUtf8);
    EXPECT_LE(link.size(), OrderMailMaxLength);
    const std::string body = MailFields(link).at("body");
    EXPECT_EQ(body.find("Required Mode:\n008 - Extra & more"), 0u);
    EXPECT_NE(body.find("\nLine of the log\nLine of the log\n"), std::string::npos);
    // Not one more line would have fitted.
    EXPECT_GT(link.size() + PercentEncode("Line of the log").size() + 3, OrderMailMaxLength);
}

} // namespace
} // namespace qvx
