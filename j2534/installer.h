#pragma once
// The adapter's own pass-thru driver: the check of the version installed in
// the system folder against the version the adapter offers, and the
// installation of the image the adapter carries, with the maker's catalogue
// entry. The image itself is fetched by the caller. GUI thread only.
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/settings.h"

#include <string>

namespace qvx {

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
    // catalogue entry, the progress bar following; a failure is reported in
    // a box. Ends with a version check. An empty image changes nothing.
    // True when the library and its entry were written.
    bool Install(const Bytes& image, const std::string& offered);
    // The installation's error box: "Installing of Passthru driver Error".
    void ShowInstallError();

private:
    bool WriteCatalogueEntry();

    TSettingsStore& Settings;
    IFileSystem& Files;
    IDriverView& View;
    std::string DllPath;
};

} // namespace qvx
