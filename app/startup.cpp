// Start-up and shutdown of the main window.
#include "app/Unitmain.h"
#include "j2534/catalogue.h"
#include "platform/callconv.h"
#include "platform/text.h"

namespace qvx {

namespace {

const char* const FirmwareClass = "SOFTWARE\\Classes\\Quorvelix_Firmware";

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

} // namespace

void TfrmMain::FormCreate() {
    // 1. The updater and the device link exist with the window.
    // 2. The program's folder.
    const std::string program = Platform.Files.ProgramPath();
    Settings.AppDir = FolderOf(program);

    // 3-5. The version resource names the product.
    if (Settings.LoadVersionData()) {
        Settings.AppProductName = Settings.GetVersionString("ProductName");
        lbName.SetCaption(Settings.AppProductName + " " +
                          Settings.GetVersionString("InternalName"));
        lbVersion.SetCaption("Version " + Settings.GetVersionString("FileVersion"));
        Settings.AppTitle = lbName.Caption() + " " + lbVersion.Caption();
        SetCaption(Settings.AppTitle);
        lbCopy.SetCaption(Settings.GetVersionString("LegalCopyright"));
        lbRef.SetCaption(Settings.GetVersionString("Comments"));
        lbMail.SetCaption(Settings.GetVersionString("Support"));
        rbAddMode.SetCaption(rbAddMode.Caption() + " " + Settings.AppProductName);
        GroupBox_Driver.SetCaption(" " + Settings.AppProductName + GroupBox_Driver.Caption());
        Settings.ReleaseVersionData();
    }

    // 6. The ".rfw" association, rewritten at every start.
    Settings.WriteStrAt("SOFTWARE\\Classes\\.rfw", "", "Quorvelix_Firmware");
    Settings.WriteStrAt(std::string(FirmwareClass) + "\\DefaultIcon", "", Quoted(program) + ",0");
    Settings.WriteStrAt(std::string(FirmwareClass) + "\\shell\\open\\command", "",
                        Quoted(program) + " " + Quoted("%1"));

    // 7. The maker's catalogue entry learns where its configuration program
    // is, only when the entry exists.
    TPassThruCatalogue(Settings).NoteConfigApplication(program);

    // 8. The settings key.
    Settings.RegWriteStr("", "Path", program);

    // 9. Ports, and the controls an identified adapter shows.
    Ports = TPortLists();
    Link.RequestUsbRescan();
    RebuildPortList(true);
    tsTest.SetTabVisible(false);
    lbJ2534_Message.SetVisible(false);
    pbJ2534_Install.SetVisible(false);
    shJ2534_Install.SetVisible(false);
    shJ2534_Version_DLL.SetVisible(false);
    btJ2534_Install.SetEnabled(false);
    Session.Identity.Info.DriverVersion.clear();

    // 10. Sort order of the mode list.
    Modes.LoadSortOrder(static_cast<int32_t>(lvModes.Columns().size()));

    // 11. A saved position is used only when both halves exist.
    HasSavedPosition = Settings.RegValueExists("WinTop") && Settings.RegValueExists("WinLeft");
    Centered = !HasSavedPosition;

    // 12. A 1 ms system timer resolution for the whole run.
    WinMm = Platform.Libraries.Load("winmm.dll");
    if (WinMm) {
        auto begin = ResolveAs<TTimePeriodFn>(Platform.Libraries, WinMm, "timeBeginPeriod");
        TimeEndPeriod = ResolveAs<TTimePeriodFn>(Platform.Libraries, WinMm, "timeEndPeriod");
        if (begin)
            begin(1);
    }

    // 13. A firmware file given on the command line opens the Update page.
    // A relative name is made absolute now: "Run" of a linked program and
    // the pass-thru page move the current folder later.
    if (!CommandLine.empty()) {
        const std::string file = AbsolutePath(Platform.Files.GetCurrentDir(), CommandLine[0]);
        if (Platform.Files.FileExists(file)) {
            edFW_File.SetText(file);
            pcOptions.SetActivePageIndex(1);
        }
    }
}

void TfrmMain::FormShow() {
    if (!HasSavedPosition)
        return;
    const int top = Settings.RegReadInt("WinTop", Top());
    const int left = Settings.RegReadInt("WinLeft", Left());
    SetBounds(left, top, Width(), Height());
}

bool TfrmMain::FormCloseQuery() {
    // Closing mid-upload would leave the adapter in its boot loader with a
    // partial image: the user decides, and "Yes" stops it as "Stop" does.
    if (!Updater.IsUploading())
        return true;
    if (Settings.ShowMessageBox("Close...", "A firmware update is running. Stop it and close?",
                                mb::YesNo | mb::IconQuestion) != idbutton::Yes)
        return false;
    Updater.CancelUpload();
    btUpdateRun.SetCaption("Run");
    return true;
}

void TfrmMain::FormClose() {
    Probe.Release();
    Modes.SaveSortOrder();
    Settings.RegWriteInt("WinTop", Top());
    Settings.RegWriteInt("WinLeft", Left());
    if (WinMm) {
        if (TimeEndPeriod)
            TimeEndPeriod(1);
        Platform.Libraries.Free(WinMm);
        WinMm = nullptr;
        TimeEndPeriod = nullptr;
    }
}

} // namespace qvx
