#pragma once
// Reading real controls through the Win32 API only, for the window tests.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <utility>
#include <vector>

namespace qvx::probe {

// The common control classes, as the program's entry point registers them.
struct TCommonControls {
    TCommonControls() {
        INITCOMMONCONTROLSEX init{};
        init.dwSize = sizeof(init);
        init.dwICC = ICC_STANDARD_CLASSES | ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES |
                     ICC_PROGRESS_CLASS | ICC_BAR_CLASSES;
        InitCommonControlsEx(&init);
    }
};

inline void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

inline std::string Text(HWND window) {
    char text[4096] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

inline LONG Style(HWND window) {
    return GetWindowLongA(window, GWL_STYLE);
}

inline std::vector<std::string> TabCaptions(HWND tabs) {
    std::vector<std::string> captions;
    int count = static_cast<int>(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof(text);
        SendMessageA(tabs, TCM_GETITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
        captions.push_back(text);
    }
    return captions;
}

inline std::vector<std::string> ListColumns(HWND list) {
    std::vector<std::string> captions;
    for (int i = 0;; ++i) {
        char text[256] = {};
        LVCOLUMNA column{};
        column.mask = LVCF_TEXT;
        column.pszText = text;
        column.cchTextMax = sizeof(text);
        if (!SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(i),
                          reinterpret_cast<LPARAM>(&column)))
            break;
        captions.push_back(text);
    }
    return captions;
}

inline int ListCount(HWND list) {
    return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
}

inline std::string ListText(HWND list, int item, int subItem) {
    char text[256] = {};
    LVITEMA row{};
    row.iSubItem = subItem;
    row.pszText = text;
    row.cchTextMax = sizeof(text);
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&row));
    return text;
}

// The state picture index of a row (-1 without a picture).
inline int ListStateIndex(HWND list, int item) {
    UINT state = static_cast<UINT>(
        SendMessageA(list, LVM_GETITEMSTATE, static_cast<WPARAM>(item), LVIS_STATEIMAGEMASK));
    return static_cast<int>((state & LVIS_STATEIMAGEMASK) >> 12) - 1;
}

inline int ListSelected(HWND list) {
    return static_cast<int>(
        SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// The user picks a tab: the tab control's selection, then its notification.
inline void SelectTab(HWND tabs, int tab) {
    SendMessageA(tabs, TCM_SETCURSEL, static_cast<WPARAM>(tab), 0);
    NMHDR header{};
    header.hwndFrom = tabs;
    header.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(tabs));
    header.code = TCN_SELCHANGE;
    SendMessageA(GetParent(tabs), WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
}

// The user selects a row of a list view (the list view raises LVN_ITEMCHANGED).
inline void SelectRow(HWND list, int row) {
    LVITEMA state{};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&state));
}

inline void SendListNotify(HWND list, UINT code, int item, int subItem) {
    NMITEMACTIVATE note{};
    note.hdr.hwndFrom = list;
    note.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(list));
    note.hdr.code = code;
    note.iItem = item;
    note.iSubItem = subItem;
    SendMessageA(GetParent(list), WM_NOTIFY, note.hdr.idFrom, reinterpret_cast<LPARAM>(&note));
}

// The user picks an item of a drop-down list.
inline void SelectComboItem(HWND combo, int index) {
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageA(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
}

inline bool Checked(HWND button) {
    return SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

// The font the control draws with, as it was made.
inline LOGFONTA FontOf(HWND window) {
    LOGFONTA font{};
    HFONT handle = reinterpret_cast<HFONT>(SendMessageA(window, WM_GETFONT, 0, 0));
    GetObjectA(handle, sizeof(font), &font);
    return font;
}

// The selection of an edit field: first and one past the last character.
inline std::pair<int, int> Selection(HWND edit) {
    DWORD first = 0, end = 0;
    SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&first), reinterpret_cast<LPARAM>(&end));
    return {static_cast<int>(first), static_cast<int>(end)};
}

} // namespace qvx::probe
