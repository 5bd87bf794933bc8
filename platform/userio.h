#pragma once
// Seam for everything that asks or shows the user something outside the window's
// own controls: modal message boxes, the open-file dialog, the clipboard and the
// system shell. Test implementations answer without a person.
#include "platform/text.h"

#include <string>

namespace qvx {

// Message box flags and results, with the system's values.
namespace mb {
constexpr unsigned Ok = 0x00;
constexpr unsigned YesNoCancel = 0x03;
constexpr unsigned YesNo = 0x04;
constexpr unsigned IconStop = 0x10;
constexpr unsigned IconQuestion = 0x20;
constexpr unsigned IconInformation = 0x40;
} // namespace mb
namespace idbutton {
constexpr int Ok = 1;
constexpr int Cancel = 2;
constexpr int Yes = 6;
constexpr int No = 7;
} // namespace idbutton

enum class TBoxOwner {
    MainWindow, // modal to the main window
    None,       // no owner window (background threads)
};

struct TOpenFileRequest {
    std::string Title;
    std::string Filter; // "description|mask|description|mask..."
    std::string FileName;
    bool HideReadOnly = true;
    bool FileMustExist = true;
    bool EnableSizing = true;
};

class IUserIo {
public:
    virtual ~IUserIo() = default;
    // Modal; returns the button pressed (idbutton::Ok...). May be called from
    // any thread.
    virtual int ShowBox(const std::string& text, const std::string& caption, unsigned flags,
                        TBoxOwner owner) = 0;
    // On OK the chosen path is stored in request.FileName and true returned;
    // on Cancel request.FileName is unchanged and false returned.
    virtual bool OpenFileDialog(TOpenFileRequest& request) = 0;
    virtual bool SetClipboardText(const std::string& text) = 0;
    // The shell's default verb on target, in a normal window.
    virtual bool ShellOpen(const std::string& target, const std::string& parameters,
                           const std::string& directory) = 0;
    // Text of the system's ANSI code page as UTF-8 (for links handed to the
    // shell). Without a system to ask: Windows-1252.
    virtual std::string AnsiToUtf8(const std::string& text) { return Cp1252ToUtf8(text); }
};

} // namespace qvx
