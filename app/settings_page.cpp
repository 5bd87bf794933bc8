// The Settings page: the port choice, the search, the mode list with its
// actions and linked programs, and the session log.
#include "app/Unitmain.h"
#include "platform/callconv.h"
#include "platform/text.h"

namespace qvx {

namespace {

constexpr unsigned RefreshMs = 500;

const std::string& ModeNumber(const TListItem* item) {
    static const std::string none;
    return item && !item->SubItems.empty() ? item->SubItems[0] : none;
}

const std::string& ModeDescription(const TListItem* item) {
    static const std::string none;
    return item && item->SubItems.size() > 1 ? item->SubItems[1] : none;
}

} // namespace

// ---- Ports ----

std::string TfrmMain::SelectedDeviceId() const {
    const TPortEntry* port = Ports.At(cbCOM.ItemIndex());
    return port ? port->DeviceId : std::string();
}

void TfrmMain::RebuildPortList(bool force) {
    TPortLists fresh;
    Link.GetPortLists(fresh);
    if (!force && fresh.Entries == Ports.Entries)
        return;
    Ports = TPortLists();
    cbCOM.ClearItems();
    if (fresh.Count() > 0) {
        const std::string stored = Settings.RegReadStr("", "Port", fresh.Entries[0].Name);
        std::vector<std::string> items;
        int selected = -1;
        for (size_t i = 0; i < fresh.Count(); ++i) {
            const TPortEntry& e = fresh.Entries[i];
            items.push_back(e.Name + " (" + e.Description + ")");
            if (e.Name == stored) // a name listed twice: the last one
                selected = static_cast<int>(i);
        }
        if (selected < 0)
            selected = 0;
        Ports = fresh;
        Ports.Selected = selected;
        cbCOM.SetItems(items);
        cbCOM.SetItemIndex(selected);
        if (!Locked)
            btPortProp.SetEnabled(!SelectedDeviceId().empty());
    }
    // While a request holds the window its controls stay locked; Unlock
    // sets them.
    if (!Locked)
        btSearch.SetEnabled(cbCOM.Items().size() > 0);
}

void TfrmMain::tmrRefreshTimer() {
    tmrRefresh.SetInterval(0);
    RebuildPortList(false);
    tmrRefresh.SetInterval(RefreshMs);
}

void TfrmMain::btRefreshClick() {
    Link.RequestUsbRescan();
    tmrRefresh.SetInterval(1);
}

void TfrmMain::cbCOMClick() {
    const int i = cbCOM.ItemIndex();
    if (i < 0) {
        btSearch.SetEnabled(false);
        return;
    }
    if (const TPortEntry* port = SelectedPort())
        Settings.RegWriteStr("", "Port", port->Name);
    btPortProp.SetEnabled(!SelectedDeviceId().empty());
}

void TfrmMain::btPortPropClick() {
    using TDevicePropertiesExA = int(QVX_STDCALL*)(void*, const char*, const char*, uint32_t, int);
    LibraryHandle lib = Platform.Libraries.Load("devmgr.dll");
    if (!lib)
        return;
    if (auto show =
            ResolveAs<TDevicePropertiesExA>(Platform.Libraries, lib, "DevicePropertiesExA")) {
        const std::string id = SelectedDeviceId();
        show(NativeHandle, nullptr, id.c_str(), 0, 0);
    }
    Platform.Libraries.Free(lib);
}

void TfrmMain::btSearchClick() {
    // A refused request changes nothing.
    if (!Session.LinkFree())
        return;
    lvInfo.SetVisible(cbShow.Checked());
    if (cbShow.Checked())
        lvInfo.SetBounds(lvInfo.Left(), lvInfo.Top(), btModeRun.Width(),
                         btModeRun.Top() - lvInfo.Top());
    FocusAfterSession = &lvModes;
    SelectedModeItem = nullptr;
    Session.Search(RequestInputs());
}

void TfrmMain::btCopyClick() {
    CopyToClipboard(memLog);
}

// ---- Mode list ----

void TfrmMain::lvModesSelectItem(TListItem* item, bool selected) {
    ModeItemSelected(item, selected, true);
}

void TfrmMain::ModeItemSelected(TListItem* item, bool /*selected*/, bool fromList) {
    SelectedModeItem = item;
    if (fromList && !lvModes.Enabled())
        return;
    if (!item)
        return;
    edModeRun.SetText(Modes.LinkedProgram(ModeNumber(item)));
    btModeFileDel.SetEnabled(false);
    btModeRun.SetEnabled(false);
    btModeFile.SetEnabled(true);
    const TModeActions actions =
        ModeActions(item->StateIndex, ModeNumber(item), !edModeRun.Text().empty());
    btModeSelect.SetEnabled(actions.Select);
    btModeHide.SetEnabled(actions.Hide);
    btModeHide.SetCaption(actions.HideCaption);
    if (actions.Unlink)
        btModeFileDel.SetEnabled(true);
    if (actions.Run)
        btModeRun.SetEnabled(true);
}

void TfrmMain::btModeSelectClick() {
    if (!SelectedModeItem || lvModes.IndexOf(SelectedModeItem) < 0)
        return;
    if (SelectedModeItem->StateIndex != 1 && SelectedModeItem->StateIndex != -1)
        return;
    if (!Session.LinkFree())
        return;
    FocusAfterSession = &lvModes;
    Session.Start(ssSendSelectMode, RequestInputs());
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
        Modes.Hide(ModeNumber(item), ModeDescription(item));
        item->StateIndex = 2;
        lvModes.ItemsChanged();
        ModeItemSelected(item, true, false);
        break;
    case 'S':
        Modes.Show(ModeNumber(item));
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
    Modes.ColumnClicked(column);
    lvModes.AlphaSort();
    if (lvModes.Selected())
        lvModes.MakeVisible(lvModes.Selected());
}

void TfrmMain::lvModesCompare(TListItem* item1, TListItem* item2, int /*data*/, int& compare) {
    compare = 0;
    const int col = Modes.SortCol;
    if (col == 0) {
        compare = Modes.Compare(item1->Caption, item2->Caption);
    } else {
        const size_t sub = static_cast<size_t>(col - 1);
        if (col > 0 && item1->SubItems.size() > sub && item2->SubItems.size() > sub)
            compare = Modes.Compare(item1->SubItems[sub], item2->SubItems[sub]);
    }
}

// ---- Programs linked to a mode ----

void TfrmMain::btModeFileClick() {
    std::string name = edModeRun.Text();
    if (Settings.OpenFileDialog("Executable files", "*.exe;*.bat;*.cmd", name)) {
        if (Platform.Files.FileExists(name)) {
            edModeRun.SetText(name);
            if (SelectedModeItem && !SelectedModeItem->SubItems.empty())
                Modes.LinkProgram(SelectedModeItem->SubItems[0], name);
        } else {
            Settings.ShowMessageBox("Error...", "Executable file \"" + name + "\" is not found.",
                                    mb::IconStop);
        }
    }
    if (!edModeRun.Text().empty()) {
        btModeFileDel.SetEnabled(true);
        btModeRun.SetEnabled(true);
    }
}

void TfrmMain::btModeFileDelClick() {
    if (Settings.ShowMessageBox("Unlink...", "Do you really want to unlink software?",
                                mb::YesNoCancel | mb::IconQuestion) != idbutton::Yes)
        return;
    edModeRun.SetText("");
    if (SelectedModeItem && !SelectedModeItem->SubItems.empty())
        Modes.LinkProgram(SelectedModeItem->SubItems[0], "");
    btModeFileDel.SetEnabled(false);
    btModeRun.SetEnabled(false);
}

void TfrmMain::btModeRunClick() {
    const std::string program = edModeRun.Text();
    Platform.UserIo.ShellOpen(program, "", FolderOf(program));
    Platform.Files.SetCurrentDir(Settings.AppDir);
}

std::string TfrmMain::OrderMailText() const {
    TOrderMail mail;
    mail.Date = Today();
    if (SelectedModeItem && SelectedModeItem->SubItems.size() > 1) {
        mail.Number = SelectedModeItem->SubItems[0];
        mail.Description = SelectedModeItem->SubItems[1];
    }
    mail.Address = lbMail.Caption();
    mail.Product = Settings.AppProductName;
    mail.Serial = edSerial.Text();
    mail.Log = memLog.Lines();
    return qvx::OrderMailText(
        mail, [this](const std::string& text) { return Platform.UserIo.AnsiToUtf8(text); });
}

void TfrmMain::SendOrderMail() {
    Platform.UserIo.ShellOpen(OrderMailText(), "", "");
}

} // namespace qvx
