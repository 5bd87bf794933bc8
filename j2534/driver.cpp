// The adapter's own pass-thru driver: the check of the installed version
// and the installation from the image the adapter carries.
#include "app/Unitmain.h"
#include "j2534/catalogue.h"

namespace qvx {

namespace {

constexpr int J2534Page = 2;

// The maker's entry, each step moving the progress bar on: 10 for each of
// the four strings, then an even share of the rest for each protocol flag.
bool WriteMakerEntry(TfrmMain& f) {
    TProgressBar& progress = f.pbJ2534_Install;
    int flagStep = 0;
    const bool written =
        TPassThruCatalogue(f.Settings)
            .WriteMakerEntry(f.Platform.Files.ProgramPath(), f.DriverDllPath, [&](size_t step) {
                if (step < 4) {
                    progress.SetPosition(progress.Position() + 10);
                    if (step == 3)
                        flagStep = (progress.Max() - progress.Position()) / 20;
                } else {
                    progress.SetPosition(progress.Position() + flagStep);
                }
            });
    progress.SetPosition(progress.Max());
    return written;
}

} // namespace

void TfrmMain::pcOptionsChange() {
    if (pcOptions.ActivePageIndex() != J2534Page)
        return;
    if (!AdapterInfo().DriverVersion.empty()) {
        btJ2534_RefreshClick();
        pbJ2534_Install.SetPosition(0);
        btJ2534_Version_CheckClick();
    } else if (!edVersion.Text().empty()) {
        lbJ2534_Message.SetCaption("  Update Firmware !!!");
        lbJ2534_Message.SetVisible(true);
    }
}

void TfrmMain::btJ2534_Version_CheckClick() {
    shJ2534_Install.SetVisible(false);
    shJ2534_Version_DLL.SetVisible(false);
    const std::string folder = Platform.Files.SystemFolder();
    if (folder.empty()) {
        DriverDllPath.clear();
        edJ2534_Version_DLL.SetText("Access Error");
        return;
    }
    DriverDllPath = folder + "\\" + MakerPassThruFile;
    Bytes image;
    if (!Settings.LoadFileToString(DriverDllPath, image)) {
        edJ2534_Version_DLL.SetText("Not installed");
        return;
    }
    const std::string installed = FindDllVersion(image.data(), image.size());
    edJ2534_Version_DLL.SetText(installed);
    if (!btJ2534_Install.Enabled())
        return;
    shJ2534_Install.SetBrushColor(clGreen);
    if (installed != AdapterInfo().DriverVersion) {
        shJ2534_Version_DLL.SetBrushColor(clRed);
        lbJ2534_Message.SetCaption("- Update is required ->");
        lbJ2534_Message.SetVisible(true);
    } else {
        shJ2534_Version_DLL.SetBrushColor(clGreen);
        lbJ2534_Message.SetVisible(false);
    }
    shJ2534_Install.SetVisible(true);
    shJ2534_Version_DLL.SetVisible(true);
}

void TfrmMain::btJ2534_InstallClick() {
    if (AdapterInfo().DriverVersion.empty())
        return;
    // The link belongs to a running session or upload: never take it away.
    if (!Session.LinkFree())
        return;
    // The port of the last session; the selected one when there was none.
    if (Link.PortName().empty()) {
        if (const TPortEntry* port = Ports.At(cbCOM.ItemIndex()))
            Link.SetPortName(port->Name);
    }
    Bytes image;
    if (!Session.Exchange.FetchDriverImage(image)) {
        Session.ShowNotFound();
        return;
    }
    if (image.empty())
        return;

    pbJ2534_Install.SetPosition(0);
    // The path comes from the last version check; a press before any check
    // still finds the system folder.
    if (DriverDllPath.empty() && !Platform.Files.SystemFolder().empty())
        DriverDllPath = Platform.Files.SystemFolder() + "\\" + MakerPassThruFile;
    bool installed = false;
    if (!DriverDllPath.empty()) {
        Platform.Files.RemoveFile(DriverDllPath);
        if (Settings.SaveStringToFile(DriverDllPath, image, image.size())) {
            pbJ2534_Install.SetPosition(pbJ2534_Install.Position() + 30);
            // A catalogue entry that could not be written leaves the
            // library unknown to every J2534 application: not a success.
            installed = WriteMakerEntry(*this);
            btJ2534_Version_CheckClick();
            btJ2534_RefreshClick();
        }
    }
    if (!installed)
        Settings.ShowMessageBox("Error...", "Installing of Passthru driver Error", mb::IconStop);
    btJ2534_Version_CheckClick();
}

} // namespace qvx
