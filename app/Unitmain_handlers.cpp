// Event handlers of the main window. Each one is an empty stub for now; the
// window behaviour is filled in here handler by handler.
#include "app/Unitmain.h"

namespace qvx {

void TfrmMain::pcOptionsChange() {}
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

} // namespace qvx
