#include "tests/native/window_fixture.h"

namespace qvx {
namespace {

class UpdatePageTest : public WindowTest {
protected:
    void SetUp() override { Form.pcOptions.UserSelectPage(Form.Update.PageIndex()); }
    void Identify() {
        Link.Answer("!Morvek_SC_I", Framed({"SN:QV1"}));
        Form.pcOptions.UserSelectPage(0);
        Form.btSearch.UserClick();
        RunSession();
        Form.pcOptions.UserSelectPage(Form.Update.PageIndex());
        Link.Writes.clear();
    }
};

TEST_F(UpdatePageTest, OnlyRepairMakesTheOptionsAvailableAndKeepsUploadSelected) {
    // A click on the selected "Upload New Firmware" raises nothing.
    Form.rbUploadFW.UserClick();
    EXPECT_FALSE(Form.ckbNotSearch.Enabled());
    EXPECT_FALSE(Form.ckbWait.Enabled());
    Form.rbAddMode.UserClick();
    EXPECT_TRUE(Form.rbUploadFW.Checked());
    EXPECT_FALSE(Form.rbAddMode.Checked());
    EXPECT_TRUE(Form.ckbNotSearch.Enabled());
    EXPECT_TRUE(Form.ckbWait.Enabled());
    EXPECT_TRUE(Form.ckbWait.Checked());
}

TEST_F(UpdatePageTest, RunNeedsAnAdapterUnlessDoNotSearch) {
    Form.edFW_File.SetText("C:\\fw.rfw");
    EXPECT_FALSE(Form.btUpdateRun.Enabled());
    Form.rbAddMode.UserClick();
    Form.ckbNotSearch.UserClick();
    EXPECT_TRUE(Form.btUpdateRun.Enabled());
    Form.edFW_File.SetText("");
    EXPECT_FALSE(Form.btUpdateRun.Enabled());
    Form.ckbNotSearch.UserClick();
    Identify();
    EXPECT_FALSE(Form.btUpdateRun.Enabled());
    Form.edFW_File.SetText("C:\\fw.rfw");
    EXPECT_TRUE(Form.btUpdateRun.Enabled());
}

TEST_F(UpdatePageTest, FileDialogTakesAnExistingFileOnly) {
    Files.Put("C:\\fw\\a.rfw", "x");
    UserIo.QueueDialogAnswer("C:\\fw\\a.rfw");
    Form.btFW_File.UserClick();
    EXPECT_EQ(Form.edFW_File.Text(), "C:\\fw\\a.rfw");
    ASSERT_EQ(UserIo.Dialogs().size(), 1u);
    EXPECT_EQ(UserIo.Dialogs()[0].Filter, "Firmware files|*.rfw|All files|*.*");
    UserIo.QueueDialogAnswer("C:\\fw\\gone.rfw");
    Form.btFW_File.UserClick();
    EXPECT_EQ(Form.edFW_File.Text(), "C:\\fw\\a.rfw");
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(UserIo.Boxes()[0].Text, "Firware file \"C:\\fw\\gone.rfw\" is not found.");
    UserIo.QueueDialogCancel();
    Form.btFW_File.UserClick();
    EXPECT_EQ(Form.edFW_File.Text(), "C:\\fw\\a.rfw");
    EXPECT_EQ(UserIo.Dialogs()[2].FileName, "C:\\fw\\a.rfw");
}

TEST_F(UpdatePageTest, UpdateSendsTheCommandThenUploadsAndCanBeStopped) {
    Identify();
    Bytes image(80 + 64, 'f');
    Files.Put("C:\\fw.rfw", image);
    Form.edFW_File.SetText("C:\\fw.rfw");
    Link.Answer("!Morvek_SC_U", Framed({"Boot loader"}));
    Form.memUpdate.Add("old log");
    Form.btUpdateRun.UserClick();
    EXPECT_EQ(Form.btUpdateRun.Caption(), "Stop");
    EXPECT_TRUE(Form.memUpdate.IsEmpty());
    for (int i = 0; i < 50 && !Form.Updater.IsUploading(); ++i)
        Timers.Advance(10);
    ASSERT_TRUE(Form.Updater.IsUploading());
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"!Morvek_SC_U"}));
    EXPECT_EQ(Form.memLog.Lines(), (std::vector<std::string>{"CR:(c)", "Boot loader"}));
    EXPECT_TRUE(Form.pcOptions.Enabled());
    EXPECT_TRUE(Form.btUpdateRun.Enabled());
    // Requests that would open the port under the upload are refused.
    Form.btReset.UserClick();
    EXPECT_FALSE(Form.Session.Start(ssSendReset, Form.RequestInputs()));
    EXPECT_EQ(Link.Opens, 2);
    Form.btUpdateRun.UserClick(); // "Stop"
    EXPECT_FALSE(Form.Updater.IsUploading());
    EXPECT_EQ(Form.memUpdate.Lines().back(), "Firmware Update canceled...");
    EXPECT_EQ(Form.btUpdateRun.Caption(), "Run");
    RunSession();
    EXPECT_FALSE(Link.Opened);
    EXPECT_EQ(Form.Session.State(), ssIdle);
    EXPECT_TRUE(Form.btSearch.Enabled());
    EXPECT_EQ(Form.ActiveControl(), &Form.btUpdateRun);
}

TEST_F(UpdatePageTest, ClosingDuringAnUploadAsksAndYesStopsIt) {
    EXPECT_TRUE(Form.OnCloseQuery()); // nothing runs: no question
    EXPECT_TRUE(UserIo.Boxes().empty());
    Files.Put("C:\\fw.rfw", Bytes(80 + 64, 'f'));
    Form.edFW_File.SetText("C:\\fw.rfw");
    Form.rbAddMode.UserClick();
    Form.ckbNotSearch.UserClick();
    Form.btUpdateRun.UserClick();
    Timers.Advance(20);
    ASSERT_TRUE(Form.Updater.IsUploading());

    UserIo.QueueBoxAnswer(idbutton::No);
    EXPECT_FALSE(Form.OnCloseQuery());
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(UserIo.Boxes()[0].Text, "A firmware update is running. Stop it and close?");
    EXPECT_EQ(UserIo.Boxes()[0].Caption, "Quorvelix Configurator Version 2.3.1.8 - Close...");
    EXPECT_EQ(UserIo.Boxes()[0].Flags, mb::YesNo | mb::IconQuestion);
    EXPECT_TRUE(Form.Updater.IsUploading());
    EXPECT_TRUE(Link.Opened);

    UserIo.QueueBoxAnswer(idbutton::Yes);
    EXPECT_TRUE(Form.OnCloseQuery());
    EXPECT_FALSE(Form.Updater.IsUploading());
    EXPECT_FALSE(Link.Opened);
    EXPECT_EQ(Form.memUpdate.Lines().back(), "Firmware Update canceled...");
    EXPECT_EQ(Form.btUpdateRun.Caption(), "Run");
}

TEST_F(UpdatePageTest, TheOptionsDoNotEnableRunWhileTheUpdateCommandWaits) {
    Identify();
    Files.Put("C:\\fw.rfw", Bytes(80 + 64, 'f'));
    Form.edFW_File.SetText("C:\\fw.rfw");
    Form.rbAddMode.UserClick(); // "Wait" becomes available
    Form.btUpdateRun.UserClick();
    Timers.Advance(40); // "!Morvek_SC_U" is out, its answer not yet in
    ASSERT_TRUE(Form.pcOptions.Enabled());
    ASSERT_FALSE(Form.Updater.IsUploading());
    ASSERT_FALSE(Form.btUpdateRun.Enabled());
    Form.ckbWait.UserClick();
    EXPECT_FALSE(Form.btUpdateRun.Enabled());
}

TEST_F(UpdatePageTest, DoNotSearchUploadsDirectly) {
    Files.Put("C:\\fw.rfw", Bytes(100, 'f'));
    Form.edFW_File.SetText("C:\\fw.rfw");
    Form.rbAddMode.UserClick();
    Form.ckbNotSearch.UserClick();
    Form.ckbWait.UserClick(); // untick: '<' goes first
    Form.btUpdateRun.UserClick();
    Timers.Advance(20);
    ASSERT_TRUE(Form.Updater.IsUploading());
    Timers.Advance(10);
    EXPECT_EQ(Link.Writes, (std::vector<Bytes>{"<"}));
}

TEST_F(UpdatePageTest, ABootLoaderSilentForThirtySecondsEndsTheUploadAndUnlocks) {
    Files.Put("C:\\fw.rfw", Bytes(100, 'f'));
    Form.edFW_File.SetText("C:\\fw.rfw");
    Form.rbAddMode.UserClick();
    Form.ckbNotSearch.UserClick();
    Form.ckbWait.UserClick(); // untick: '<' goes first, and nothing answers it
    Form.btUpdateRun.UserClick();
    Timers.Advance(29000);
    ASSERT_TRUE(Form.Updater.IsUploading());
    Timers.Advance(2000);
    EXPECT_FALSE(Form.Updater.IsUploading());
    const std::string text = "No answer from the boot loader for 30 s: reconnect the adapter, "
                             "tick \"Do not Search\" and \"Wait\", then press Run.";
    EXPECT_EQ(Form.edUpdateSatus.Text(), text);
    EXPECT_EQ(Form.memUpdate.Lines().back(), text);
    RunSession();
    EXPECT_EQ(Form.Session.State(), ssIdle);
    EXPECT_EQ(Form.btUpdateRun.Caption(), "Run");
    EXPECT_FALSE(Link.Opened);
    EXPECT_TRUE(Form.btSearch.Enabled());
}

TEST_F(UpdatePageTest, AMissingFileEndsTheSessionWithItsBox) {
    Form.edFW_File.SetText("C:\\none.rfw");
    Form.rbAddMode.UserClick();
    Form.ckbNotSearch.UserClick();
    Form.btUpdateRun.UserClick();
    RunSession();
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(UserIo.Boxes()[0].Caption, "Open Firware file...");
    EXPECT_EQ(Form.btUpdateRun.Caption(), "Run");
    EXPECT_FALSE(Link.Opened);
}

TEST_F(UpdatePageTest, RunStaysRunWhenThePortDoesNotOpen) {
    Form.edFW_File.SetText("C:\\fw.rfw");
    Form.rbAddMode.UserClick();
    Form.ckbNotSearch.UserClick();
    Link.OpenSucceeds = false;
    Form.btUpdateRun.UserClick();
    EXPECT_EQ(Form.btUpdateRun.Caption(), "Run");
}

TEST_F(UpdatePageTest, TheUploadShowsItsStatusLogAndProgressOnThePage) {
    IUploadView& view = Form;
    view.ShowStatus("Connecting...");
    view.ShowStatus("Connecting: Error");
    EXPECT_EQ(Form.edUpdateSatus.Text(), "Connecting: Error");
    EXPECT_EQ(Form.memUpdate.Lines(),
              (std::vector<std::string>{"Connecting...", "Connecting: Error"}));
    view.ClearStatus();
    EXPECT_EQ(Form.edUpdateSatus.Text(), "");
    EXPECT_EQ(Form.memUpdate.LineCount(), 2u);
    view.SetProgressRange(4);
    EXPECT_EQ(view.ProgressMax(), 4);
    view.SetProgress(9); // an acknowledged page past the last one
    EXPECT_EQ(Form.pbUpdateProgress.Position(), 4);
    view.SetProgress(-1);
    EXPECT_EQ(Form.pbUpdateProgress.Position(), 0);
}

} // namespace
} // namespace qvx
