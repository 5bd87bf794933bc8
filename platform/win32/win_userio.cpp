#include "platform/win32/win_userio.h"

#include <commdlg.h>
#include <shellapi.h>

#include <cstring>
#include <vector>

namespace qvx {

namespace {

// Room for the chosen path; more than MAX_PATH, which deep folders exceed.
constexpr size_t FileNameChars = 4096;

// Another program may hold the clipboard for a moment.
bool OpenClipboardPatiently(HWND owner) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (OpenClipboard(owner))
            return true;
        Sleep(10);
    }
    return false;
}

} // namespace

std::string DialogFilter(const std::string& filter) {
    std::string result = filter;
    for (char& c : result)
        if (c == '|')
            c = '\0';
    result.push_back('\0');
    result.push_back('\0');
    return result;
}

int TWinUserIo::ShowBox(const std::string& text, const std::string& caption, unsigned flags,
                        TBoxOwner owner) {
    HWND parent = owner == TBoxOwner::MainWindow ? MainWindow.load() : nullptr;
    return MessageBoxA(parent, text.c_str(), caption.c_str(), flags);
}

bool TWinUserIo::OpenFileDialog(TOpenFileRequest& request) {
    std::string filter = DialogFilter(request.Filter);
    std::vector<char> fileName(FileNameChars, '\0');
    request.FileName.copy(fileName.data(), fileName.size() - 1);

    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = MainWindow.load();
    dialog.lpstrFilter = request.Filter.empty() ? nullptr : filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = fileName.data();
    dialog.nMaxFile = static_cast<DWORD>(fileName.size());
    dialog.lpstrTitle = request.Title.empty() ? nullptr : request.Title.c_str();
    dialog.Flags = OFN_EXPLORER;
    if (request.HideReadOnly)
        dialog.Flags |= OFN_HIDEREADONLY;
    if (request.FileMustExist)
        dialog.Flags |= OFN_FILEMUSTEXIST;
    if (request.EnableSizing)
        dialog.Flags |= OFN_ENABLESIZING;
    if (!GetOpenFileNameA(&dialog))
        return false;
    request.FileName = fileName.data();
    return true;
}

bool TWinUserIo::SetClipboardText(const std::string& text) {
    const size_t length = std::strlen(text.c_str());
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, length + 1);
    if (!memory)
        return false;
    void* target = GlobalLock(memory);
    if (!target) {
        GlobalFree(memory);
        return false;
    }
    std::memcpy(target, text.c_str(), length + 1);
    GlobalUnlock(memory);

    if (!OpenClipboardPatiently(MainWindow.load())) {
        GlobalFree(memory);
        return false;
    }
    bool placed = EmptyClipboard() && SetClipboardData(CF_TEXT, memory);
    CloseClipboard();
    // Once placed, the memory belongs to the clipboard.
    if (!placed)
        GlobalFree(memory);
    return placed;
}

bool TWinUserIo::ShellOpen(const std::string& target, const std::string& parameters,
                           const std::string& directory) {
    HINSTANCE result =
        ShellExecuteA(MainWindow.load(), nullptr, target.c_str(),
                      parameters.empty() ? nullptr : parameters.c_str(),
                      directory.empty() ? nullptr : directory.c_str(), SW_SHOWNORMAL);
    // Values above 32 mean success.
    return reinterpret_cast<INT_PTR>(result) > 32;
}

std::string TWinUserIo::AnsiToUtf8(const std::string& text) {
    if (text.empty())
        return text;
    const int size = static_cast<int>(text.size());
    const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    if (wide <= 0)
        return Cp1252ToUtf8(text);
    std::wstring utf16(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), size, &utf16[0], wide);
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return Cp1252ToUtf8(text);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), wide, &out[0], bytes, nullptr, nullptr);
    return out;
}

} // namespace qvx
