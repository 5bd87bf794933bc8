// Reading an identity reply into the adapter record, the mode list, the log
// and the power display.
#include "session/identity.h"

#include "app/Unitmain.h"
#include "platform/text.h"

#include <cstdio>
#include <cstdlib>

namespace qvx {

namespace {

const std::string SelectedModeTag = "Selected Mode: ";

bool StartsWith(const std::string& line, const char* tag) {
    return line.compare(0, std::char_traits<char>::length(tag), tag) == 0;
}

std::string RestAfter(const std::string& line, const char* tag) {
    return line.substr(std::char_traits<char>::length(tag));
}

} // namespace

bool IsModeNumberChar(char ch, char last) {
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= last);
}

int FindModeMarker(const std::string& line) {
    for (size_t i = 0; i < 4; ++i) {
        if (i >= line.size())
            return 0; // ends before a non-number character
        if (IsModeNumberChar(line[i], 'Z'))
            continue;
        if (i == 0 || line.size() < i + 3)
            return 0;
        const std::string marker = line.substr(i, 3);
        if (marker == " - " || marker == " _ " || marker == " + " || marker == " * ")
            return static_cast<int>(i);
        return 0;
    }
    return 0; // four number characters: too long for a mode number
}

TModeEntry SplitModeLine(const std::string& line, int width) {
    const size_t w = static_cast<size_t>(width);
    TModeEntry entry;
    entry.Number = line.substr(0, w);
    entry.Marker = line[w + 1];
    entry.Description = line.size() > w + 3 ? line.substr(w + 3) : std::string();
    return entry;
}

bool ParseSupplyMillivolts(const std::string& line, int& millivolts) {
    // Characters from the 4th to the one before the last: the unit goes.
    if (line.size() < 4)
        return false;
    const std::string text = line.substr(3, line.size() - 4);
    float volts = 0;
    // A decimal number at the start of the text, single precision.
    if (std::sscanf(text.c_str(), "%f", &volts) != 1)
        return false;
    const float sum = static_cast<float>(volts + 0.55f);
    const float product = static_cast<float>(sum * 1000.0f);
    if (!(product > -2.0e9f && product < 2.0e9f))
        return false; // out of range (or not a number)
    millivolts = static_cast<int>(product);
    return true;
}

std::string FormatVolts(int millivolts) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%u.%03u", static_cast<unsigned>(millivolts / 1000),
                  static_cast<unsigned>(millivolts % 1000));
    return buffer;
}

bool TfrmMain::ParseReplyIntoLog() {
    // Pass 1: every line; a line the parser drops leaves the log.
    std::vector<std::string> lines = memLog.Lines();
    std::vector<std::string> kept;
    const size_t rowsBefore = lvModes.Count();
    ParsingReply = true;
    ReplyModeRead = false;
    for (const std::string& line : lines)
        if (ParseIdentityLine(line))
            kept.push_back(line);
    ParsingReply = false;
    // The list keeps its sort order while rows come in: the rows of the reply
    // are sorted once they are all in. The sort is stable, so this is the
    // order that sorting after every row gives, without sorting (and showing
    // the whole list again) once a row.
    if (lvModes.Count() > rowsBefore)
        lvModes.AlphaSort();
    memLog.SetLines(kept);
    // Pass 2: the running mode, once every mode line is listed.
    for (const std::string& line : kept)
        ApplySelectedMode(line);
    return true;
}

bool TfrmMain::ParseIdentityLine(const std::string& line) {
    if (StartsWith(line, SelectedModeTag.c_str()))
        return true;
    if (int width = FindModeMarker(line)) {
        ModeNumberWidth = width;
        const TModeEntry entry = SplitModeLine(line, width);
        int stateImage = -1;
        if (entry.Marker == '-') {
            std::string hideText = Settings.RegReadStr("Hide", entry.Number, "");
            if (entry.Number == "000")
                hideText.clear();
            if (line == StoredModeLine())
                hideText.clear();
            const bool hidden = entry.Description == hideText;
            if (cbShow.Checked())
                stateImage = hidden ? 2 : 1;
            else if (hidden)
                return true; // not listed, stays in the log
        } else {
            if (!cbShow.Checked())
                return false;
            stateImage = 3;
        }
        TListItem* item = lvModes.AddItem();
        char index[16];
        std::snprintf(index, sizeof index, "%02u", static_cast<unsigned>(lvModes.Count() - 1));
        item->Caption = index;
        item->SubItems = {entry.Number, entry.Description};
        item->StateIndex = stateImage;
        // ParseReplyIntoLog sorts the new rows.
        return stateImage != 3;
    }
    if (StartsWith(line, "USB-")) {
        AdapterInfo.CopyrightLine = line;
        edCopyRight.SetText(line);
    } else if (StartsWith(line, "CR:")) {
        AdapterInfo.CopyrightLine = RestAfter(line, "CR:");
        edCopyRight.SetText(AdapterInfo.CopyrightLine);
    } else if (StartsWith(line, "Serial Number: ") || StartsWith(line, "SN:")) {
        AdapterInfo.SerialNumber =
            RestAfter(line, StartsWith(line, "SN:") ? "SN:" : "Serial Number: ");
        edSerial.SetText(AdapterInfo.SerialNumber);
    } else if (StartsWith(line, "Signature: ") || StartsWith(line, "ID:")) {
        AdapterInfo.Signature = RestAfter(line, StartsWith(line, "ID:") ? "ID:" : "Signature: ");
        edSignature.SetText(AdapterInfo.Signature);
    } else if (StartsWith(line, "Version ") || StartsWith(line, "FW:")) {
        AdapterInfo.FirmwareVersion = RestAfter(line, StartsWith(line, "FW:") ? "FW:" : "Version ");
        edVersion.SetText(AdapterInfo.FirmwareVersion);
    } else if (StartsWith(line, "BW:")) {
        AdapterInfo.BootVersion = RestAfter(line, "BW:");
        edBootVer.SetText(AdapterInfo.BootVersion);
        tsTest.SetTabVisible(true);
        pbJ2534_Install.SetVisible(true);
    } else if (StartsWith(line, "Hardware: ") || StartsWith(line, "HW:")) {
        AdapterInfo.HardwareVersion =
            RestAfter(line, StartsWith(line, "HW:") ? "HW:" : "Hardware: ");
        edHardware.SetText(AdapterInfo.HardwareVersion);
    } else if (StartsWith(line, "PT:")) {
        AdapterInfo.DriverVersion = RestAfter(line, "PT:");
        btJ2534_Install.SetCaption("Install Driver v" + AdapterInfo.DriverVersion);
        btJ2534_Install.SetEnabled(true);
    } else if (StartsWith(line, "PI:")) {
        const std::string state = line.substr(3, 2);
        const bool off =
            state.size() == 2 && UpperAscii(state[0]) == 'O' && UpperAscii(state[1]) == 'F';
        AdapterInfo.PowerSwitchOn = !off;
        ShowPower(1, 1, off ? 0 : 1, -1);
    } else if (StartsWith(line, "UI:")) {
        int millivolts = 0;
        if (ParseSupplyMillivolts(line, millivolts))
            AdapterInfo.SupplyMillivolts = millivolts;
        else
            millivolts = -1; // not a number: the shown voltage stays
        ShowPower(1, 1, -1, millivolts);
    } else if (StartsWith(line, "PA:") || StartsWith(line, "UA:")) {
        // known lines without a field
    } else {
        return false;
    }
    return true;
}

const std::string& TfrmMain::StoredModeLine() {
    if (!ParsingReply || !ReplyModeRead) {
        ReplyMode = Settings.RegReadStr("", "Mode", "");
        ReplyModeRead = true;
    }
    return ReplyMode;
}

void TfrmMain::ApplySelectedMode(const std::string& line) {
    if (!StartsWith(line, SelectedModeTag.c_str()))
        return;
    const std::string rest = RestAfter(line, SelectedModeTag.c_str());
    const std::string number = rest.substr(0, static_cast<size_t>(ModeNumberWidth));
    for (size_t i = 0; i < lvModes.Count(); ++i) {
        TListItem* item = lvModes.Item(i);
        const std::string& itemNumber = item->SubItems.empty() ? std::string() : item->SubItems[0];
        if (itemNumber == number) {
            AdapterInfo.SelectedModeLine = rest;
            Settings.RegWriteStr("", "Mode", rest);
            item->StateIndex = 0;
            if (FocusAfterSession == &lvModes)
                SetActiveControl(&lvModes);
            lvModes.SetSelected(item);
            ModeItemSelected(item, true, false);
            lvModes.MakeVisible(item);
        } else if (cbShow.Checked()) {
            if (item->StateIndex < 2)
                item->StateIndex = 1;
        } else {
            item->StateIndex = -1;
        }
    }
    lvModes.ItemsChanged();
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

} // namespace qvx
