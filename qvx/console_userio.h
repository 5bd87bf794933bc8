#pragma once
// The console's boxes: every text a box would show is written to standard
// error as one line and kept, so that the command can name it in its result.
// Nothing is asked: a question is answered with its default (Cancel, or OK).
#include "platform/userio.h"
#include "qvx/console.h"

#include <mutex>
#include <string>
#include <vector>

namespace qvx {

class TConsoleUserIo : public IUserIo {
public:
    explicit TConsoleUserIo(IConsole& console) : Console(console) {}

    int ShowBox(const std::string& text, const std::string& caption, unsigned flags,
                TBoxOwner owner) override;
    bool OpenFileDialog(TOpenFileRequest&) override { return false; }
    bool SetClipboardText(const std::string&) override { return false; }
    bool ShellOpen(const std::string&, const std::string&, const std::string&) override {
        return false;
    }

    // The texts shown since the last Take, oldest first.
    std::vector<std::string> Take();
    // Boxes are kept but not written (a machine-readable result carries them).
    bool Quiet = false;

private:
    IConsole& Console;
    std::mutex Lock; // boxes may come from the link's threads
    std::vector<std::string> Texts;
};

} // namespace qvx
