// Programs linked to a mode number, and the order mail for a mode that the
// adapter offers but does not run yet.
#include "app/Unitmain.h"
#include "platform/text.h"

#include <cstdio>

namespace qvx {

void TfrmMain::btModeFileClick() {
    std::string name = edModeRun.Text();
    if (Settings.OpenFileDialog("Executable files", "*.exe;*.bat;*.cmd", name)) {
        if (Platform.Files.FileExists(name)) {
            edModeRun.SetText(name);
            if (SelectedModeItem && !SelectedModeItem->SubItems.empty())
                Settings.RegWriteStr("Run", SelectedModeItem->SubItems[0], name);
        } else {
            Settings.ShowMessageBox("Error...", "Executable file \"" + name + "\" is not found.",
                                    mb::IconStop);
        }
    }
    if (!edModeRun.Text().empty()) {
        btModeFileDel.SetEnabled(true);
        btModeRun.SetEnabled(true);
    }
}

void TfrmMain::btModeFileDelClick() {
    if (Settings.ShowMessageBox("Unlink...", "Do you really want to unlink software?",
                                mb::YesNoCancel | mb::IconQuestion) != idbutton::Yes)
        return;
    edModeRun.SetText("");
    if (SelectedModeItem && !SelectedModeItem->SubItems.empty())
        Settings.RegWriteStr("Run", SelectedModeItem->SubItems[0], "");
    btModeFileDel.SetEnabled(false);
    btModeRun.SetEnabled(false);
}

void TfrmMain::btModeRunClick() {
    const std::string program = edModeRun.Text();
    Platform.UserIo.ShellOpen(program, "", FolderOf(program));
    Platform.Files.SetCurrentDir(Settings.AppDir);
}

std::string TfrmMain::OrderMailText() const {
    const TLocalDate date = Today();
    std::string number, description;
    if (SelectedModeItem && SelectedModeItem->SubItems.size() > 1) {
        number = SelectedModeItem->SubItems[0];
        description = SelectedModeItem->SubItems[1];
    }
    char dateText[16];
    std::snprintf(dateText, sizeof dateText, "%04u%02u%02u", date.Year, date.Month, date.Day);
    std::string text = "mailto:" + lbMail.Caption() + "?subject=Order%20for%20Upgrade%20" +
                       Settings.AppProductName + "(" + edSerial.Text() + ")%20-%20" + dateText;
    text += "&body=Required Mode:%0A" + number + "%20-%20" + description + "%0A%0A" +
            std::string(40, '-') + "%0A";
    for (const std::string& line : memLog.Lines()) {
        text += line + "%0A";
        if (line.compare(0, 3, "FW:") == 0)
            break;
    }
    return text;
}

void TfrmMain::SendOrderMail() {
    Platform.UserIo.ShellOpen(OrderMailText(), "", "");
}

} // namespace qvx
