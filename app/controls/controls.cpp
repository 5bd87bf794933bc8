#include "app/controls/controls.h"

#include <algorithm>

namespace qvx {

// ---- TControl ----

TControl::TControl(TControlKind kind, std::string name, TControl* parent)
    : ControlKind(kind), ControlName(std::move(name)), ParentControl(parent) {
    if (ParentControl)
        ParentControl->ChildControls.push_back(this);
    TControl* root = ParentControl;
    while (root && root->ParentControl)
        root = root->ParentControl;
    if (root && root->ControlKind == TControlKind::Form)
        static_cast<TForm*>(root)->Registered.push_back(this);
}

TControl::~TControl() {
    if (ParentControl) {
        auto& siblings = ParentControl->ChildControls;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
        TControl* root = ParentControl;
        while (root->ParentControl)
            root = root->ParentControl;
        if (root->ControlKind == TControlKind::Form) {
            auto& all = static_cast<TForm*>(root)->Registered;
            all.erase(std::remove(all.begin(), all.end(), this), all.end());
        }
    }
}

void TControl::Changed(TProp prop) {
    if (Peer)
        Peer->PropertyChanged(*this, prop);
}

void TControl::SetCaption(const std::string& caption) {
    if (caption == CaptionText)
        return;
    CaptionText = caption;
    Changed(TProp::Caption);
}

void TControl::SetHint(const std::string& hint) {
    if (hint == HintText)
        return;
    HintText = hint;
    Changed(TProp::Hint);
}

void TControl::SetEnabled(bool enabled) {
    if (enabled == IsEnabled)
        return;
    IsEnabled = enabled;
    Changed(TProp::Enabled);
}

void TControl::SetVisible(bool visible) {
    if (visible == IsVisible)
        return;
    IsVisible = visible;
    Changed(TProp::Visible);
}

bool TControl::Showing() const {
    for (const TControl* c = this; c; c = c->ParentControl) {
        if (!c->IsVisible)
            return false;
        if (c->ControlKind == TControlKind::TabSheet) {
            const auto* sheet = static_cast<const TTabSheet*>(c);
            if (!sheet->TabVisible() || sheet->PageControl()->ActivePage() != sheet)
                return false;
        }
    }
    return true;
}

void TControl::SetBounds(int left, int top, int width, int height) {
    if (Box.Left == left && Box.Top == top && Box.Width == width && Box.Height == height)
        return;
    Box = TBounds{left, top, width, height};
    Changed(TProp::Bounds);
}

TBounds KeepInside(const TBounds& box, const TBounds& area) {
    const auto place = [](int at, int size, int start, int length) {
        if (size >= length || at < start)
            return start;
        return at + size > start + length ? start + length - size : at;
    };
    TBounds kept = box;
    kept.Left = place(box.Left, box.Width, area.Left, area.Width);
    kept.Top = place(box.Top, box.Height, area.Top, area.Height);
    return kept;
}

void TControl::UserMoved(int left, int top) {
    Box.Left = left;
    Box.Top = top;
}

void TControl::SetFont(const TFont& font) {
    if (font == FontStyle)
        return;
    FontStyle = font;
    Changed(TProp::Font);
}

void TControl::UserClick() {
    if (IsEnabled && Showing())
        Fire(OnClick);
}

void TControl::UserDblClick() {
    if (IsEnabled && Showing())
        Fire(OnDblClick);
}

void TControl::UserKeyPress(char key) {
    if (IsEnabled && Showing() && OnKeyPress)
        OnKeyPress(key);
}

void TControl::UserMouseUp(int button, int x, int y) {
    if (IsEnabled && Showing() && OnMouseUp)
        OnMouseUp(button, x, y);
}

void TControl::UserMouseEnter() {
    Fire(OnMouseEnter);
}

void TControl::UserMouseLeave() {
    Fire(OnMouseLeave);
}

// ---- TEdit ----

void TEdit::SetText(const std::string& text) {
    if (text == Caption())
        return;
    SetCaption(text);
    Fire(OnChange);
}

void TEdit::UserSetText(const std::string& text) {
    if (text == Caption())
        return;
    IControlPeer* peer = AttachedPeer();
    AttachPeer(nullptr); // the real control already shows it
    SetCaption(text);
    AttachPeer(peer);
    Fire(OnChange);
}

// ---- TMemo ----

std::string TMemo::Text() const {
    return Body.Text();
}

void TMemo::LinesChanged() {
    WholeSelected = false;
    Changed(TProp::Lines);
    Fire(OnChange);
}

void TMemo::Add(const std::string& line) {
    Body.Lines.push_back(line);
    Body.Open = false;
    LinesChanged();
}

void TMemo::AddLines(const std::vector<std::string>& lines) {
    if (lines.empty())
        return;
    Body.Lines.insert(Body.Lines.end(), lines.begin(), lines.end());
    Body.Open = false;
    LinesChanged();
}

void TMemo::SetLine(size_t index, const std::string& line) {
    if (index >= Body.Lines.size() || Body.Lines[index] == line)
        return;
    Body.Lines[index] = line;
    LinesChanged();
}

void TMemo::Clear() {
    if (Body.Lines.empty())
        return;
    Body.Lines.clear();
    Body.Open = false;
    LinesChanged();
}

void TMemo::SetLines(std::vector<std::string> lines) {
    if (lines == Body.Lines && !Body.Open)
        return;
    Body.Lines = std::move(lines);
    Body.Open = false;
    LinesChanged();
}

void TMemo::InsertText(const std::string& text) {
    if (Body.InsertText(text))
        LinesChanged();
}

void TMemo::ReplaceLine(size_t index, const std::string& text) {
    if (Body.ReplaceLine(index, text))
        LinesChanged();
}

void TMemo::SelectAll() {
    WholeSelected = true;
    Changed(TProp::Selection);
}

// ---- TCheckBox ----

void TCheckBox::SetChecked(bool checked) {
    if (checked == IsChecked)
        return;
    IsChecked = checked;
    Changed(TProp::Checked);
    Fire(OnClick);
}

void TCheckBox::UserClick() {
    if (!Enabled() || !Showing())
        return;
    SetChecked(!IsChecked);
}

// ---- TRadioButton ----

void TRadioButton::SetChecked(bool checked) {
    if (checked == IsChecked)
        return;
    IsChecked = checked;
    Changed(TProp::Checked);
    if (!checked)
        return;
    if (Parent())
        for (TControl* sibling : Parent()->Children())
            if (sibling != this && sibling->Kind() == TControlKind::RadioButton)
                static_cast<TRadioButton*>(sibling)->SetChecked(false);
    Fire(OnClick);
}

void TRadioButton::UserClick() {
    // A button that is already selected raises no click.
    if (!Enabled() || !Showing() || IsChecked)
        return;
    SetChecked(true);
}

// ---- TComboBox ----

void TComboBox::SetItems(std::vector<std::string> items) {
    ItemList = std::move(items);
    Index = -1;
    Changed(TProp::Items);
}

void TComboBox::AddItem(const std::string& item) {
    ItemList.push_back(item);
    Changed(TProp::Items);
}

void TComboBox::ClearItems() {
    ItemList.clear();
    Index = -1;
    Changed(TProp::Items);
}

void TComboBox::SetItemIndex(int index) {
    if (index < -1 || index >= static_cast<int>(ItemList.size()))
        index = -1;
    if (index == Index)
        return;
    Index = index;
    Changed(TProp::ItemIndex);
}

std::string TComboBox::Text() const {
    if (Index < 0 || Index >= static_cast<int>(ItemList.size()))
        return std::string();
    return ItemList[static_cast<size_t>(Index)];
}

void TComboBox::UserSelect(int index) {
    if (!Enabled() || !Showing() || index < 0 || index >= static_cast<int>(ItemList.size()))
        return;
    IControlPeer* peer = AttachedPeer();
    AttachPeer(nullptr);
    SetItemIndex(index);
    AttachPeer(peer);
    Fire(OnChange);
    Fire(OnClick);
}

// ---- TListView ----

void TListView::ListChanged(TProp prop) {
    if (UpdateCount == 0) {
        Changed(prop);
        return;
    }
    if (prop == TProp::Items)
        PendingItems = true;
    else if (prop == TProp::ItemIndex)
        PendingIndex = true;
    else
        PendingScroll = true;
}

void TListView::EndUpdate() {
    if (UpdateCount == 0 || --UpdateCount > 0)
        return;
    // The rows come with their selection.
    if (PendingItems)
        Changed(TProp::Items);
    else if (PendingIndex)
        Changed(TProp::ItemIndex);
    if (PendingScroll && ScrollItem)
        Changed(TProp::ScrollTo);
    PendingItems = PendingIndex = PendingScroll = false;
}

void TListView::AddColumn(const std::string& caption, int width) {
    ColumnList.push_back(TListColumn{caption, width});
    ListChanged(TProp::Items);
}

int TListView::IndexOf(const TListItem* item) const {
    for (size_t i = 0; i < ItemList.size(); ++i)
        if (ItemList[i].get() == item)
            return static_cast<int>(i);
    return -1;
}

TListItem* TListView::AddItem() {
    ItemList.push_back(std::make_unique<TListItem>());
    ItemList.back()->ListOwner = this;
    return ItemList.back().get();
}

void TListView::DeleteItem(TListItem* item) {
    int index = IndexOf(item);
    if (index < 0)
        return;
    if (item == SelectedItem)
        SetSelected(nullptr);
    if (item == ScrollItem)
        ScrollItem = nullptr;
    ItemList.erase(ItemList.begin() + index);
    ItemsChanged();
}

void TListView::Clear() {
    if (SelectedItem)
        SetSelected(nullptr);
    ScrollItem = nullptr;
    ItemList.clear();
    ItemsChanged();
}

void TListView::ItemsChanged() {
    ListChanged(TProp::Items);
}

void TListView::SetSelected(TListItem* item) {
    if (item && IndexOf(item) < 0)
        item = nullptr;
    if (item == SelectedItem)
        return;
    TListItem* previous = SelectedItem;
    SelectedItem = item;
    ListChanged(TProp::ItemIndex);
    if (previous && OnSelectItem)
        OnSelectItem(previous, false);
    if (item && OnSelectItem)
        OnSelectItem(item, true);
}

void TListView::AlphaSort() {
    std::stable_sort(
        ItemList.begin(), ItemList.end(),
        [this](const std::unique_ptr<TListItem>& a, const std::unique_ptr<TListItem>& b) {
            int compare = 0;
            if (OnCompare)
                OnCompare(a.get(), b.get(), 0, compare);
            else
                compare = a->Caption.compare(b->Caption);
            return compare < 0;
        });
    ItemsChanged();
}

void TListView::MakeVisible(TListItem* item) {
    if (IndexOf(item) < 0)
        return;
    ScrollItem = item;
    ListChanged(TProp::ScrollTo);
}

void TListView::UserColumnClick(int column) {
    if (Enabled() && OnColumnClick && column >= 0 && column < static_cast<int>(ColumnList.size()))
        OnColumnClick(column);
}

// ---- TProgressBar ----

void TProgressBar::SetRange(int min, int max) {
    if (max < min)
        max = min;
    RangeMin = min;
    RangeMax = max;
    Pos = std::clamp(Pos, RangeMin, RangeMax);
    Changed(TProp::Range);
}

void TProgressBar::SetPosition(int position) {
    position = std::clamp(position, RangeMin, RangeMax);
    if (position == Pos)
        return;
    Pos = position;
    Changed(TProp::Position);
}

// ---- TShape ----

void TShape::SetShape(TShapeType shape) {
    if (shape == ShapeKind)
        return;
    ShapeKind = shape;
    Changed(TProp::Appearance);
}

void TShape::SetBrushColor(TColor color) {
    if (color == Brush)
        return;
    Brush = color;
    Changed(TProp::Appearance);
}

void TShape::SetPenColor(TColor color) {
    if (color == Pen)
        return;
    Pen = color;
    Changed(TProp::Appearance);
}

// ---- TTabSheet / TPageControl ----

TTabSheet::TTabSheet(std::string name, TPageControl* parent)
    : TControl(TControlKind::TabSheet, std::move(name), parent) {
    parent->PageList.push_back(this);
    if (!parent->Active)
        parent->Active = this;
}

TPageControl* TTabSheet::PageControl() const {
    return static_cast<TPageControl*>(Parent());
}

int TTabSheet::PageIndex() const {
    const auto& pages = PageControl()->Pages();
    auto it = std::find(pages.begin(), pages.end(), this);
    return it == pages.end() ? -1 : static_cast<int>(it - pages.begin());
}

void TTabSheet::SetTabVisible(bool visible) {
    if (visible == IsTabVisible)
        return;
    IsTabVisible = visible;
    TPageControl* owner = PageControl();
    if (!visible && owner->Active == this) {
        // The next visible page takes over, as the system's tab control does.
        owner->Active = nullptr;
        for (TTabSheet* page : owner->PageList)
            if (page->IsTabVisible) {
                owner->Active = page;
                break;
            }
    }
    Changed(TProp::TabVisible);
    owner->Changed(TProp::ActivePage);
}

int TPageControl::ActivePageIndex() const {
    return Active ? Active->PageIndex() : -1;
}

void TPageControl::SetActivePage(TTabSheet* page) {
    if (page && (!page->TabVisible() || page->PageControl() != this))
        return;
    if (page == Active)
        return;
    Active = page;
    Changed(TProp::ActivePage);
}

void TPageControl::SetActivePageIndex(int index) {
    if (index < 0 || index >= static_cast<int>(PageList.size()))
        return;
    SetActivePage(PageList[static_cast<size_t>(index)]);
}

void TPageControl::UserSelectPage(int index) {
    if (index < 0 || index >= static_cast<int>(PageList.size()))
        return;
    TTabSheet* page = PageList[static_cast<size_t>(index)];
    if (!page->TabVisible() || page == Active)
        return;
    IControlPeer* peer = AttachedPeer();
    AttachPeer(nullptr);
    SetActivePage(page);
    AttachPeer(peer);
    Fire(OnChange);
}

// ---- TForm ----

void TForm::SetActiveControl(TControl* control) {
    Active = control;
    Changed(TProp::Focus);
}

TControl* TForm::FindControl(const std::string& name) const {
    for (TControl* c : Registered)
        if (c->Name() == name)
            return c;
    return nullptr;
}

} // namespace qvx
