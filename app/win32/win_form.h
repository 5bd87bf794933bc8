#pragma once
// The real window of a TForm: one top-level window and one Win32 control per
// control object, kept in step with the objects. The objects stay the source
// of truth: property changes arrive through IControlPeer and are copied into
// the real controls at once; the user's actions on the real controls are
// handed to the objects' User* methods, which decide what happens.
#include "app/controls/controls.h"

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qvx {

// The application's standard error display: a modal stop box owned by owner.
void ShowErrorBox(HWND owner, const std::string& title, const std::string& message);

class TWin32Form : public IControlPeer {
public:
    // Creates the window and every control (hidden until Show). The image
    // lists are the form's pictures that list views name by ImageListName.
    // The form must outlive the binding (destroy the binding first).
    explicit TWin32Form(TForm& form, std::vector<const TImageList*> imageLists = {});
    ~TWin32Form() override;
    TWin32Form(const TWin32Form&) = delete;
    TWin32Form& operator=(const TWin32Form&) = delete;

    // nullptr once the window has been destroyed.
    HWND Handle() const { return Window; }
    // The real control of an object; nullptr for an object of another form.
    HWND HandleOf(const TControl& control) const;
    HIMAGELIST ImageListHandle(const std::string& name) const;

    // The first time: the form's OnCreate, the window centred when the form
    // still asks for it, the form's OnShow, and the window moved onto the
    // work area of its nearest monitor (a saved place may lie on a monitor
    // that is gone). Then the window is shown. When the user closes the
    // window the form's OnCloseQuery decides, and OnClose runs before the
    // window is destroyed.
    void Show(int cmdShow = SW_SHOWNORMAL);

    // The application's standard error display for an exception that escaped
    // an event handler: OnError when set, else ShowErrorBox with the window's
    // caption (the application title once start-up has set it).
    void ShowError(const std::string& message);
    std::function<void(const std::string& message)> OnError;
    // Ends the message loop (PostQuitMessage) when the window is destroyed.
    bool QuitOnDestroy = false;

    void PropertyChanged(TControl& control, TProp prop) override;

private:
    // One row of a list view as the real control holds it.
    struct TShownRow {
        std::string Caption;
        std::vector<std::string> SubItems;
        int StateIndex = -1;
    };
    // A list view as the real control holds it: what a change of the object's
    // items is compared with, so that only the rows that differ are sent.
    struct TShownList {
        std::vector<TListColumn> Columns; // as created
        std::vector<TShownRow> Rows;
    };
    struct TEntry {
        TControl* Control = nullptr;
        HWND Window = nullptr;
        HFONT Font = nullptr;
        bool MouseInside = false;
        std::string ShownText;      // memo text as the real control holds it
        TShownList ShownList;       // list view
        std::vector<int> TabToPage; // page control: page index of each tab
        std::vector<std::string> TabCaptions;
    };

    // What the binding does for one kind of control: the real control it
    // creates and the kind's own part of each step (the table is in
    // win_form.cpp, one entry a kind).
    struct TKind;
    static const TKind& KindOf(const TControl& control);

    void Release();
    void CreateControl(TControl& control, HWND parentWindow);
    HWND CreateReal(TControl& control, HWND parent);
    void ApplyAll(TEntry& entry);
    void ApplyBounds(TEntry& entry);
    void ApplyVisible(TEntry& entry);
    void ApplyFont(TEntry& entry);
    void ApplyHint(TEntry& entry);

    // The kinds' own steps.
    void PrepareEdit(TEntry& entry);
    void PrepareList(TEntry& entry);
    void ApplyText(TEntry& entry);
    void ApplyFrameCaption(TEntry& entry);
    void ApplyOwnerTabs(TEntry& entry);
    template <class TBox> void ApplyChecked(TEntry& entry);
    void ApplyLines(TEntry& entry);
    void ApplyMemoSelection(TEntry& entry);
    void ApplyComboItems(TEntry& entry);
    void ApplyComboIndex(TEntry& entry);
    void ApplyListItems(TEntry& entry);
    void ApplyListRows(TEntry& entry);
    static bool SameRow(const TShownRow& row, const TListItem& item);
    static TShownRow InsertRow(HWND list, size_t index, const TListItem& item);
    static void UpdateRow(HWND list, size_t index, TShownRow& row, const TListItem& item);
    void ApplyListIndex(TEntry& entry);
    void ApplyListSelection(TEntry& entry);
    void ApplyListScroll(TEntry& entry);
    void ApplyTabs(TEntry& entry);
    void ApplyProgress(TEntry& entry);
    void PlaceMoved(TEntry& entry);
    void PlaceForm(TEntry& entry);
    void PlaceCombo(TEntry& entry);
    void PlacePages(TEntry& entry);
    void PlaceList(TEntry& entry);
    void PlaceSheets(TEntry& pageControl);
    void ClickCommand(TEntry& entry, unsigned code);
    void CheckCommand(TEntry& entry, unsigned code);
    void LabelCommand(TEntry& entry, unsigned code);
    void EditCommand(TEntry& entry, unsigned code);
    void ComboCommand(TEntry& entry, unsigned code);
    LRESULT PagesNotify(TEntry& entry, const NMHDR& header, bool& handled);
    LRESULT ListNotify(TEntry& entry, const NMHDR& header, bool& handled);
    LRESULT ListMessage(TEntry& entry, HWND window, UINT msg, WPARAM wParam, LPARAM lParam,
                        bool& handled);
    void PaintFrame(TEntry& entry);
    void CentreOnScreen();
    void KeepOnNearestMonitor();
    HFONT FontFor(const TFont& font);

    TEntry* EntryOf(HWND window);
    TEntry* EntryOf(const TControl& control);
    const TEntry* EntryOf(const TControl& control) const;
    void Guard(const std::function<void()>& action);

    // Messages of the form and the containers, and of subclassed controls.
    LRESULT ContainerMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    LRESULT ControlMessage(TEntry& entry, HWND window, UINT msg, WPARAM wParam, LPARAM lParam,
                           bool& handled);
    void Command(HWND control, unsigned code);
    LRESULT Notify(const NMHDR& header, bool& handled);
    static LRESULT CALLBACK ContainerProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK SubclassProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR id, DWORD_PTR data);
    static LRESULT CALLBACK PaintedProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

    TForm& Form;
    HWND Window = nullptr;
    HWND Tooltip = nullptr;
    HFONT BaseFont = nullptr;
    int BaseFontPoints = 8;
    std::map<HWND, std::unique_ptr<TEntry>> ByWindow;
    std::map<const TControl*, TEntry*> ByControl;
    std::map<std::string, HIMAGELIST> ImageLists;
    std::vector<std::pair<TFont, HFONT>> Fonts;
    int Updating = 0; // > 0 while the binding itself changes a real control
    bool Shown = false;
};

} // namespace qvx
