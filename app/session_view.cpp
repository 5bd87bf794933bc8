// The session's views: the request controls it locks, the adapter's identity
// and power below the page control, and the mode list it fills; the session
// tick and the power switch.
#include "app/Unitmain.h"

namespace qvx {

void TfrmMain::tmrSearchTimer() {
    // A tick may add rows, sort them, mark the running mode and sort again
    // (the end of a search): the list shows the result once.
    TListUpdate modes(lvModes);
    Session.Tick();
}

void TfrmMain::cbPowerClick() {
    // Setting the box from a reply happens while it is disabled: no command.
    if (!cbPower.Enabled())
        return;
    // A refused request changes nothing.
    if (!Session.LinkFree())
        return;
    FocusAfterSession = &cbPower;
    btPower.SetEnabled(false);
    cbPower.SetEnabled(false);
    Session.Start(ssSendPower, RequestInputs());
}

const TPortEntry* TfrmMain::SelectedPort() {
    Ports.Selected = cbCOM.ItemIndex();
    return Ports.SelectedPort();
}

TRequestInputs TfrmMain::RequestInputs() {
    TRequestInputs inputs;
    if (const TPortEntry* port = SelectedPort())
        inputs.Port = *port;
    inputs.Mode = ModeToSelect();
    inputs.Power = PowerWanted();
    return inputs;
}

std::string TfrmMain::PortText() {
    return cbCOM.Text();
}

void TfrmMain::ArmTick(unsigned ms) {
    tmrSearch.SetInterval(ms);
}

void TfrmMain::Lock() {
    Locked = true;
    pcOptions.SetEnabled(false);
    ShowPower(-1, 0, -1, -1);
    lvModes.SetEnabled(false);
    memLog.Clear();
    for (TControl* c : std::initializer_list<TControl*>{
             &btModeSelect, &btCopy, &btSearch, &btModeHide, &cbShow, &btModeFile, &btModeFileDel,
             &btModeRun, &cbCOM, &btRefresh, &btPortProp, &btUpdateRun})
        c->SetEnabled(false);
}

void TfrmMain::Unlock(bool restoreFocus) {
    Locked = false;
    pcOptions.SetEnabled(true);
    ShowPower(-1, 1, -1, -1);
    lvModes.SetEnabled(true);
    btSearch.SetEnabled(true);
    cbShow.SetEnabled(true);
    cbCOM.SetEnabled(true);
    btPortProp.SetEnabled(!SelectedDeviceId().empty());
    btRefresh.SetEnabled(true);
    btCopy.SetEnabled(!memLog.IsEmpty());
    RefreshRunButton();
    btUpdateRun.SetCaption("Run");
    if (restoreFocus && FocusAfterSession) {
        SetActiveControl(FocusAfterSession);
        if (FocusAfterSession == &lvModes && lvModes.Count() > 0) {
            lvModes.AlphaSort();
            if (SelectedModeItem)
                lvModes.MakeVisible(SelectedModeItem);
        }
    }
    FocusAfterSession = nullptr;
}

void TfrmMain::ClearIdentity() {
    ClearModes();
    for (TEdit* e : {&edModeRun, &edSerial, &edTest_Result, &edCopyRight, &edSignature, &edVersion,
                     &edBootVer, &edHardware})
        e->SetText("");
    memLogTest.Clear();
    shpTest_Result.SetBrushColor(clScrollBar);
    tsTest.SetTabVisible(false);
    lbJ2534_Message.SetVisible(false);
    pbJ2534_Install.SetVisible(false);
    shJ2534_Install.SetVisible(false);
    btJ2534_Install.SetEnabled(false);
    ShowPower(0, 0, 0, 0);
}

void TfrmMain::ClearModes() {
    lvModes.Clear();
    SelectedModeItem = nullptr;
}

void TfrmMain::ShowLog(const std::vector<std::string>& lines) {
    memLog.SetLines(lines);
}

std::string TfrmMain::ModeToSelect() {
    if (SelectedModeItem && lvModes.IndexOf(SelectedModeItem) >= 0 &&
        !SelectedModeItem->SubItems.empty())
        return SelectedModeItem->SubItems[0];
    return std::string();
}

bool TfrmMain::PowerWanted() {
    return cbPower.Checked();
}

void TfrmMain::EnablePages() {
    pcOptions.SetEnabled(true);
}

bool TfrmMain::StartUpload() {
    // The boot loader answers every frame within a second; 30 s of silence
    // after its prompt means it has stopped.
    constexpr unsigned BootLoaderSilenceMs = 30000;
    if (!Updater.StartUpload(Link, edFW_File.Text(), ckbWait.Checked(), BootLoaderSilenceMs))
        return false;
    btUpdateRun.SetEnabled(true);
    return true;
}

bool TfrmMain::Uploading() {
    return Updater.IsUploading();
}

void TfrmMain::ShowField(TIdentityField field, const std::string& text) {
    switch (field) {
    case TIdentityField::Copyright:
        edCopyRight.SetText(text);
        break;
    case TIdentityField::Serial:
        edSerial.SetText(text);
        break;
    case TIdentityField::Signature:
        edSignature.SetText(text);
        break;
    case TIdentityField::Firmware:
        edVersion.SetText(text);
        break;
    case TIdentityField::Boot:
        // A boot loader version means the adapter can test itself and take
        // the pass-thru driver.
        edBootVer.SetText(text);
        tsTest.SetTabVisible(true);
        pbJ2534_Install.SetVisible(true);
        break;
    case TIdentityField::Hardware:
        edHardware.SetText(text);
        break;
    case TIdentityField::Driver:
        btJ2534_Install.SetCaption("Install Driver v" + text);
        btJ2534_Install.SetEnabled(true);
        break;
    }
}

void TfrmMain::ShowPower(int visible, int enable, int switchState, int millivolts) {
    TControl* controls[] = {&cbPower, &edPower, &lbPower, &btPower};
    if (visible == 0) {
        for (TControl* c : controls)
            c->SetVisible(false);
        return;
    }
    if (visible > 0 && !cbPower.Visible())
        for (TControl* c : controls)
            c->SetVisible(true);
    if (enable == 0) {
        for (TControl* c : controls)
            c->SetEnabled(false);
        return;
    }
    if (enable > 0 && !cbPower.Enabled())
        for (TControl* c : controls)
            c->SetEnabled(true);
    // The box is set while disabled: its click handler ignores that.
    cbPower.SetEnabled(false);
    if (switchState == 0)
        cbPower.SetChecked(false);
    else if (switchState > 0 && !cbPower.Checked())
        cbPower.SetChecked(true);
    cbPower.SetEnabled(true);
    if (millivolts == 0)
        edPower.SetText("");
    else if (millivolts > 0)
        edPower.SetText(FormatVolts(millivolts));
}

bool TfrmMain::ShowAllModes() {
    return cbShow.Checked();
}

size_t TfrmMain::ModeCount() {
    return lvModes.Count();
}

void TfrmMain::AddMode(const TModeRow& row) {
    TListItem* item = lvModes.AddItem();
    item->Caption = row.Caption;
    item->SubItems = {row.Number, row.Description};
    item->StateIndex = row.StateIndex;
}

void TfrmMain::SortModes() {
    lvModes.AlphaSort();
}

const std::string& TfrmMain::ModeNumberAt(size_t index) {
    static const std::string none;
    const TListItem* item = lvModes.Item(index);
    return item->SubItems.empty() ? none : item->SubItems[0];
}

int TfrmMain::ModeStateAt(size_t index) {
    return lvModes.Item(index)->StateIndex;
}

void TfrmMain::SetModeStateAt(size_t index, int state) {
    lvModes.Item(index)->StateIndex = state;
}

void TfrmMain::SelectRunningMode(size_t index) {
    TListItem* item = lvModes.Item(index);
    if (FocusAfterSession == &lvModes)
        SetActiveControl(&lvModes);
    lvModes.SetSelected(item);
    ModeItemSelected(item, true, false);
    lvModes.MakeVisible(item);
}

void TfrmMain::ModesChanged() {
    lvModes.ItemsChanged();
}

} // namespace qvx
