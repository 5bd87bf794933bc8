// The Update page: choose a firmware file, start and stop the upload, reset
// the adapter; and the upload's view. The page hands its requests to the
// session driver.
#include "app/Unitmain.h"

namespace qvx {

void TfrmMain::RefreshRunButton() {
    // While an upload runs the button is "Stop" and stays usable.
    if (Updater.IsUploading()) {
        btUpdateRun.SetEnabled(true);
        return;
    }
    // The session before the upload keeps it locked.
    if (Locked)
        return;
    if (rbUploadFW.Checked() && ckbNotSearch.Checked())
        btUpdateRun.SetEnabled(!edFW_File.Text().empty());
    else
        btUpdateRun.SetEnabled(!edSerial.Text().empty() && !edFW_File.Text().empty());
}

void TfrmMain::rbUploadFWClick() {
    ckbNotSearch.SetEnabled(rbUploadFW.Checked());
    ckbWait.SetEnabled(rbUploadFW.Checked());
    RefreshRunButton();
}

void TfrmMain::rbAddModeClick() {
    ckbNotSearch.SetEnabled(rbUploadFW.Checked());
    RefreshRunButton();
    rbUploadFW.SetChecked(true);
}

void TfrmMain::ckbNotSearchClick() {
    RefreshRunButton();
}

void TfrmMain::edFW_FileChange() {
    RefreshRunButton();
}

void TfrmMain::btFW_FileClick() {
    std::string name = edFW_File.Text();
    if (!Settings.OpenFileDialog("Firmware files", "*.RFW", name))
        return;
    if (Platform.Files.FileExists(name))
        edFW_File.SetText(name);
    else
        Settings.ShowMessageBox("Error...", "Firware file \"" + name + "\" is not found.",
                                mb::IconStop);
}

void TfrmMain::btUpdateRunClick() {
    if (btUpdateRun.Caption() == "Run") {
        // A refused request changes nothing.
        if (!Session.LinkFree())
            return;
        memUpdate.Clear();
        pbUpdateProgress.SetPosition(0);
        FocusAfterSession = &btUpdateRun;
        if (!Session.Start(ckbNotSearch.Checked() ? ssStartUploadDirect : ssSendUpdate,
                           RequestInputs()))
            return;
        btUpdateRun.SetCaption("Stop");
    } else {
        Updater.CancelUpload();
        btUpdateRun.SetCaption("Run");
    }
}

void TfrmMain::btResetClick() {
    // Refused while a session or an upload holds the link.
    Session.Reset(RequestInputs());
}

void TfrmMain::ShowStatus(const std::string& text) {
    edUpdateSatus.SetText(text);
    memUpdate.Add(text);
}

void TfrmMain::ClearStatus() {
    edUpdateSatus.SetText("");
}

void TfrmMain::SetProgressRange(int max) {
    pbUpdateProgress.SetRange(0, max);
}

void TfrmMain::SetProgress(int position) {
    pbUpdateProgress.SetPosition(position);
}

int TfrmMain::ProgressMax() const {
    return pbUpdateProgress.Max();
}

} // namespace qvx
