#include "platform/memory/scripted_userio.h"

namespace qvx {

void TScriptedUserIo::QueueBoxAnswer(int button) {
    std::lock_guard<std::mutex> guard(Lock);
    BoxAnswers.push_back(button);
}

void TScriptedUserIo::QueueDialogAnswer(const std::string& path) {
    std::lock_guard<std::mutex> guard(Lock);
    DialogAnswers.emplace_back(true, path);
}

void TScriptedUserIo::QueueDialogCancel() {
    std::lock_guard<std::mutex> guard(Lock);
    DialogAnswers.emplace_back(false, std::string());
}

int TScriptedUserIo::ShowBox(const std::string& text, const std::string& caption, unsigned flags,
                             TBoxOwner owner) {
    std::lock_guard<std::mutex> guard(Lock);
    BoxLog.push_back(Box{text, caption, flags, owner});
    if (!BoxAnswers.empty()) {
        int answer = BoxAnswers.front();
        BoxAnswers.pop_front();
        return answer;
    }
    switch (flags & 0x0F) {
    case mb::YesNoCancel:
        return idbutton::Cancel;
    case mb::YesNo:
        return idbutton::No;
    default:
        return idbutton::Ok;
    }
}

bool TScriptedUserIo::OpenFileDialog(TOpenFileRequest& request) {
    std::lock_guard<std::mutex> guard(Lock);
    DialogLog.push_back(request);
    if (DialogAnswers.empty())
        return false;
    auto answer = DialogAnswers.front();
    DialogAnswers.pop_front();
    if (!answer.first)
        return false;
    request.FileName = answer.second;
    return true;
}

bool TScriptedUserIo::SetClipboardText(const std::string& text) {
    std::lock_guard<std::mutex> guard(Lock);
    ClipboardText = text;
    return true;
}

bool TScriptedUserIo::ShellOpen(const std::string& target, const std::string& parameters,
                                const std::string& directory) {
    std::lock_guard<std::mutex> guard(Lock);
    ShellLog.push_back(Shell{target, parameters, directory});
    return true;
}

std::vector<TScriptedUserIo::Box> TScriptedUserIo::Boxes() const {
    std::lock_guard<std::mutex> guard(Lock);
    return BoxLog;
}

std::vector<TOpenFileRequest> TScriptedUserIo::Dialogs() const {
    std::lock_guard<std::mutex> guard(Lock);
    return DialogLog;
}

std::vector<TScriptedUserIo::Shell> TScriptedUserIo::ShellCalls() const {
    std::lock_guard<std::mutex> guard(Lock);
    return ShellLog;
}

std::string TScriptedUserIo::Clipboard() const {
    std::lock_guard<std::mutex> guard(Lock);
    return ClipboardText;
}

void TScriptedUserIo::Clear() {
    std::lock_guard<std::mutex> guard(Lock);
    BoxAnswers.clear();
    DialogAnswers.clear();
    BoxLog.clear();
    DialogLog.clear();
    ShellLog.clear();
    ClipboardText.clear();
}

} // namespace qvx
