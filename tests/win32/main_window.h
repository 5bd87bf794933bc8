#pragma once
// The real main window over in-memory seams, for the window and screenshot tests.
#include "app/Unitmain.h"
#include "app/win32/win_form.h"
#include "platform/memory/memory_platform.h"
#include "tests/win32/win_probe.h"

#include <string>
#include <vector>

namespace qvx::probe {

// frmMain whose handlers record that they ran: the window layer is under
// test here, not what the handlers do.
class TObservedMain : public TfrmMain {
public:
    using TfrmMain::TfrmMain;
    std::vector<std::string> Calls;

    void FormCreate() override { Calls.push_back("FormCreate"); }
    void FormShow() override { Calls.push_back("FormShow"); }
    void FormClose() override { Calls.push_back("FormClose"); }
    void pcOptionsChange() override { Calls.push_back("pcOptionsChange"); }
    void btSearchClick() override { Calls.push_back("btSearchClick"); }
    void btRefreshClick() override { Calls.push_back("btRefreshClick"); }
    void cbCOMClick() override { Calls.push_back("cbCOMClick"); }
    void rbAddModeClick() override { Calls.push_back("rbAddModeClick"); }
    void lvModesColumnClick(int column) override {
        Calls.push_back("lvModesColumnClick " + std::to_string(column));
    }
    void lvModesDblClick() override { Calls.push_back("lvModesDblClick"); }
    void lvModesKeyPress(char& key) override {
        Calls.push_back("lvModesKeyPress " + std::to_string(static_cast<int>(key)));
    }
    void lvModesSelectItem(TListItem* item, bool selected) override {
        Calls.push_back("lvModesSelectItem " + (item ? item->Caption : std::string("-")) +
                        (selected ? " on" : " off"));
    }
    void lbRefClick() override { Calls.push_back("lbRefClick"); }
    void btRunTestClick() override { Calls.push_back("btRunTestClick"); }
};

using TInMemorySeams = TMemoryPlatform;

// The window, created and shown as the program's entry point does.
struct TMainWindow {
    TMainWindow() : Window(Form, {&Form.ilIcons}) {
        Window.OnError = [this](const std::string& message) { Errors.push_back(message); };
        Window.Show(SW_SHOWNOACTIVATE);
        Pump();
    }
    HWND H(const TControl& control) const { return Window.HandleOf(control); }
    void AddMode(const std::string& index, const std::string& number,
                 const std::string& description, int state) {
        TListItem* item = Form.lvModes.AddItem();
        item->Caption = index;
        item->SubItems = {number, description};
        item->StateIndex = state;
        Form.lvModes.ItemsChanged();
    }

    TCommonControls Controls;
    TInMemorySeams Seams;
    TObservedMain Form{Seams.Platform};
    TWin32Form Window;
    std::vector<std::string> Errors;
};

} // namespace qvx::probe
