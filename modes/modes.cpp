// The mode list: what a selection enables, switching to the selected mode,
// hiding and showing modes, and sorting by column.
#include "app/Unitmain.h"
#include "platform/text.h"

#include <algorithm>

namespace qvx {

namespace {

const std::string& ModeNumber(const TListItem* item) {
    static const std::string none;
    return item && !item->SubItems.empty() ? item->SubItems[0] : none;
}

const std::string& ModeDescription(const TListItem* item) {
    static const std::string none;
    return item && item->SubItems.size() > 1 ? item->SubItems[1] : none;
}

} // namespace

void TfrmMain::lvModesSelectItem(TListItem* item, bool selected) {
    ModeItemSelected(item, selected, true);
}

void TfrmMain::ModeItemSelected(TListItem* item, bool /*selected*/, bool fromList) {
    SelectedModeItem = item;
    if (fromList && !lvModes.Enabled())
        return;
    if (!item)
        return;
    edModeRun.SetText(Settings.RegReadStr("Run", ModeNumber(item), ""));
    btModeFileDel.SetEnabled(false);
    btModeRun.SetEnabled(false);
    btModeFile.SetEnabled(true);
    const bool linked = !edModeRun.Text().empty();
    switch (item->StateIndex) {
    case 0:
        btModeSelect.SetEnabled(false);
        btModeHide.SetEnabled(false);
        btModeHide.SetCaption("Hide");
        btModeFileDel.SetEnabled(linked);
        btModeRun.SetEnabled(linked);
        break;
    case 1:
    case -1:
        btModeSelect.SetEnabled(true);
        btModeHide.SetEnabled(ModeNumber(item) != "000");
        btModeHide.SetCaption("Hide");
        btModeFileDel.SetEnabled(linked);
        btModeRun.SetEnabled(linked);
        break;
    case 2:
        btModeSelect.SetEnabled(false);
        btModeHide.SetEnabled(true);
        btModeHide.SetCaption("Show");
        break;
    default:
        btModeSelect.SetEnabled(false);
        btModeHide.SetEnabled(true);
        btModeHide.SetCaption("Order");
        break;
    }
}

void TfrmMain::btModeSelectClick() {
    if (!SelectedModeItem || lvModes.IndexOf(SelectedModeItem) < 0)
        return;
    if (SelectedModeItem->StateIndex != 1 && SelectedModeItem->StateIndex != -1)
        return;
    FocusAfterSession = &lvModes;
    Exchange.NextStateOnReply = ssSendSelectMode;
    StartSession();
}

void TfrmMain::lvModesDblClick() {
    btModeSelectClick();
}

void TfrmMain::lvModesKeyPress(char& key) {
    if (key == '\r' || key == ' ')
        btModeSelectClick();
}

void TfrmMain::lvModesMouseUp(int /*button*/, int /*x*/, int /*y*/) {
    if (SelectedModeItem && lvModes.IndexOf(SelectedModeItem) >= 0)
        lvModes.SetSelected(SelectedModeItem);
}

void TfrmMain::btModeHideClick() {
    TListItem* item = SelectedModeItem;
    if (!item || lvModes.IndexOf(item) < 0 || btModeHide.Caption().empty())
        return;
    switch (btModeHide.Caption()[0]) {
    case 'H':
        if (ModeNumber(item) == "000")
            return;
        Settings.RegWriteStr("Hide", ModeNumber(item), ModeDescription(item));
        item->StateIndex = 2;
        lvModes.ItemsChanged();
        ModeItemSelected(item, true, false);
        break;
    case 'S':
        Settings.RegWriteStr("Hide", ModeNumber(item), "");
        item->StateIndex = cbShow.Checked() ? 1 : -1;
        lvModes.ItemsChanged();
        ModeItemSelected(item, true, false);
        break;
    case 'O':
        SendOrderMail();
        break;
    default:
        break;
    }
}

void TfrmMain::lvModesColumnClick(int column) {
    if (lvModes.Count() == 0)
        return;
    SortDir = (column == SortCol && SortDir == 0) ? 1 : 0;
    SortCol = column;
    lvModes.AlphaSort();
    if (lvModes.Selected())
        lvModes.MakeVisible(lvModes.Selected());
}

void TfrmMain::lvModesCompare(TListItem* item1, TListItem* item2, int /*data*/, int& compare) {
    compare = 0;
    if (SortCol == 0) {
        compare = CompareFoldedAscii(item1->Caption, item2->Caption);
    } else {
        const size_t sub = static_cast<size_t>(SortCol - 1);
        if (SortCol > 0 && item1->SubItems.size() > sub && item2->SubItems.size() > sub)
            compare = CompareFoldedAscii(item1->SubItems[sub], item2->SubItems[sub]);
    }
    if (SortDir == 1)
        compare = -compare;
}

} // namespace qvx
