// Reading an identity reply into the adapter record, the mode list, the log
// and the power display.
#include "session/identity.h"

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

std::vector<std::string> TIdentityReader::Read(const std::vector<std::string>& lines) {
    // Pass 1: every line; a line the reader drops leaves the log.
    std::vector<std::string> kept;
    const size_t rowsBefore = View.ModeCount();
    Reading = true;
    StoredModeRead = false;
    for (const std::string& line : lines)
        if (ReadLine(line))
            kept.push_back(line);
    Reading = false;
    // The list keeps its sort order while rows come in: the rows of the reply
    // are sorted once they are all in. The sort is stable, so this is the
    // order that sorting after every row gives, without sorting (and showing
    // the whole list again) once a row.
    if (View.ModeCount() > rowsBefore)
        View.SortModes();
    // Pass 2: the running mode, once every mode line is listed.
    for (const std::string& line : kept)
        ApplySelectedMode(line);
    return kept;
}

bool TIdentityReader::ReadLine(const std::string& line) {
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
            if (View.ShowAllModes())
                stateImage = hidden ? 2 : 1;
            else if (hidden)
                return true; // not listed, stays in the log
        } else {
            if (!View.ShowAllModes())
                return false;
            stateImage = 3;
        }
        char index[16];
        std::snprintf(index, sizeof index, "%02u", static_cast<unsigned>(View.ModeCount()));
        View.AddMode({index, entry.Number, entry.Description, stateImage});
        // Read sorts the new rows.
        return stateImage != 3;
    }
    TIdentityField field;
    std::string text;
    if (StartsWith(line, "USB-")) {
        field = TIdentityField::Copyright;
        text = Info.CopyrightLine = line;
    } else if (StartsWith(line, "CR:")) {
        field = TIdentityField::Copyright;
        text = Info.CopyrightLine = RestAfter(line, "CR:");
    } else if (StartsWith(line, "Serial Number: ") || StartsWith(line, "SN:")) {
        field = TIdentityField::Serial;
        text = Info.SerialNumber =
            RestAfter(line, StartsWith(line, "SN:") ? "SN:" : "Serial Number: ");
    } else if (StartsWith(line, "Signature: ") || StartsWith(line, "ID:")) {
        field = TIdentityField::Signature;
        text = Info.Signature = RestAfter(line, StartsWith(line, "ID:") ? "ID:" : "Signature: ");
    } else if (StartsWith(line, "Version ") || StartsWith(line, "FW:")) {
        field = TIdentityField::Firmware;
        text = Info.FirmwareVersion = RestAfter(line, StartsWith(line, "FW:") ? "FW:" : "Version ");
    } else if (StartsWith(line, "BW:")) {
        field = TIdentityField::Boot;
        text = Info.BootVersion = RestAfter(line, "BW:");
    } else if (StartsWith(line, "Hardware: ") || StartsWith(line, "HW:")) {
        field = TIdentityField::Hardware;
        text = Info.HardwareVersion =
            RestAfter(line, StartsWith(line, "HW:") ? "HW:" : "Hardware: ");
    } else if (StartsWith(line, "PT:")) {
        field = TIdentityField::Driver;
        text = Info.DriverVersion = RestAfter(line, "PT:");
    } else if (StartsWith(line, "PI:")) {
        const std::string state = line.substr(3, 2);
        const bool off =
            state.size() == 2 && UpperAscii(state[0]) == 'O' && UpperAscii(state[1]) == 'F';
        Info.PowerSwitchOn = !off;
        View.ShowPower(1, 1, off ? 0 : 1, -1);
        return true;
    } else if (StartsWith(line, "UI:")) {
        int millivolts = 0;
        if (ParseSupplyMillivolts(line, millivolts))
            Info.SupplyMillivolts = millivolts;
        else
            millivolts = -1; // not a number: the shown voltage stays
        View.ShowPower(1, 1, -1, millivolts);
        return true;
    } else if (StartsWith(line, "PA:") || StartsWith(line, "UA:")) {
        return true; // known lines without a field
    } else {
        return false;
    }
    View.ShowField(field, text);
    return true;
}

const std::string& TIdentityReader::StoredModeLine() {
    if (!Reading || !StoredModeRead) {
        StoredMode = Settings.RegReadStr("", "Mode", "");
        StoredModeRead = true;
    }
    return StoredMode;
}

void TIdentityReader::ApplySelectedMode(const std::string& line) {
    if (!StartsWith(line, SelectedModeTag.c_str()))
        return;
    const std::string rest = RestAfter(line, SelectedModeTag.c_str());
    const std::string number = rest.substr(0, static_cast<size_t>(ModeNumberWidth));
    const bool showAll = View.ShowAllModes();
    for (size_t i = 0; i < View.ModeCount(); ++i) {
        if (View.ModeNumberAt(i) == number) {
            Info.SelectedModeLine = rest;
            Settings.RegWriteStr("", "Mode", rest);
            View.SetModeStateAt(i, 0);
            View.SelectRunningMode(i);
        } else if (showAll) {
            if (View.ModeStateAt(i) < 2)
                View.SetModeStateAt(i, 1);
        } else {
            View.SetModeStateAt(i, -1);
        }
    }
    View.ModesChanged();
}

} // namespace qvx
