#pragma once
// The window's controls as plain objects. The portable code reads and sets
// their properties and fires their events; a peer (the Windows layer, or
// nothing in the native tests) mirrors every property change into a real
// control and reports the user's actions back through the User* methods.
//
// Event rules follow the window toolkit the handlers were written for:
// - TEdit::SetText and every TMemo change fire OnChange;
// - TCheckBox/TRadioButton::SetChecked fire OnClick when the state changes;
// - setting a combo's ItemIndex or a page control's active page from code
//   fires nothing; the user's choice fires the events.
#include "platform/text_lines.h"
#include "platform/timers.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qvx {

using TColor = uint32_t; // 0x00BBGGRR
constexpr TColor clDefault = 0xFF000000u;
constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clGray = 0x808080;
constexpr TColor clFuchsia = 0xFF00FF;
// System colours: 0x80000000 + the system's colour index.
constexpr TColor clSystemColor = 0x80000000u;
constexpr TColor clScrollBar = clSystemColor + 0;
constexpr TColor clBtnShadow = clSystemColor + 16;

enum class TControlKind {
    Form,
    PageControl,
    TabSheet,
    GroupBox,
    Label,
    Edit,
    Memo,
    Button,
    CheckBox,
    RadioButton,
    ComboBox,
    ListView,
    ProgressBar,
    Shape,
    Image,
};

// What changed, for the peer.
enum class TProp {
    Caption,
    Hint,
    Enabled,
    Visible,
    Bounds,
    Font,
    Checked,
    Items,      // combo items, list-view items or columns
    ItemIndex,  // combo selection, list-view selection
    Lines,      // memo lines
    Range,      // progress bar min/max
    Position,   // progress bar position
    Appearance, // shape kind and colours, image picture
    ActivePage,
    TabVisible,
    Focus,     // the form's active control
    ScrollTo,  // a list-view item to bring into view
    Selection, // a memo's whole text selected, or not
};

class TControl;

class IControlPeer {
public:
    virtual ~IControlPeer() = default;
    virtual void PropertyChanged(TControl& control, TProp prop) = 0;
};

struct TBounds {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
};

// box moved (never resized) so that it lies inside area; a box larger than
// the area keeps its top left corner on the area's.
TBounds KeepInside(const TBounds& box, const TBounds& area);

// The character set a font is made for; Default = the system's choice.
enum class TCharset { Default, Cyrillic };

struct TFont {
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool FixedPitch = false;
    int Size = 0; // points; 0 = the window's font size
    TColor Color = clDefault;
    TCharset Charset = TCharset::Default;
    bool operator==(const TFont& o) const {
        return Bold == o.Bold && Italic == o.Italic && Underline == o.Underline &&
               FixedPitch == o.FixedPitch && Size == o.Size && Color == o.Color &&
               Charset == o.Charset;
    }
    bool operator!=(const TFont& o) const { return !(*this == o); }
};

class TControl {
public:
    TControl(TControlKind kind, std::string name, TControl* parent);
    virtual ~TControl();
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    TControlKind Kind() const { return ControlKind; }
    const std::string& Name() const { return ControlName; }
    TControl* Parent() const { return ParentControl; }
    const std::vector<TControl*>& Children() const { return ChildControls; }

    const std::string& Caption() const { return CaptionText; }
    void SetCaption(const std::string& caption);
    const std::string& Hint() const { return HintText; }
    void SetHint(const std::string& hint);
    bool Enabled() const { return IsEnabled; }
    void SetEnabled(bool enabled);
    bool Visible() const { return IsVisible; }
    void SetVisible(bool visible);
    // Visible and every parent visible (a page counts when it is the active one
    // of its page control).
    bool Showing() const;
    const TBounds& Bounds() const { return Box; }
    void SetBounds(int left, int top, int width, int height);
    int Left() const { return Box.Left; }
    int Top() const { return Box.Top; }
    int Width() const { return Box.Width; }
    int Height() const { return Box.Height; }
    void SetLeft(int left) { SetBounds(left, Box.Top, Box.Width, Box.Height); }
    void SetTop(int top) { SetBounds(Box.Left, top, Box.Width, Box.Height); }
    void SetWidth(int width) { SetBounds(Box.Left, Box.Top, width, Box.Height); }
    const TFont& Font() const { return FontStyle; }
    void SetFont(const TFont& font);
    bool HandCursor = false;
    int Tag = 0;

    void AttachPeer(IControlPeer* peer) { Peer = peer; }
    IControlPeer* AttachedPeer() const { return Peer; }

    // Events shared by several kinds of control.
    std::function<void()> OnClick;
    std::function<void()> OnDblClick;
    std::function<void()> OnChange;
    std::function<void()> OnMouseEnter;
    std::function<void()> OnMouseLeave;
    std::function<void(char& key)> OnKeyPress;
    std::function<void(int button, int x, int y)> OnMouseUp;

    // The user's actions, as the peer reports them (or a test performs them).
    // Clicks on a disabled or hidden control do nothing.
    virtual void UserClick();
    void UserDblClick();
    void UserKeyPress(char key);
    void UserMouseUp(int button, int x, int y);
    void UserMouseEnter();
    void UserMouseLeave();
    // Moves the control as the system did (the form's position); no peer call.
    void UserMoved(int left, int top);

protected:
    void Changed(TProp prop);
    static void Fire(const std::function<void()>& handler) {
        if (handler)
            handler();
    }

private:
    TControlKind ControlKind;
    std::string ControlName;
    TControl* ParentControl;
    std::vector<TControl*> ChildControls;
    std::string CaptionText;
    std::string HintText;
    bool IsEnabled = true;
    bool IsVisible = true;
    TBounds Box;
    TFont FontStyle;
    IControlPeer* Peer = nullptr;
};

class TLabel : public TControl {
public:
    TLabel(std::string name, TControl* parent) : TControl(TControlKind::Label, name, parent) {}
};

class TGroupBox : public TControl {
public:
    TGroupBox(std::string name, TControl* parent)
        : TControl(TControlKind::GroupBox, name, parent) {}
};

class TButton : public TControl {
public:
    TButton(std::string name, TControl* parent) : TControl(TControlKind::Button, name, parent) {}
    bool Default = false;
};

// Single-line edit; its text is the caption.
class TEdit : public TControl {
public:
    TEdit(std::string name, TControl* parent) : TControl(TControlKind::Edit, name, parent) {}
    const std::string& Text() const { return Caption(); }
    // Fires OnChange when the text changes.
    void SetText(const std::string& text);
    void UserSetText(const std::string& text);
    bool ReadOnly = false;
};

class TMemo : public TControl {
public:
    TMemo(std::string name, TControl* parent) : TControl(TControlKind::Memo, name, parent) {}
    const std::vector<std::string>& Lines() const { return Body.Lines; }
    size_t LineCount() const { return Body.Lines.size(); }
    // The memo's text: every line ended by CR LF, except a last line that text
    // was typed into without a line break yet (the caret stands after it).
    std::string Text() const;
    bool IsEmpty() const { return Body.Lines.empty(); }
    // The last line has no line break yet.
    bool LastLineOpen() const { return Body.Open; }
    // Every change fires OnChange.
    void Add(const std::string& line);
    // Appends every line as one change (nothing when there are none).
    void AddLines(const std::vector<std::string>& lines);
    void SetLine(size_t index, const std::string& line);
    void Clear();
    void SetLines(std::vector<std::string> lines);
    // Inserts text at the caret, which stays at the end of the text: the first
    // part continues an open last line, every CR LF starts a new line.
    void InsertText(const std::string& text);
    // Replaces line index with text; a trailing CR LF in text ends the line.
    void ReplaceLine(size_t index, const std::string& text);
    // Selects the whole text; the next change of the lines ends the selection.
    void SelectAll();
    bool AllSelected() const { return WholeSelected; }
    bool ReadOnly = false;

private:
    void LinesChanged();
    TTextLines Body;
    bool WholeSelected = false;
};

class TCheckBox : public TControl {
public:
    TCheckBox(std::string name, TControl* parent)
        : TControl(TControlKind::CheckBox, name, parent) {}
    bool Checked() const { return IsChecked; }
    // Fires OnClick when the state changes.
    void SetChecked(bool checked);
    // The user toggles the box (when enabled and visible): state, then OnClick.
    void UserClick() override;

private:
    bool IsChecked = false;
};

// Radio buttons with the same parent form one group.
class TRadioButton : public TControl {
public:
    TRadioButton(std::string name, TControl* parent)
        : TControl(TControlKind::RadioButton, name, parent) {}
    bool Checked() const { return IsChecked; }
    // Checking one clears the others of its group; fires OnClick when this one
    // becomes checked.
    void SetChecked(bool checked);
    // Selects the button; one that is already selected does nothing.
    void UserClick() override;

private:
    bool IsChecked = false;
};

class TComboBox : public TControl {
public:
    TComboBox(std::string name, TControl* parent)
        : TControl(TControlKind::ComboBox, name, parent) {}
    const std::vector<std::string>& Items() const { return ItemList; }
    void SetItems(std::vector<std::string> items); // selection becomes -1
    void AddItem(const std::string& item);
    void ClearItems();
    int ItemIndex() const { return Index; }
    void SetItemIndex(int index); // -1..count-1; fires nothing
    // The selected item's text, "" when nothing is selected.
    std::string Text() const;
    // The user picks an item: selection, then OnChange, then OnClick.
    void UserSelect(int index);

private:
    std::vector<std::string> ItemList;
    int Index = -1;
};

class TListView;

class TListItem {
public:
    std::string Caption;
    std::vector<std::string> SubItems;
    int StateIndex = -1;
    int ImageIndex = -1;
    intptr_t Data = 0;
    TListView* Owner() const { return ListOwner; }

private:
    friend class TListView;
    TListView* ListOwner = nullptr;
};

struct TListColumn {
    std::string Caption;
    int Width = 50;
};

enum class TViewStyle { Report, SmallIcon };

class TListView : public TControl {
public:
    TListView(std::string name, TControl* parent)
        : TControl(TControlKind::ListView, name, parent) {}

    TViewStyle ViewStyle = TViewStyle::Report;
    bool ShowColumnHeaders = true;
    bool ReadOnly = true;
    bool RowSelect = true;
    bool GridLines = false;
    std::string ImageListName; // the image list of the state or small pictures

    const std::vector<TListColumn>& Columns() const { return ColumnList; }
    void AddColumn(const std::string& caption, int width);

    size_t Count() const { return ItemList.size(); }
    TListItem* Item(size_t index) const { return ItemList[index].get(); }
    int IndexOf(const TListItem* item) const;
    TListItem* AddItem(); // caller fills it, then calls ItemsChanged()
    void DeleteItem(TListItem* item);
    void Clear();
    // Tells the peer that item texts or pictures changed.
    void ItemsChanged();

    TListItem* Selected() const { return SelectedItem; }
    // Fires OnSelectItem for the item that loses and the item that gains it.
    void SetSelected(TListItem* item);
    // Sorts with OnCompare (stable); without a handler, by caption.
    void AlphaSort();
    // Scrolls the item into view.
    void MakeVisible(TListItem* item);
    TListItem* ScrolledTo() const { return ScrollItem; }
    std::function<void(TListItem* item, bool selected)> OnSelectItem;
    std::function<void(int column)> OnColumnClick;
    std::function<void(TListItem* a, TListItem* b, int data, int& compare)> OnCompare;

    void UserSelect(TListItem* item) { SetSelected(item); }
    void UserColumnClick(int column);

    // Between BeginUpdate and the matching EndUpdate the list changes as
    // always (events included), but the peer hears of it only at the end,
    // once: the final rows and selection, then the scrolling. A real list
    // is redrawn whole after every change it is told of, which on some
    // systems costs more than the change itself. Nothing in between may
    // hand the window to the user (a message box), who would see the
    // rows of before.
    void BeginUpdate() { ++UpdateCount; }
    void EndUpdate();

private:
    void ListChanged(TProp prop);
    std::vector<TListColumn> ColumnList;
    std::vector<std::unique_ptr<TListItem>> ItemList;
    TListItem* SelectedItem = nullptr;
    TListItem* ScrollItem = nullptr;
    int UpdateCount = 0;
    bool PendingItems = false;
    bool PendingIndex = false;
    bool PendingScroll = false;
};

// BeginUpdate and EndUpdate of a list for one scope.
class TListUpdate {
public:
    explicit TListUpdate(TListView& list) : List(list) { List.BeginUpdate(); }
    ~TListUpdate() { List.EndUpdate(); }
    TListUpdate(const TListUpdate&) = delete;
    TListUpdate& operator=(const TListUpdate&) = delete;

private:
    TListView& List;
};

class TProgressBar : public TControl {
public:
    TProgressBar(std::string name, TControl* parent)
        : TControl(TControlKind::ProgressBar, name, parent) {}
    int Min() const { return RangeMin; }
    int Max() const { return RangeMax; }
    int Position() const { return Pos; }
    void SetRange(int min, int max);
    void SetPosition(int position); // kept inside Min..Max

private:
    int RangeMin = 0;
    int RangeMax = 100;
    int Pos = 0;
};

enum class TShapeType { Rectangle, RoundRect, Circle };

class TShape : public TControl {
public:
    TShape(std::string name, TControl* parent) : TControl(TControlKind::Shape, name, parent) {}
    TShapeType Shape() const { return ShapeKind; }
    void SetShape(TShapeType shape);
    TColor BrushColor() const { return Brush; }
    void SetBrushColor(TColor color);
    TColor PenColor() const { return Pen; }
    void SetPenColor(TColor color);

private:
    TShapeType ShapeKind = TShapeType::Rectangle;
    TColor Brush = clWhite;
    TColor Pen = clBlack;
};

class TImage : public TControl {
public:
    TImage(std::string name, TControl* parent) : TControl(TControlKind::Image, name, parent) {}
    int PictureId = 0; // resource id of the picture
    bool Center = true;
    bool AutoSize = true;
};

class TPageControl;

class TTabSheet : public TControl {
public:
    TTabSheet(std::string name, TPageControl* parent);
    bool TabVisible() const { return IsTabVisible; }
    void SetTabVisible(bool visible);
    int PageIndex() const;
    TPageControl* PageControl() const;

private:
    bool IsTabVisible = true;
};

class TPageControl : public TControl {
public:
    TPageControl(std::string name, TControl* parent)
        : TControl(TControlKind::PageControl, name, parent) {}
    const std::vector<TTabSheet*>& Pages() const { return PageList; }
    TTabSheet* ActivePage() const { return Active; }
    int ActivePageIndex() const;
    // From code: fires nothing. A hidden tab cannot become active.
    void SetActivePage(TTabSheet* page);
    void SetActivePageIndex(int index);
    // The user picks a tab: OnChange after the switch.
    void UserSelectPage(int index);

private:
    friend class TTabSheet;
    std::vector<TTabSheet*> PageList;
    TTabSheet* Active = nullptr;
};

// Pictures of one size, drawn by the Windows layer from its resources.
struct TImageList {
    std::string Name;
    int Width = 16;
    int Height = 16;
    std::vector<int> PictureIds; // resource ids, in image index order
};

class TForm : public TControl {
public:
    explicit TForm(std::string name) : TControl(TControlKind::Form, name, nullptr) {}
    // Every control below the form, in creation order.
    const std::vector<TControl*>& AllControls() const { return Registered; }
    TControl* FindControl(const std::string& name) const;
    // The control with the keyboard focus.
    TControl* ActiveControl() const { return Active; }
    void SetActiveControl(TControl* control);
    // The window system's handle of the real window, for calls that need an
    // owner window (device properties); null when there is none.
    void* NativeHandle = nullptr;
    bool Centered = true; // placed at the screen's centre when first shown
    bool Sizeable = false;
    bool MaximizeBox = false;
    // Window life events, fired by whoever creates, shows and closes the
    // window (the Windows layer, or a test).
    std::function<void()> OnCreate;
    std::function<void()> OnShow;
    // Asked before the user's close: false keeps the window open.
    std::function<bool()> OnCloseQuery;
    std::function<void()> OnClose;

private:
    friend class TControl;
    std::vector<TControl*> Registered;
    TControl* Active = nullptr;
};

} // namespace qvx
