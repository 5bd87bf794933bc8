#pragma once
// Message boxes, the open-file dialog, the clipboard and the shell, owned by
// the main window once it is known.
#include "platform/userio.h"

#include <windows.h>

#include <atomic>

namespace qvx {

class TWinUserIo : public IUserIo {
public:
    // The window that owns boxes and dialogs (TBoxOwner::MainWindow); until
    // it is set they have no owner.
    void SetMainWindow(HWND window) { MainWindow = window; }
    HWND GetMainWindow() const { return MainWindow; }

    int ShowBox(const std::string& text, const std::string& caption, unsigned flags,
                TBoxOwner owner) override;
    bool OpenFileDialog(TOpenFileRequest& request) override;
    // CF_TEXT; text after a NUL byte cannot travel that way and is dropped.
    bool SetClipboardText(const std::string& text) override;
    bool ShellOpen(const std::string& target, const std::string& parameters,
                   const std::string& directory) override;
    // Through UTF-16, in the process's ANSI code page.
    std::string AnsiToUtf8(const std::string& text) override;

private:
    std::atomic<HWND> MainWindow{nullptr};
};

// "Text files|*.txt|All files|*.*" -> the dialog's form: the same parts, each
// ended by a NUL, the whole list ended by one more NUL.
std::string DialogFilter(const std::string& filter);

} // namespace qvx
