#pragma once
// The adapter's own pass-thru driver: the check of the version installed in
// the system folder against the version the adapter offers, and the
// installation of the image the adapter carries, with the maker's catalogue
// entry. The image itself is fetched by the caller. GUI thread only.
//
// The installation changes the system only with a Windows library for 32-bit
// x86 (CheckLibraryImage), and never leaves it half done: the image goes into
// a temporary file beside the installed library, is flushed, and then
// replaces the library in one step; the catalogue entry is written only once
// the new library is in place. Any failure before that removes the temporary
// file and leaves the old library and its entry as they were.
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/settings.h"

#include <string>

namespace qvx {

// How an installation ended.
enum TDriverInstallResult {
    irInstalled,           // the library is in place and its catalogue entry written
    irEmptyImage,          // no image bytes: nothing changed
    irNotALibrary,         // not a library for 32-bit x86: nothing changed
    irNoSystemFolder,      // nowhere to install: nothing changed
    irNotWritten,          // the temporary file not created, written or flushed: nothing changed
    irNotReplaced,         // the installed library not replaced (in use): nothing changed
    irCatalogueNotWritten, // the library is in place, its catalogue entry is not whole
};

// "installed", "empty image", "not a library", "no system folder",
// "library not written", "library not replaced", "catalogue entry not written".
const char* DriverInstallResultText(TDriverInstallResult result);

// What the driver group shows.
class IDriverView {
public:
    virtual ~IDriverView() = default;
    // Whether an adapter has offered its driver (Install Driver is enabled).
    virtual bool DriverOffered() = 0;
    // The installed version text, or a status word.
    virtual void ShowInstalledVersion(const std::string& text) = 0;
    // The marks of the offered driver and of the installed version.
    virtual void HideVersionMarks() = 0;
    // Both marks shown: the offered driver's green, the installed version's
    // green when it is the offered one, red when not.
    virtual void ShowVersionMarks(bool current) = 0;
    // The hint beside the marks.
    virtual void ShowDriverHint(const std::string& text) = 0;
    virtual void HideDriverHint() = 0;
    // The installation's progress bar.
    virtual int InstallProgress() = 0;
    virtual int InstallProgressMax() = 0;
    virtual void SetInstallProgress(int position) = 0;
    // The library is written and its catalogue entry tried: the device list
    // is read again.
    virtual void MakerEntryWritten() = 0;
};

class TDriverInstaller {
public:
    TDriverInstaller(TSettingsStore& settings, IFileSystem& files, IDriverView& view);
    TDriverInstaller(const TDriverInstaller&) = delete;
    TDriverInstaller& operator=(const TDriverInstaller&) = delete;

    // Full path of the installed library: the system folder + "\" + the
    // maker's file; "" before a check and when the system folder is unknown.
    const std::string& DriverDllPath() const { return DllPath; }

    // Reads the installed library and shows its version; when a driver is
    // offered, marks whether it is the offered version (exact comparison).
    void CheckVersion(const std::string& offered);
    // Replaces the installed library with image and writes the maker's
    // catalogue entry, the progress bar following; any result but irInstalled
    // is reported in the installation's error box. An image that is empty or
    // not a library changes nothing, not even the progress bar; any other
    // installation ends with a version check.
    TDriverInstallResult Install(const Bytes& image, const std::string& offered);
    // The installation's error box: "Installing of Passthru driver Error".
    void ShowInstallError();

    // Name of the temporary file beside the installed library.
    static std::string TemporaryPath(const std::string& dllPath) { return dllPath + ".new"; }

private:
    bool WriteCatalogueEntry();
    // The image into the temporary file, flushed, then over the library.
    TDriverInstallResult ReplaceLibrary(const Bytes& image);

    TSettingsStore& Settings;
    IFileSystem& Files;
    IDriverView& View;
    std::string DllPath;
};

} // namespace qvx
