// Event handlers of the main window. Each one is an empty stub for now; the
// window behaviour is filled in here handler by handler.
#include "app/Unitmain.h"

namespace qvx {

void TfrmMain::FormCreate() {}
void TfrmMain::FormShow() {}
void TfrmMain::FormClose() {}
void TfrmMain::pcOptionsChange() {}
void TfrmMain::cbPowerClick() {}
void TfrmMain::cbCOMClick() {}
void TfrmMain::btPortPropClick() {}
void TfrmMain::btRefreshClick() {}
void TfrmMain::btSearchClick() {}
void TfrmMain::lvModesColumnClick(int /*column*/) {}
void TfrmMain::lvModesCompare(TListItem* /*item1*/, TListItem* /*item2*/, int /*data*/,
                              int& /*compare*/) {}
void TfrmMain::lvModesDblClick() {}
void TfrmMain::lvModesKeyPress(char& /*key*/) {}
void TfrmMain::lvModesMouseUp(int /*button*/, int /*x*/, int /*y*/) {}
void TfrmMain::lvModesSelectItem(TListItem* /*item*/, bool /*selected*/) {}
void TfrmMain::btModeSelectClick() {}
void TfrmMain::btModeHideClick() {}
void TfrmMain::btModeFileClick() {}
void TfrmMain::btModeRunClick() {}
void TfrmMain::btModeFileDelClick() {}
void TfrmMain::btCopyClick() {}
void TfrmMain::edFW_FileChange() {}
void TfrmMain::btFW_FileClick() {}
void TfrmMain::rbUploadFWClick() {}
void TfrmMain::rbAddModeClick() {}
void TfrmMain::ckbNotSearchClick() {}
void TfrmMain::btUpdateRunClick() {}
void TfrmMain::btResetClick() {}
void TfrmMain::cbJ2534_DevicesChange() {}
void TfrmMain::btJ2534_RefreshClick() {}
void TfrmMain::btJ2534_ConfigClick() {}
void TfrmMain::btJ2534_LoadClick() {}
void TfrmMain::btJ2534_OpenClick() {}
void TfrmMain::btJ2534_VersionClick() {}
void TfrmMain::btJ2534_InfoClick() {}
void TfrmMain::memJ2534Change() {}
void TfrmMain::btJ2534_CopyClick() {}
void TfrmMain::btJ2534_Version_CheckClick() {}
void TfrmMain::btJ2534_InstallClick() {}
void TfrmMain::lbRefMouseEnter() {}
void TfrmMain::lbMailMouseEnter() {}
void TfrmMain::lbRefMouseLeave() {}
void TfrmMain::lbMailMouseLeave() {}
void TfrmMain::lbRefClick() {}
void TfrmMain::lbMailClick() {}
void TfrmMain::btRunTestClick() {}
void TfrmMain::memLogTestChange() {}
void TfrmMain::btCopyTestClick() {}
void TfrmMain::tmrSearchTimer() {}
void TfrmMain::tmrRefreshTimer() {}

} // namespace qvx
