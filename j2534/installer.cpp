#include "j2534/installer.h"

#include "j2534/catalogue.h"
#include "j2534/passthru.h"
#include "platform/userio.h"

namespace qvx {

TDriverInstaller::TDriverInstaller(TSettingsStore& settings, IFileSystem& files, IDriverView& view)
    : Settings(settings), Files(files), View(view) {}

void TDriverInstaller::CheckVersion(const std::string& offered) {
    View.HideVersionMarks();
    const std::string folder = Files.SystemFolder();
    if (folder.empty()) {
        DllPath.clear();
        View.ShowInstalledVersion("Access Error");
        return;
    }
    DllPath = folder + "\\" + MakerPassThruFile;
    Bytes image;
    if (!Settings.LoadFileToString(DllPath, image)) {
        View.ShowInstalledVersion("Not installed");
        return;
    }
    const std::string installed = FindDllVersion(image.data(), image.size());
    View.ShowInstalledVersion(installed);
    if (!View.DriverOffered())
        return;
    const bool current = installed == offered;
    if (current)
        View.HideDriverHint();
    else
        View.ShowDriverHint("- Update is required ->");
    View.ShowVersionMarks(current);
}

// The maker's entry, each step moving the progress bar on: 10 for each of the
// four strings, then an even share of the rest for each protocol flag.
bool TDriverInstaller::WriteCatalogueEntry() {
    int flagStep = 0;
    const bool written = TPassThruCatalogue(Settings).WriteMakerEntry(
        Files.ProgramPath(), DllPath, [&](size_t step) {
            if (step < 4) {
                View.SetInstallProgress(View.InstallProgress() + 10);
                if (step == 3)
                    flagStep = (View.InstallProgressMax() - View.InstallProgress()) / 20;
            } else {
                View.SetInstallProgress(View.InstallProgress() + flagStep);
            }
        });
    View.SetInstallProgress(View.InstallProgressMax());
    return written;
}

bool TDriverInstaller::Install(const Bytes& image, const std::string& offered) {
    if (image.empty())
        return false;
    View.SetInstallProgress(0);
    // The path comes from the last version check; an installation before any
    // check still finds the system folder.
    if (DllPath.empty() && !Files.SystemFolder().empty())
        DllPath = Files.SystemFolder() + "\\" + MakerPassThruFile;
    bool installed = false;
    if (!DllPath.empty()) {
        Files.RemoveFile(DllPath);
        if (Settings.SaveStringToFile(DllPath, image, image.size())) {
            View.SetInstallProgress(View.InstallProgress() + 30);
            // A catalogue entry that could not be written leaves the library
            // unknown to every J2534 application: not a success.
            installed = WriteCatalogueEntry();
            CheckVersion(offered);
            View.MakerEntryWritten();
        }
    }
    if (!installed)
        ShowInstallError();
    CheckVersion(offered);
    return installed;
}

void TDriverInstaller::ShowInstallError() {
    Settings.ShowMessageBox("Error...", "Installing of Passthru driver Error", mb::IconStop);
}

} // namespace qvx
