#include "j2534/installer.h"

#include "j2534/catalogue.h"
#include "j2534/library_image.h"
#include "j2534/passthru.h"
#include "platform/userio.h"

namespace qvx {

const char* DriverInstallResultText(TDriverInstallResult result) {
    switch (result) {
    case irInstalled:
        return "installed";
    case irEmptyImage:
        return "empty image";
    case irNotALibrary:
        return "not a library";
    case irNoSystemFolder:
        return "no system folder";
    case irNotWritten:
        return "library not written";
    case irNotReplaced:
        return "library not replaced";
    case irCatalogueNotWritten:
        break;
    }
    return "catalogue entry not written";
}

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

TDriverInstallResult TDriverInstaller::ReplaceLibrary(const Bytes& image) {
    const std::string temporary = TemporaryPath(DllPath);
    std::unique_ptr<IFile> file = Files.Create(temporary);
    if (!file)
        return irNotWritten;
    bool written = true;
    size_t done = 0;
    while (written && done < image.size()) {
        const int64_t n = file->Write(image.data() + done, image.size() - done);
        // No progress counts as a failure; retrying it would never end.
        written = n > 0;
        if (written)
            done += static_cast<size_t>(n);
    }
    written = written && file->Flush();
    file.reset();
    if (written && Files.RenameReplacing(temporary, DllPath))
        return irInstalled;
    Files.RemoveFile(temporary);
    return written ? irNotReplaced : irNotWritten;
}

TDriverInstallResult TDriverInstaller::Install(const Bytes& image, const std::string& offered) {
    const TLibraryImageCheck check = CheckLibraryImage(image.data(), image.size());
    if (check != liLibrary) {
        ShowInstallError();
        return check == liEmpty ? irEmptyImage : irNotALibrary;
    }
    View.SetInstallProgress(0);
    // The path comes from the last version check; an installation before any
    // check still finds the system folder.
    if (DllPath.empty() && !Files.SystemFolder().empty())
        DllPath = Files.SystemFolder() + "\\" + MakerPassThruFile;
    TDriverInstallResult result = irNoSystemFolder;
    if (!DllPath.empty()) {
        result = ReplaceLibrary(image);
        if (result == irInstalled) {
            View.SetInstallProgress(View.InstallProgress() + 30);
            // A catalogue entry that could not be written leaves the library
            // unknown to every J2534 application: not a success.
            if (!WriteCatalogueEntry())
                result = irCatalogueNotWritten;
            CheckVersion(offered);
            View.MakerEntryWritten();
        }
    }
    if (result != irInstalled)
        ShowInstallError();
    CheckVersion(offered);
    return result;
}

void TDriverInstaller::ShowInstallError() {
    Settings.ShowMessageBox("Error...", "Installing of Passthru driver Error", mb::IconStop);
}

} // namespace qvx
