#include "app/win32/win_form.h"

#include "app/win32/win_pictures.h"

#include <windowsx.h>

#include <algorithm>
#include <array>
#include <exception>
#include <stdexcept>

namespace qvx {

namespace {

const char* const ContainerClass = "QvxContainer";
const char* const PaintedClass = "QvxPainted";
// A fixed single border with system menu and minimise box; a sizeable frame
// and the maximise box only when the form asks for them.
DWORD FormStyle(const TForm& form) {
    return WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN |
           (form.Sizeable ? WS_THICKFRAME : 0) | (form.MaximizeBox ? WS_MAXIMIZEBOX : 0);
}
constexpr DWORD FormExStyle = WS_EX_CONTROLPARENT;
constexpr int ComboListHeight = 180; // the drop-down part below a combo's edit field
constexpr int FirstControlId = 1000;

// Raises the binding's Updating count for one scope, so that no way out of
// it (an early return, an exception) leaves the count raised.
class TUpdatingScope {
public:
    explicit TUpdatingScope(int& count) : Count(count) { ++Count; }
    ~TUpdatingScope() { --Count; }
    TUpdatingScope(const TUpdatingScope&) = delete;
    TUpdatingScope& operator=(const TUpdatingScope&) = delete;

private:
    int& Count;
};

bool Overlap(const TBounds& a, const TBounds& b) {
    return a.Left < b.Left + b.Width && b.Left < a.Left + a.Width && a.Top < b.Top + b.Height &&
           b.Top < a.Top + a.Height;
}

COLORREF TextColor(const TFont& font) {
    return ToColorRef(font.Color, GetSysColor(COLOR_WINDOWTEXT));
}

std::string WindowText(HWND window) {
    int length = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    length = GetWindowTextA(window, &text[0], length + 1);
    text.resize(static_cast<size_t>(std::max(length, 0)));
    return text;
}

// Texts are byte strings and may hold NUL bytes, which would end a window
// text early and hide everything after them: they show as spaces.
std::string Displayable(std::string text) {
    std::replace(text.begin(), text.end(), '\0', ' ');
    return text;
}

void SetText(HWND window, const std::string& text) {
    SetWindowTextA(window, Displayable(text).c_str());
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i)
            text += "\r\n";
        text += lines[i];
    }
    return Displayable(std::move(text));
}

void SetRowText(HWND list, size_t row, size_t column, const std::string& text) {
    std::string shown = Displayable(text);
    LVITEMA item{};
    item.iSubItem = static_cast<int>(column);
    item.pszText = &shown[0];
    SendMessageA(list, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
}

UINT StateImageBits(int stateIndex) {
    return stateIndex >= 0 ? INDEXTOSTATEIMAGEMASK(static_cast<UINT>(stateIndex) + 1) : 0;
}

// A shown control hidden for a scope while the program changes it, and
// shown again afterwards, neither step drawing anything; the control is
// drawn whole with the next paint and keeps the keyboard focus. A shown
// list view or multi-line edit scrolls, sets its scroll bar and draws at
// once for every change, which on some systems costs far more than the
// change itself (under Wine a selection that scrolls took 20 ms, a log of
// forty lines as much); hidden, a change costs what it computes.
class TQuietScope {
public:
    explicit TQuietScope(HWND window) : Window(IsWindowVisible(window) ? window : nullptr) {
        if (!Window)
            return;
        Focused = GetFocus() == Window;
        SetWindowPos(Window, nullptr, 0, 0, 0, 0, Quiet | SWP_HIDEWINDOW);
    }
    ~TQuietScope() {
        if (!Window)
            return;
        SetWindowPos(Window, nullptr, 0, 0, 0, 0, Quiet | SWP_SHOWWINDOW);
        RedrawWindow(Window, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
        if (Focused && GetFocus() != Window)
            SetFocus(Window);
    }
    TQuietScope(const TQuietScope&) = delete;
    TQuietScope& operator=(const TQuietScope&) = delete;

private:
    static constexpr UINT Quiet =
        SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW;
    HWND Window;
    bool Focused = false;
};

// The window is shown as far as its own style goes (its parents aside).
bool ShownByStyle(HWND window) {
    return (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

// A list view's drawing off for a scope. Even hidden, the list sets its
// scroll bar for every row inserted; with drawing off it does so once, when
// drawing is turned on again. Only for a list that is shown by its own
// style (or only quietly hidden): turning drawing on shows the window.
class TListDrawingOff {
public:
    TListDrawingOff(HWND window, bool shownByStyle) : Window(shownByStyle ? window : nullptr) {
        if (Window)
            SendMessageA(Window, WM_SETREDRAW, FALSE, 0);
    }
    ~TListDrawingOff() {
        if (Window) {
            SendMessageA(Window, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(Window, nullptr, TRUE);
        }
    }
    TListDrawingOff(const TListDrawingOff&) = delete;
    TListDrawingOff& operator=(const TListDrawingOff&) = delete;

private:
    HWND Window;
};

} // namespace

// ---- the kinds of control ----

struct TWin32Form::TKind {
    // The real control: its window class (none: the binding's container
    // class, which keeps the binding; the painted class keeps the object)
    // and its styles beside WS_CHILD | WS_CLIPSIBLINGS.
    const char* WindowClass = nullptr;
    DWORD (*Style)(const TControl& control) = [](const TControl&) -> DWORD { return 0; };
    DWORD ExStyle = 0;
    bool Subclassed = false;        // its messages pass ControlMessage
    bool CaptionIsText = false;     // the caption is the window's text
    bool TopLevel = false;          // the form: the window font, no tooltip, shown by Show
    bool PlacedByOwner = false;     // a page: its page control places it
    bool DrawsOnEnable = false;     // draws itself inside EnableWindow
    bool HeightFollowsFont = false; // its height comes from its font
    void (TWin32Form::*Prepare)(TEntry&) = nullptr; // once, when created
    // A new caption; none: the window's text when the caption is that.
    void (TWin32Form::*Caption)(TEntry&) = nullptr;
    // Its content: check state, items, lines, position or tabs.
    void (TWin32Form::*Content)(TEntry&) = nullptr;
    void (TWin32Form::*Index)(TEntry&) = nullptr;  // the selected item
    void (TWin32Form::*Scroll)(TEntry&) = nullptr; // an item brought into view
    void (TWin32Form::*Select)(TEntry&) = nullptr; // the whole text selected
    void (TWin32Form::*Place)(TEntry&) = &TWin32Form::PlaceMoved;
    bool (*Wanted)(const TControl& control) = [](const TControl& c) { return c.Visible(); };
    void (TWin32Form::*Commanded)(TEntry&, unsigned code) = nullptr;
    LRESULT (TWin32Form::*Notified)(TEntry&, const NMHDR&, bool& handled) = nullptr;
    LRESULT (TWin32Form::*Message)(TEntry&, HWND, UINT, WPARAM, LPARAM, bool& handled) = nullptr;
    void (TWin32Form::*Paint)(TEntry&) = nullptr; // a container drawn by the binding
    void (*Draw)(HDC dc, const RECT& box, const TControl& control) = nullptr; // painted class
};

const TWin32Form::TKind& TWin32Form::KindOf(const TControl& control) {
    constexpr size_t Kinds = static_cast<size_t>(TControlKind::Image) + 1; // the last kind
    static const std::array<TKind, Kinds> kinds = [] {
        using F = TWin32Form;
        std::array<TKind, Kinds> k{};
        const auto at = [&k](TControlKind kind) -> TKind& { return k[static_cast<size_t>(kind)]; };

        TKind& form = at(TControlKind::Form);
        form.CaptionIsText = true;
        form.TopLevel = true;
        form.Place = &F::PlaceForm;

        TKind& pages = at(TControlKind::PageControl);
        // The pages are its children: the dialog keys must go into them.
        pages.WindowClass = WC_TABCONTROLA;
        pages.Style = [](const TControl&) -> DWORD { return WS_CLIPCHILDREN; };
        pages.ExStyle = WS_EX_CONTROLPARENT;
        pages.CaptionIsText = true;
        pages.Content = &F::ApplyTabs;
        pages.Place = &F::PlacePages;
        pages.Notified = &F::PagesNotify;

        TKind& sheet = at(TControlKind::TabSheet);
        sheet.Style = [](const TControl&) -> DWORD { return WS_CLIPCHILDREN; };
        sheet.ExStyle = WS_EX_CONTROLPARENT;
        sheet.PlacedByOwner = true;
        sheet.Caption = &F::ApplyOwnerTabs;
        sheet.Place = nullptr;
        sheet.Wanted = [](const TControl& c) {
            const auto& page = static_cast<const TTabSheet&>(c);
            return page.Visible() && page.TabVisible() && page.PageControl()->ActivePage() == &page;
        };

        TKind& frame = at(TControlKind::GroupBox);
        frame.Style = [](const TControl&) -> DWORD { return WS_CLIPCHILDREN; };
        frame.ExStyle = WS_EX_CONTROLPARENT;
        frame.CaptionIsText = true;
        frame.Caption = &F::ApplyFrameCaption;
        frame.Paint = &F::PaintFrame;

        TKind& label = at(TControlKind::Label);
        label.WindowClass = "STATIC";
        label.Style = [](const TControl&) -> DWORD {
            return SS_LEFTNOWORDWRAP | SS_NOTIFY | SS_NOPREFIX;
        };
        label.Subclassed = true;
        label.CaptionIsText = true;
        label.Commanded = &F::LabelCommand;

        TKind& edit = at(TControlKind::Edit);
        edit.WindowClass = "EDIT";
        edit.Style = [](const TControl& c) -> DWORD {
            return ES_AUTOHSCROLL | WS_TABSTOP |
                   (static_cast<const TEdit&>(c).ReadOnly ? ES_READONLY : 0);
        };
        edit.ExStyle = WS_EX_CLIENTEDGE;
        edit.Subclassed = true;
        edit.CaptionIsText = true;
        edit.Prepare = &F::PrepareEdit;
        edit.Commanded = &F::EditCommand;

        TKind& memo = at(TControlKind::Memo);
        // Always read-only: its lines come only from the program. A selection
        // stays visible when the focus moves on (to the button that copied it).
        memo.WindowClass = "EDIT";
        memo.Style = [](const TControl&) -> DWORD {
            return ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY | ES_NOHIDESEL | WS_VSCROLL |
                   WS_TABSTOP;
        };
        memo.ExStyle = WS_EX_CLIENTEDGE;
        memo.Subclassed = true;
        memo.Prepare = &F::PrepareEdit;
        memo.Content = &F::ApplyLines;
        memo.Select = &F::ApplyMemoSelection;

        TKind& button = at(TControlKind::Button);
        button.WindowClass = "BUTTON";
        button.Style = [](const TControl& c) -> DWORD {
            return WS_TABSTOP |
                   (static_cast<const TButton&>(c).Default ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        };
        button.Subclassed = true;
        button.CaptionIsText = true;
        button.DrawsOnEnable = true;
        button.Commanded = &F::ClickCommand;

        TKind& check = at(TControlKind::CheckBox);
        check.WindowClass = "BUTTON";
        check.Style = [](const TControl&) -> DWORD { return WS_TABSTOP | BS_CHECKBOX; };
        check.Subclassed = true;
        check.CaptionIsText = true;
        check.DrawsOnEnable = true;
        check.Content = &F::ApplyChecked<TCheckBox>;
        check.Commanded = &F::CheckCommand;

        TKind& radio = at(TControlKind::RadioButton);
        radio = check;
        radio.Style = [](const TControl&) -> DWORD { return WS_TABSTOP | BS_RADIOBUTTON; };
        radio.Content = &F::ApplyChecked<TRadioButton>;

        TKind& combo = at(TControlKind::ComboBox);
        combo.WindowClass = WC_COMBOBOXA;
        combo.Style = [](const TControl&) -> DWORD {
            return WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
        };
        combo.Subclassed = true;
        combo.HeightFollowsFont = true;
        combo.Content = &F::ApplyComboItems;
        combo.Index = &F::ApplyComboIndex;
        combo.Place = &F::PlaceCombo;
        combo.Commanded = &F::ComboCommand;

        TKind& list = at(TControlKind::ListView);
        list.WindowClass = WC_LISTVIEWA;
        list.Style = [](const TControl& c) -> DWORD {
            const auto& view = static_cast<const TListView&>(c);
            // A list of small pictures in a column, as a legend reads.
            return WS_TABSTOP | LVS_SHOWSELALWAYS | LVS_SINGLESEL | LVS_SHAREIMAGELISTS |
                   (view.ViewStyle == TViewStyle::Report ? LVS_REPORT : LVS_LIST) |
                   (view.ShowColumnHeaders ? 0 : LVS_NOCOLUMNHEADER) |
                   (view.ReadOnly ? 0 : LVS_EDITLABELS);
        };
        list.ExStyle = WS_EX_CLIENTEDGE;
        list.Subclassed = true;
        list.Prepare = &F::PrepareList;
        list.Content = &F::ApplyListItems;
        list.Index = &F::ApplyListIndex;
        list.Scroll = &F::ApplyListScroll;
        list.Place = &F::PlaceList;
        list.Notified = &F::ListNotify;
        list.Message = &F::ListMessage;

        TKind& bar = at(TControlKind::ProgressBar);
        bar.WindowClass = PROGRESS_CLASSA;
        bar.Subclassed = true;
        bar.Content = &F::ApplyProgress;

        TKind& shape = at(TControlKind::Shape);
        shape.WindowClass = PaintedClass;
        shape.Subclassed = true;
        shape.CaptionIsText = true;
        shape.Draw = [](HDC dc, const RECT& box, const TControl& c) {
            DrawShape(dc, box, static_cast<const TShape&>(c));
        };

        TKind& image = at(TControlKind::Image);
        image = shape;
        image.Draw = [](HDC dc, const RECT& box, const TControl& c) {
            DrawLogo(dc, box, static_cast<const TImage&>(c).Center);
        };
        return k;
    }();
    return kinds[static_cast<size_t>(control.Kind())];
}

bool TWin32Form::SameRow(const TShownRow& row, const TListItem& item) {
    return row.StateIndex == item.StateIndex && row.Caption == item.Caption &&
           row.SubItems == item.SubItems;
}

TWin32Form::TShownRow TWin32Form::InsertRow(HWND list, size_t index, const TListItem& item) {
    std::string caption = Displayable(item.Caption);
    LVITEMA row{};
    row.mask = LVIF_TEXT | LVIF_STATE;
    row.iItem = static_cast<int>(index);
    row.pszText = &caption[0];
    row.state = StateImageBits(item.StateIndex);
    row.stateMask = LVIS_STATEIMAGEMASK;
    const LRESULT at = SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&row));
    for (size_t s = 0; at >= 0 && s < item.SubItems.size(); ++s)
        SetRowText(list, static_cast<size_t>(at), s + 1, item.SubItems[s]);
    return TShownRow{item.Caption, item.SubItems, item.StateIndex};
}

void TWin32Form::UpdateRow(HWND list, size_t index, TShownRow& row, const TListItem& item) {
    if (row.Caption != item.Caption)
        SetRowText(list, index, 0, item.Caption);
    static const std::string none;
    const size_t columns = std::max(row.SubItems.size(), item.SubItems.size());
    for (size_t s = 0; s < columns; ++s) {
        const std::string& now = s < item.SubItems.size() ? item.SubItems[s] : none;
        const std::string& was = s < row.SubItems.size() ? row.SubItems[s] : none;
        if (now != was)
            SetRowText(list, index, s + 1, now);
    }
    if (row.StateIndex != item.StateIndex)
        ListView_SetItemState(list, static_cast<int>(index), StateImageBits(item.StateIndex),
                              LVIS_STATEIMAGEMASK);
    row = TShownRow{item.Caption, item.SubItems, item.StateIndex};
}

void ShowErrorBox(HWND owner, const std::string& title, const std::string& message) {
    MessageBoxA(owner, message.c_str(), title.c_str(), MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

// ---- creation ----

TWin32Form::TWin32Form(TForm& form, std::vector<const TImageList*> imageLists) : Form(form) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc{};
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = ContainerProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = ContainerClass;
        RegisterClassA(&wc);
        wc.style = CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = PaintedProc;
        wc.lpszClassName = PaintedClass;
        RegisterClassA(&wc);
        registered = true;
    }
    for (const TImageList* list : imageLists)
        if (list)
            ImageLists[list->Name] = CreateStateImageList(*list);

    BaseFontPoints = form.Font().Size > 0 ? form.Font().Size : 8;
    BaseFont = FontFor(TFont{});

    Window =
        CreateWindowExA(FormExStyle, ContainerClass, form.Caption().c_str(), FormStyle(form),
                        CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, nullptr, nullptr, instance, this);
    if (!Window) {
        Release();
        throw std::runtime_error("The main window cannot be created.");
    }
    auto entry = std::make_unique<TEntry>();
    entry->Control = &form;
    entry->Window = Window;
    entry->Font = BaseFont;
    ByControl[&form] = entry.get();
    ByWindow[Window] = std::move(entry);
    form.NativeHandle = Window;

    Tooltip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                              WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, Window, nullptr, instance, nullptr);
    if (Tooltip)
        SendMessageA(Tooltip, TTM_SETMAXTIPWIDTH, 0, 400);

    {
        TUpdatingScope updating(Updating);
        try {
            for (TControl* child : form.Children())
                CreateControl(*child, Window);
        } catch (...) {
            Release(); // no destructor runs for a half-built binding
            throw;
        }
    }

    // Size and place the window: centred on the work area, or where the form says.
    ApplyBounds(*ByControl[&form]);
    if (form.Centered)
        CentreOnScreen();
    RECT outer;
    GetWindowRect(Window, &outer);
    form.UserMoved(outer.left, outer.top);
    form.AttachPeer(this);
}

void TWin32Form::CentreOnScreen() {
    RECT outer;
    GetWindowRect(Window, &outer);
    RECT work;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    int left = work.left + (work.right - work.left - (outer.right - outer.left)) / 2;
    int top = work.top + (work.bottom - work.top - (outer.bottom - outer.top)) / 2;
    SetWindowPos(Window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWin32Form::CreateControl(TControl& control, HWND parentWindow) {
    const TKind& kind = KindOf(control);
    HWND window = CreateReal(control, parentWindow);
    if (!window)
        throw std::runtime_error("The control " + control.Name() + " cannot be created.");
    auto entry = std::make_unique<TEntry>();
    entry->Control = &control;
    entry->Window = window;
    TEntry& e = *entry;
    ByControl[&control] = entry.get();
    ByWindow[window] = std::move(entry);
    if (kind.Prepare)
        (this->*kind.Prepare)(e);
    if (kind.Subclassed)
        SetWindowSubclass(window, SubclassProc, 1, reinterpret_cast<DWORD_PTR>(this));
    // Siblings keep their creation order (the tab order), but a control laid
    // over an earlier one is drawn above it.
    for (TControl* sibling : control.Parent()->Children()) {
        if (sibling == &control)
            break;
        if (!KindOf(*sibling).PlacedByOwner && Overlap(sibling->Bounds(), control.Bounds())) {
            SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            break;
        }
    }

    for (TControl* child : control.Children())
        CreateControl(*child, window);
    ApplyAll(e);
    control.AttachPeer(this);
}

HWND TWin32Form::CreateReal(TControl& control, HWND parent) {
    const TKind& kind = KindOf(control);
    // The binding's own classes keep the binding (containers) or the object
    // (painted controls).
    void* param = nullptr;
    if (!kind.WindowClass)
        param = this;
    else if (kind.Draw)
        param = &control;
    const int id = FirstControlId + static_cast<int>(ByControl.size());
    return CreateWindowExA(kind.ExStyle, kind.WindowClass ? kind.WindowClass : ContainerClass, "",
                           WS_CHILD | WS_CLIPSIBLINGS | kind.Style(control), 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleA(nullptr), param);
}

void TWin32Form::PrepareEdit(TEntry& entry) {
    // Edit fields hold as much as the program puts in (a log may pass the
    // system's default of 32K characters).
    SendMessageA(entry.Window, EM_SETLIMITTEXT, 0, 0);
}

void TWin32Form::PrepareList(TEntry& entry) {
    auto& list = static_cast<TListView&>(*entry.Control);
    DWORD extended = LVS_EX_LABELTIP;
    if (list.RowSelect)
        extended |= LVS_EX_FULLROWSELECT;
    if (list.GridLines)
        extended |= LVS_EX_GRIDLINES;
    ListView_SetExtendedListViewStyle(entry.Window, extended);
    auto images = ImageLists.find(list.ImageListName);
    if (images != ImageLists.end())
        ListView_SetImageList(entry.Window, images->second, LVSIL_STATE);
}

TWin32Form::~TWin32Form() {
    Release();
}

void TWin32Form::Release() {
    ++Updating;
    QuitOnDestroy = false;
    for (auto& [window, entry] : ByWindow)
        if (entry->Control->AttachedPeer() == this)
            entry->Control->AttachPeer(nullptr);
    if (Window && IsWindow(Window))
        DestroyWindow(Window);
    Window = nullptr;
    Form.NativeHandle = nullptr;
    for (auto& [font, handle] : Fonts)
        DeleteObject(handle);
    Fonts.clear();
    for (auto& [name, images] : ImageLists)
        if (images)
            ImageList_Destroy(images);
    ImageLists.clear();
}

// ---- lookups ----

HWND TWin32Form::HandleOf(const TControl& control) const {
    const TEntry* entry = EntryOf(control);
    return entry ? entry->Window : nullptr;
}

HIMAGELIST TWin32Form::ImageListHandle(const std::string& name) const {
    auto it = ImageLists.find(name);
    return it == ImageLists.end() ? nullptr : it->second;
}

TWin32Form::TEntry* TWin32Form::EntryOf(HWND window) {
    auto it = ByWindow.find(window);
    return it == ByWindow.end() ? nullptr : it->second.get();
}

TWin32Form::TEntry* TWin32Form::EntryOf(const TControl& control) {
    auto it = ByControl.find(&control);
    return it == ByControl.end() ? nullptr : it->second;
}

const TWin32Form::TEntry* TWin32Form::EntryOf(const TControl& control) const {
    auto it = ByControl.find(&control);
    return it == ByControl.end() ? nullptr : it->second;
}

HFONT TWin32Form::FontFor(const TFont& font) {
    TFont key = font;
    key.Color = clDefault; // the colour is drawn, not part of the font
    for (auto& [known, handle] : Fonts)
        if (known == key)
            return handle;
    HDC screen = GetDC(nullptr);
    int height =
        -MulDiv(key.Size > 0 ? key.Size : BaseFontPoints, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    const BYTE charset = key.Charset == TCharset::Cyrillic ? RUSSIAN_CHARSET : DEFAULT_CHARSET;
    HFONT handle =
        CreateFontA(height, 0, 0, 0, key.Bold ? FW_BOLD : FW_NORMAL, key.Italic, key.Underline,
                    FALSE, charset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                    key.FixedPitch ? FIXED_PITCH | FF_MODERN : VARIABLE_PITCH | FF_SWISS,
                    key.FixedPitch ? "Courier New" : "Tahoma");
    if (!handle)
        handle = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    Fonts.emplace_back(key, handle);
    return handle;
}

void TWin32Form::KeepOnNearestMonitor() {
    RECT outer;
    GetWindowRect(Window, &outer);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    if (!GetMonitorInfoA(MonitorFromRect(&outer, MONITOR_DEFAULTTONEAREST), &monitor))
        return;
    const RECT& work = monitor.rcWork;
    const TBounds box{outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top};
    const TBounds kept = KeepInside(
        box, TBounds{work.left, work.top, work.right - work.left, work.bottom - work.top});
    if (kept.Left == box.Left && kept.Top == box.Top)
        return;
    SetWindowPos(Window, nullptr, kept.Left, kept.Top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Form.UserMoved(kept.Left, kept.Top);
}

void TWin32Form::Guard(const std::function<void()>& action) {
    std::string message;
    try {
        action();
        return;
    } catch (const std::exception& e) {
        message = e.what();
    } catch (...) {
        message = "Unknown error.";
    }
    // A handler's failure must not unwind through the system's window code.
    ShowError(message);
}

void TWin32Form::ShowError(const std::string& message) {
    if (OnError)
        OnError(message);
    else
        ShowErrorBox(Window, Form.Caption(), message);
}

void TWin32Form::Show(int cmdShow) {
    if (!Shown) {
        Shown = true;
        Guard([this] {
            if (Form.OnCreate)
                Form.OnCreate();
        });
        // Start-up may have found a saved position, which the show restores.
        if (Window && Form.Centered)
            CentreOnScreen();
        Guard([this] {
            if (Form.OnShow)
                Form.OnShow();
        });
        if (Window)
            KeepOnNearestMonitor();
    }
    if (!Window)
        return;
    ShowWindow(Window, cmdShow);
    UpdateWindow(Window);
}

// ---- objects → real controls ----

void TWin32Form::PropertyChanged(TControl& control, TProp prop) {
    TEntry* entry = EntryOf(control);
    if (!entry || !Window)
        return;
    TUpdatingScope updating(Updating);
    const TKind& kind = KindOf(control);
    // One of the kind's own steps, when it has that step.
    const auto step = [this, entry](void (TWin32Form::*apply)(TEntry&)) {
        if (apply)
            (this->*apply)(*entry);
    };
    HWND window = entry->Window;
    switch (prop) {
    case TProp::Caption:
        step(kind.Caption ? kind.Caption : kind.CaptionIsText ? &TWin32Form::ApplyText : nullptr);
        break;
    case TProp::Hint:
        ApplyHint(*entry);
        break;
    case TProp::Enabled:
        EnableWindow(window, control.Enabled());
        break;
    case TProp::Visible:
        ApplyVisible(*entry);
        break;
    case TProp::Bounds:
        ApplyBounds(*entry);
        break;
    case TProp::Font:
        ApplyFont(*entry);
        break;
    case TProp::Checked:
    case TProp::Items:
    case TProp::Lines:
    case TProp::Range:
    case TProp::Position:
    case TProp::ActivePage:
        step(kind.Content);
        break;
    case TProp::ItemIndex:
        step(kind.Index);
        break;
    case TProp::ScrollTo:
        step(kind.Scroll);
        break;
    case TProp::Selection:
        step(kind.Select);
        break;
    case TProp::Appearance:
        InvalidateRect(window, nullptr, TRUE);
        break;
    case TProp::TabVisible:
        ApplyOwnerTabs(*entry);
        break;
    case TProp::Focus:
        if (TControl* active = Form.ActiveControl())
            if (HWND target = HandleOf(*active))
                if (IsWindowVisible(target) && IsWindowEnabled(target))
                    SetFocus(target);
        break;
    }
}

void TWin32Form::ApplyAll(TEntry& entry) {
    const TKind& kind = KindOf(*entry.Control);
    if (kind.CaptionIsText)
        ApplyText(entry);
    EnableWindow(entry.Window, entry.Control->Enabled());
    ApplyFont(entry);
    ApplyBounds(entry);
    ApplyHint(entry);
    if (kind.Content)
        (this->*kind.Content)(entry);
    ApplyVisible(entry);
}

void TWin32Form::ApplyText(TEntry& entry) {
    SetText(entry.Window, entry.Control->Caption());
}

void TWin32Form::ApplyFrameCaption(TEntry& entry) {
    ApplyText(entry);
    InvalidateRect(entry.Window, nullptr, TRUE); // the binding draws the frame's caption
}

void TWin32Form::ApplyOwnerTabs(TEntry& entry) {
    if (TEntry* owner = EntryOf(*entry.Control->Parent()))
        ApplyTabs(*owner);
}

template <class TBox> void TWin32Form::ApplyChecked(TEntry& entry) {
    Button_SetCheck(entry.Window, static_cast<const TBox&>(*entry.Control).Checked());
}

void TWin32Form::ApplyMemoSelection(TEntry& entry) {
    if (static_cast<TMemo&>(*entry.Control).AllSelected())
        SendMessageA(entry.Window, EM_SETSEL, 0, -1);
}

void TWin32Form::ApplyBounds(TEntry& entry) {
    if (const auto place = KindOf(*entry.Control).Place)
        (this->*place)(entry);
}

void TWin32Form::PlaceMoved(TEntry& entry) {
    const TBounds& box = entry.Control->Bounds();
    MoveWindow(entry.Window, box.Left, box.Top, box.Width, box.Height, TRUE);
}

void TWin32Form::PlaceForm(TEntry& entry) {
    // The bounds give the client area; the frame comes on top.
    const TBounds& box = entry.Control->Bounds();
    RECT outer{0, 0, std::max(box.Width, 1), std::max(box.Height, 1)};
    AdjustWindowRectEx(&outer, FormStyle(Form), FALSE, FormExStyle);
    SetWindowPos(entry.Window, nullptr, box.Left, box.Top, outer.right - outer.left,
                 outer.bottom - outer.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWin32Form::PlaceCombo(TEntry& entry) {
    // The bounds give the edit field; the drop-down part lies below.
    const TBounds& box = entry.Control->Bounds();
    MoveWindow(entry.Window, box.Left, box.Top, box.Width, box.Height + ComboListHeight, TRUE);
}

void TWin32Form::PlacePages(TEntry& entry) {
    PlaceMoved(entry);
    PlaceSheets(entry);
}

void TWin32Form::PlaceList(TEntry& entry) {
    PlaceMoved(entry);
    if (static_cast<TListView&>(*entry.Control).ViewStyle != TViewStyle::Report) {
        RECT client;
        GetClientRect(entry.Window, &client);
        ListView_SetColumnWidth(entry.Window, 0, std::max<int>(client.right, 16));
    }
}

void TWin32Form::ApplyVisible(TEntry& entry) {
    const TKind& kind = KindOf(*entry.Control);
    if (kind.TopLevel)
        return; // Show() decides
    const bool visible = kind.Wanted(*entry.Control);
    if (visible != ShownByStyle(entry.Window))
        ShowWindow(entry.Window, visible ? SW_SHOWNA : SW_HIDE);
}

void TWin32Form::ApplyFont(TEntry& entry) {
    const TKind& kind = KindOf(*entry.Control);
    entry.Font = kind.TopLevel ? BaseFont : FontFor(entry.Control->Font());
    SendMessageA(entry.Window, WM_SETFONT, reinterpret_cast<WPARAM>(entry.Font), TRUE);
    if (kind.HeightFollowsFont)
        ApplyBounds(entry);
    InvalidateRect(entry.Window, nullptr, TRUE);
}

void TWin32Form::ApplyHint(TEntry& entry) {
    if (!Tooltip || KindOf(*entry.Control).TopLevel)
        return;
    TTTOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = Window;
    tool.uId = reinterpret_cast<UINT_PTR>(entry.Window);
    SendMessageA(Tooltip, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    const std::string& hint = entry.Control->Hint();
    if (hint.empty())
        return;
    std::string text = hint;
    tool.lpszText = &text[0];
    SendMessageA(Tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void TWin32Form::ApplyLines(TEntry& entry) {
    auto& memo = static_cast<TMemo&>(*entry.Control);
    std::string text = JoinLines(memo.Lines());
    HWND window = entry.Window;
    const std::string& shown = entry.ShownText;
    const auto caretToEnd = [window] {
        int end = GetWindowTextLengthA(window);
        SendMessageA(window, EM_SETSEL, end, end);
        SendMessageA(window, EM_SCROLLCARET, 0, 0);
    };
    if (!shown.empty() && text.size() > shown.size() && text.compare(0, shown.size(), shown) == 0) {
        // Lines were added: append only the new text, as a log grows; the
        // edit draws just what was added.
        const int end = GetWindowTextLengthA(window);
        SendMessageA(window, EM_SETSEL, end, end);
        SendMessageA(window, EM_REPLACESEL, FALSE,
                     reinterpret_cast<LPARAM>(text.c_str() + shown.size()));
        caretToEnd();
    } else {
        TQuietScope quiet(window);
        SetWindowTextA(window, text.c_str());
        caretToEnd();
    }
    entry.ShownText = text;
}

void TWin32Form::ApplyComboItems(TEntry& entry) {
    auto& combo = static_cast<TComboBox&>(*entry.Control);
    SendMessageA(entry.Window, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : combo.Items())
        SendMessageA(entry.Window, CB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(Displayable(item).c_str()));
    ApplyComboIndex(entry);
}

void TWin32Form::ApplyComboIndex(TEntry& entry) {
    auto& combo = static_cast<TComboBox&>(*entry.Control);
    SendMessageA(entry.Window, CB_SETCURSEL, static_cast<WPARAM>(combo.ItemIndex()), 0);
}

void TWin32Form::ApplyListItems(TEntry& entry) {
    const bool shownByStyle = ShownByStyle(entry.Window);
    TQuietScope quiet(entry.Window);
    {
        TListDrawingOff drawingOff(entry.Window, shownByStyle);
        ApplyListRows(entry);
    }
    // Scrolling to the selected row needs drawing on.
    ApplyListSelection(entry);
}

void TWin32Form::ApplyListRows(TEntry& entry) {
    auto& list = static_cast<TListView&>(*entry.Control);
    HWND window = entry.Window;
    TShownList& shown = entry.ShownList;

    const auto& columns = list.Columns();
    bool sameColumns = columns.size() == shown.Columns.size();
    for (size_t i = 0; sameColumns && i < columns.size(); ++i)
        sameColumns = columns[i].Caption == shown.Columns[i].Caption &&
                      columns[i].Width == shown.Columns[i].Width;
    if (!sameColumns) {
        ListView_DeleteAllItems(window);
        shown.Rows.clear();
        for (size_t i = shown.Columns.size(); i > 0; --i)
            ListView_DeleteColumn(window, static_cast<int>(i - 1));
        for (size_t i = 0; i < columns.size(); ++i) {
            std::string caption = columns[i].Caption;
            LVCOLUMNA column{};
            column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
            column.pszText = &caption[0];
            column.cx = columns[i].Width;
            column.iSubItem = static_cast<int>(i);
            SendMessageA(window, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
        }
        shown.Columns = columns;
    }

    // The real rows follow the object's order, so a row index is an item
    // index. Only what differs from the rows shown goes to the real control:
    // the rows that the change left alone at either end stay, the rows between
    // are updated in place where a row is still there and inserted or deleted
    // where the count changed. A search adds hundreds of rows and then marks
    // one, each time with one pass over the list, not with a refill.
    auto& rows = shown.Rows;
    const size_t count = list.Count();
    if (count == 0) {
        if (!rows.empty())
            ListView_DeleteAllItems(window);
        rows.clear();
    }
    size_t head = 0;
    while (head < count && head < rows.size() && SameRow(rows[head], *list.Item(head)))
        ++head;
    size_t tail = 0;
    while (tail < count - head && tail < rows.size() - head &&
           SameRow(rows[rows.size() - 1 - tail], *list.Item(count - 1 - tail)))
        ++tail;
    const size_t oldMiddle = rows.size() - head - tail;
    const size_t newMiddle = count - head - tail;
    const size_t kept = std::min(oldMiddle, newMiddle);
    for (size_t i = head; i < head + kept; ++i)
        UpdateRow(window, i, rows[i], *list.Item(i));
    if (oldMiddle > newMiddle) {
        const size_t at = head + kept;
        for (size_t n = oldMiddle - newMiddle; n > 0; --n)
            ListView_DeleteItem(window, static_cast<int>(at));
        rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(at),
                   rows.begin() + static_cast<std::ptrdiff_t>(at + oldMiddle - newMiddle));
    } else if (newMiddle > oldMiddle) {
        std::vector<TShownRow> added;
        for (size_t i = head + kept; i < head + newMiddle; ++i)
            added.push_back(InsertRow(window, i, *list.Item(i)));
        rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(head + kept),
                    std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
    }
}

void TWin32Form::ApplyListIndex(TEntry& entry) {
    TQuietScope quiet(entry.Window);
    ApplyListSelection(entry);
}

void TWin32Form::ApplyListScroll(TEntry& entry) {
    auto& list = static_cast<TListView&>(*entry.Control);
    const int index = list.IndexOf(list.ScrolledTo());
    if (index < 0)
        return;
    TQuietScope quiet(entry.Window);
    ListView_EnsureVisible(entry.Window, index, FALSE);
}

void TWin32Form::ApplyListSelection(TEntry& entry) {
    auto& list = static_cast<TListView&>(*entry.Control);
    int index = list.IndexOf(list.Selected());
    ListView_SetItemState(entry.Window, -1, 0, LVIS_SELECTED);
    if (index >= 0) {
        ListView_SetItemState(entry.Window, index, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(entry.Window, index, FALSE);
    }
}

void TWin32Form::ApplyTabs(TEntry& entry) {
    auto& pages = static_cast<TPageControl&>(*entry.Control);
    std::vector<int> tabToPage;
    std::vector<std::string> captions;
    for (TTabSheet* page : pages.Pages())
        if (page->TabVisible()) {
            tabToPage.push_back(page->PageIndex());
            captions.push_back(page->Caption());
        }
    HWND window = entry.Window;
    if (tabToPage != entry.TabToPage || captions != entry.TabCaptions) {
        // A tab shown or hidden is one insertion or deletion, which redraws
        // only the row of tabs; anything else rebuilds the row (and repaints
        // the whole control, which is slow on some systems).
        const size_t had = entry.TabToPage.size(), has = tabToPage.size();
        size_t first = 0;
        while (first < std::min(had, has) && entry.TabToPage[first] == tabToPage[first] &&
               entry.TabCaptions[first] == captions[first])
            ++first;
        const auto sameAfter = [&](size_t oldFrom, size_t newFrom) {
            return std::equal(entry.TabToPage.begin() + oldFrom, entry.TabToPage.end(),
                              tabToPage.begin() + newFrom, tabToPage.end()) &&
                   std::equal(entry.TabCaptions.begin() + oldFrom, entry.TabCaptions.end(),
                              captions.begin() + newFrom, captions.end());
        };
        const auto insert = [&](size_t i) {
            TCITEMA tab{};
            tab.mask = TCIF_TEXT;
            tab.pszText = &captions[i][0];
            SendMessageA(window, TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&tab));
        };
        if (had == has + 1 && sameAfter(first + 1, first)) {
            TabCtrl_DeleteItem(window, static_cast<int>(first));
        } else if (has == had + 1 && sameAfter(first, first + 1)) {
            insert(first);
        } else {
            TabCtrl_DeleteAllItems(window);
            for (size_t i = 0; i < captions.size(); ++i)
                insert(i);
        }
        entry.TabToPage = tabToPage;
        entry.TabCaptions = captions;
        PlaceSheets(entry);
    }
    auto active = std::find(tabToPage.begin(), tabToPage.end(), pages.ActivePageIndex());
    TabCtrl_SetCurSel(window, active == tabToPage.end() ? -1 : active - tabToPage.begin());
    for (TTabSheet* page : pages.Pages())
        if (TEntry* sheet = EntryOf(*page))
            ApplyVisible(*sheet);
}

void TWin32Form::PlaceSheets(TEntry& pageControl) {
    RECT area;
    GetClientRect(pageControl.Window, &area);
    TabCtrl_AdjustRect(pageControl.Window, FALSE, &area);
    for (TControl* child : pageControl.Control->Children())
        if (TEntry* sheet = EntryOf(*child))
            MoveWindow(sheet->Window, area.left, area.top, area.right - area.left,
                       area.bottom - area.top, TRUE);
}

void TWin32Form::ApplyProgress(TEntry& entry) {
    auto& bar = static_cast<TProgressBar&>(*entry.Control);
    SendMessageA(entry.Window, PBM_SETRANGE32, static_cast<WPARAM>(bar.Min()),
                 static_cast<LPARAM>(bar.Max()));
    SendMessageA(entry.Window, PBM_SETPOS, static_cast<WPARAM>(bar.Position()), 0);
}

// ---- real controls → objects ----

void TWin32Form::Command(HWND control, unsigned code) {
    TEntry* entry = EntryOf(control);
    if (!entry || Updating)
        return;
    if (const auto commanded = KindOf(*entry->Control).Commanded)
        (this->*commanded)(*entry, code);
}

void TWin32Form::ClickCommand(TEntry& entry, unsigned code) {
    TControl& object = *entry.Control;
    if (code == BN_CLICKED)
        Guard([&object] { object.UserClick(); });
}

void TWin32Form::CheckCommand(TEntry& entry, unsigned code) {
    if (code != BN_CLICKED)
        return;
    TControl& object = *entry.Control;
    HWND control = entry.Window;
    Guard([&object] { object.UserClick(); });
    // The object may have refused the click; the real box follows it.
    if (EntryOf(control))
        PropertyChanged(object, TProp::Checked);
}

void TWin32Form::LabelCommand(TEntry& entry, unsigned code) {
    TControl& object = *entry.Control;
    if (code == STN_CLICKED)
        Guard([&object] { object.UserClick(); });
    else if (code == STN_DBLCLK)
        Guard([&object] { object.UserDblClick(); });
}

void TWin32Form::EditCommand(TEntry& entry, unsigned code) {
    if (code != EN_CHANGE)
        return;
    auto& edit = static_cast<TEdit&>(*entry.Control);
    std::string text = WindowText(entry.Window);
    Guard([&edit, &text] { edit.UserSetText(text); });
}

void TWin32Form::ComboCommand(TEntry& entry, unsigned code) {
    if (code != CBN_SELCHANGE)
        return;
    auto& combo = static_cast<TComboBox&>(*entry.Control);
    HWND control = entry.Window;
    int index = static_cast<int>(SendMessageA(control, CB_GETCURSEL, 0, 0));
    Guard([&combo, index] { combo.UserSelect(index); });
    if (TEntry* again = EntryOf(control)) {
        TUpdatingScope updating(Updating);
        ApplyComboIndex(*again);
    }
}

LRESULT TWin32Form::Notify(const NMHDR& header, bool& handled) {
    TEntry* entry = EntryOf(header.hwndFrom);
    if (!entry || Updating)
        return 0;
    const auto notified = KindOf(*entry->Control).Notified;
    return notified ? (this->*notified)(*entry, header, handled) : 0;
}

LRESULT TWin32Form::PagesNotify(TEntry& entry, const NMHDR& header, bool& handled) {
    if (header.code != TCN_SELCHANGE)
        return 0;
    handled = true;
    auto& pages = static_cast<TPageControl&>(*entry.Control);
    int tab = TabCtrl_GetCurSel(header.hwndFrom);
    if (tab >= 0 && tab < static_cast<int>(entry.TabToPage.size())) {
        int page = entry.TabToPage[static_cast<size_t>(tab)];
        Guard([&pages, page] { pages.UserSelectPage(page); });
    }
    if (TEntry* again = EntryOf(header.hwndFrom)) {
        TUpdatingScope updating(Updating);
        ApplyTabs(*again);
    }
    return 0;
}

LRESULT TWin32Form::ListNotify(TEntry& entry, const NMHDR& header, bool& handled) {
    auto& list = static_cast<TListView&>(*entry.Control);
    switch (header.code) {
    case LVN_ITEMCHANGED: {
        const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
        if (!(change.uChanged & LVIF_STATE) ||
            !((change.uOldState ^ change.uNewState) & LVIS_SELECTED))
            break;
        if (change.iItem < 0 || change.iItem >= static_cast<int>(list.Count()))
            break;
        TListItem* item = list.Item(static_cast<size_t>(change.iItem));
        if (change.uNewState & LVIS_SELECTED)
            Guard([&list, item] { list.UserSelect(item); });
        else if (list.Selected() == item)
            Guard([&list] { list.UserSelect(nullptr); });
        break;
    }
    case LVN_COLUMNCLICK: {
        int column = reinterpret_cast<const NMLISTVIEW&>(header).iSubItem;
        Guard([&list, column] { list.UserColumnClick(column); });
        break;
    }
    case NM_DBLCLK:
        Guard([&list] { list.UserDblClick(); });
        break;
    case NM_CLICK:
    case NM_RCLICK: {
        // The list view swallows the button's release in its own drag check;
        // these notifications come when the button has been released.
        POINT at = reinterpret_cast<const NMITEMACTIVATE&>(header).ptAction;
        int button = header.code == NM_CLICK ? 0 : 1;
        Guard([&list, button, at] { list.UserMouseUp(button, at.x, at.y); });
        break;
    }
    default:
        return 0;
    }
    handled = true;
    return 0;
}

// ---- window procedures ----

LRESULT CALLBACK TWin32Form::ContainerProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<TWin32Form*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self) {
        bool handled = false;
        LRESULT result = self->ContainerMessage(window, msg, wParam, lParam, handled);
        if (handled)
            return result;
    }
    return DefWindowProcA(window, msg, wParam, lParam);
}

LRESULT TWin32Form::ContainerMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam,
                                     bool& handled) {
    switch (msg) {
    case WM_COMMAND:
        if (lParam) {
            Command(reinterpret_cast<HWND>(lParam), HIWORD(wParam));
            handled = true;
        }
        return 0;
    case WM_NOTIFY:
        return Notify(*reinterpret_cast<const NMHDR*>(lParam), handled);
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT: {
        TEntry* entry = EntryOf(reinterpret_cast<HWND>(lParam));
        if (!entry)
            return 0;
        HDC dc = reinterpret_cast<HDC>(wParam);
        bool field = msg == WM_CTLCOLOREDIT;
        SetTextColor(dc, entry->Control->Enabled() ? TextColor(entry->Control->Font())
                                                   : GetSysColor(COLOR_GRAYTEXT));
        SetBkColor(dc, GetSysColor(field ? COLOR_WINDOW : COLOR_BTNFACE));
        handled = true;
        return reinterpret_cast<LRESULT>(GetSysColorBrush(field ? COLOR_WINDOW : COLOR_BTNFACE));
    }
    case WM_PAINT: {
        TEntry* entry = EntryOf(window);
        const auto paint = entry ? KindOf(*entry->Control).Paint : nullptr;
        if (!paint)
            return 0;
        handled = true;
        (this->*paint)(*entry);
        return 0;
    }
    default:
        break;
    }
    if (window != Window)
        return 0;
    switch (msg) {
    case WM_MOVE: {
        RECT outer;
        GetWindowRect(window, &outer);
        if (!IsIconic(window))
            Form.UserMoved(outer.left, outer.top);
        return 0;
    }
    case WM_CLOSE: {
        handled = true;
        bool close = true;
        Guard([this, &close] {
            if (Form.OnCloseQuery)
                close = Form.OnCloseQuery();
        });
        if (!close)
            return 0;
        Guard([this] {
            if (Form.OnClose)
                Form.OnClose();
        });
        DestroyWindow(window);
        return 0;
    }
    case WM_DESTROY:
        if (QuitOnDestroy)
            PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        // Every control is gone: later property changes go nowhere.
        for (auto& [handle, entry] : ByWindow)
            if (entry->Control->AttachedPeer() == this)
                entry->Control->AttachPeer(nullptr);
        ByControl.clear();
        ByWindow.clear();
        Window = nullptr;
        Tooltip = nullptr;
        return 0;
    default:
        return 0;
    }
}

// A group box: its etched frame, with the caption on it.
void TWin32Form::PaintFrame(TEntry& entry) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(entry.Window, &paint);
    RECT box;
    GetClientRect(entry.Window, &box);
    HGDIOBJ oldFont = SelectObject(dc, entry.Font);
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    RECT frame = box;
    frame.top += metrics.tmHeight / 2;
    DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
    const std::string& caption = entry.Control->Caption();
    if (!caption.empty()) {
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        SetTextColor(dc, entry.Control->Enabled() ? TextColor(entry.Control->Font())
                                                  : GetSysColor(COLOR_GRAYTEXT));
        SIZE size;
        GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
        RECT text{8, 0, 8 + size.cx, metrics.tmHeight};
        ExtTextOutA(dc, text.left, text.top, ETO_OPAQUE | ETO_CLIPPED, &text, caption.c_str(),
                    static_cast<UINT>(caption.size()), nullptr);
    }
    SelectObject(dc, oldFont);
    EndPaint(entry.Window, &paint);
}

LRESULT CALLBACK TWin32Form::SubclassProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR, DWORD_PTR data) {
    auto* self = reinterpret_cast<TWin32Form*>(data);
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(window, SubclassProc, 1);
        return DefSubclassProc(window, msg, wParam, lParam);
    }
    if (TEntry* entry = self->EntryOf(window)) {
        bool handled = false;
        LRESULT result = self->ControlMessage(*entry, window, msg, wParam, lParam, handled);
        if (handled)
            return result;
    }
    return DefSubclassProc(window, msg, wParam, lParam);
}

LRESULT TWin32Form::ControlMessage(TEntry& entry, HWND window, UINT msg, WPARAM wParam,
                                   LPARAM lParam, bool& handled) {
    TControl& object = *entry.Control;
    switch (msg) {
    case WM_MOUSEMOVE:
        if (!entry.MouseInside) {
            TRACKMOUSEEVENT track{};
            track.cbSize = sizeof(track);
            track.dwFlags = TME_LEAVE;
            track.hwndTrack = window;
            if (TrackMouseEvent(&track)) {
                entry.MouseInside = true;
                Guard([&object] { object.UserMouseEnter(); });
            }
        }
        return 0;
    case WM_MOUSELEAVE:
        if (entry.MouseInside) {
            entry.MouseInside = false;
            Guard([&object] { object.UserMouseLeave(); });
        }
        return 0;
    case WM_ENABLE:
        if (KindOf(object).DrawsOnEnable) {
            // A themed button draws itself at once when it is enabled or
            // disabled: about a millisecond a button under Wine, and a
            // search changes some thirty of them, a few twice. It is drawn
            // with the next paint instead, once.
            InvalidateRect(window, nullptr, TRUE);
            handled = true;
        }
        return 0;
    case WM_SETCURSOR:
        if (object.HandCursor) {
            SetCursor(LoadCursor(nullptr, IDC_HAND));
            handled = true;
            return TRUE;
        }
        return 0;
    default:
        break;
    }
    if (const auto message = KindOf(object).Message)
        return (this->*message)(entry, window, msg, wParam, lParam, handled);
    return 0;
}

LRESULT TWin32Form::ListMessage(TEntry& entry, HWND window, UINT msg, WPARAM wParam, LPARAM lParam,
                                bool& handled) {
    auto& list = static_cast<TListView&>(*entry.Control);
    switch (msg) {
    case WM_GETDLGCODE: {
        // Enter belongs to the list (it selects the mode), not to the dialog keys.
        LRESULT code = DefSubclassProc(window, msg, wParam, lParam);
        const MSG* key = reinterpret_cast<const MSG*>(lParam);
        if (key && key->message == WM_KEYDOWN && key->wParam == VK_RETURN)
            code |= DLGC_WANTMESSAGE;
        handled = true;
        return code;
    }
    case WM_CHAR: {
        char key = static_cast<char>(wParam);
        Guard([&list, key] { list.UserKeyPress(key); });
        return 0;
    }
    case WM_MBUTTONUP: {
        int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
        Guard([&list, x, y] { list.UserMouseUp(2, x, y); });
        return 0;
    }
    default:
        return 0;
    }
}

LRESULT CALLBACK TWin32Form::PaintedProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_NCCREATE: {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        break;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        auto* object = reinterpret_cast<TControl*>(GetWindowLongPtrA(window, GWLP_USERDATA));
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT box;
        GetClientRect(window, &box);
        FillRect(dc, &box, GetSysColorBrush(COLOR_BTNFACE));
        if (object && KindOf(*object).Draw)
            KindOf(*object).Draw(dc, box, *object);
        EndPaint(window, &paint);
        return 0;
    }
    default:
        break;
    }
    return DefWindowProcA(window, msg, wParam, lParam);
}

} // namespace qvx
