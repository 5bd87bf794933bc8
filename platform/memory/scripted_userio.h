#pragma once
// User interaction for the native tests: every box, dialog, clipboard write
// and shell call is recorded; answers come from queues the test fills, and
// nothing ever blocks.
#include "platform/userio.h"

#include <deque>
#include <mutex>
#include <vector>

namespace qvx {

class TScriptedUserIo : public IUserIo {
public:
    struct Box {
        std::string Text;
        std::string Caption;
        unsigned Flags = 0;
        TBoxOwner Owner = TBoxOwner::MainWindow;
    };
    struct Shell {
        std::string Target;
        std::string Parameters;
        std::string Directory;
    };

    // Next box answers this button; without a queued answer a box answers
    // Cancel when it has one (Yes/No/Cancel), No to a Yes/No question and OK
    // otherwise.
    void QueueBoxAnswer(int button);
    // Next dialog: a path means OK with that path; no queued answer means Cancel.
    void QueueDialogAnswer(const std::string& path);
    void QueueDialogCancel();

    int ShowBox(const std::string& text, const std::string& caption, unsigned flags,
                TBoxOwner owner) override;
    bool OpenFileDialog(TOpenFileRequest& request) override;
    bool SetClipboardText(const std::string& text) override;
    bool ShellOpen(const std::string& target, const std::string& parameters,
                   const std::string& directory) override;

    std::vector<Box> Boxes() const;
    std::vector<TOpenFileRequest> Dialogs() const;
    std::vector<Shell> ShellCalls() const;
    std::string Clipboard() const;
    void Clear();

private:
    mutable std::mutex Lock;
    std::deque<int> BoxAnswers;
    std::deque<std::pair<bool, std::string>> DialogAnswers;
    std::vector<Box> BoxLog;
    std::vector<TOpenFileRequest> DialogLog;
    std::vector<Shell> ShellLog;
    std::string ClipboardText;
};

} // namespace qvx
