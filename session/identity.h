#pragma once
// The adapter's identity as its replies describe it, and the reading of an
// identity reply: the adapter record, the mode list, the log and the power
// display, shown through the window's identity view.
#include "platform/settings.h"

#include <cstddef>
#include <string>
#include <vector>

namespace qvx {

struct TAdapterInfo {
    std::string CopyrightLine;
    std::string SerialNumber;
    std::string Signature;
    std::string FirmwareVersion;
    std::string BootVersion;
    std::string HardwareVersion;
    // The pass-thru driver the adapter offers; only a later "PT:" line
    // replaces it (a new search does not clear it).
    std::string DriverVersion;
    bool PowerSwitchOn = false;
    int SupplyMillivolts = 0;
    std::string SelectedModeLine;
};

// One mode line: number, marker character and description.
struct TModeEntry {
    std::string Number;
    char Marker = '-';
    std::string Description;
};

// '0'-'9', or 'A' up to last.
bool IsModeNumberChar(char ch, char last);
// Length of the mode number (1 to 3) when the line is a mode line: the number
// followed by " - ", " _ ", " + " or " * "; 0 otherwise.
int FindModeMarker(const std::string& line);
// Splits a mode line of number width w.
TModeEntry SplitModeLine(const std::string& line, int width);
// The "UI:" line's voltage in millivolts: the number before the unit plus
// 0.55 V. False when the text does not begin with a number (the display then
// keeps what it showed).
bool ParseSupplyMillivolts(const std::string& line, int& millivolts);
// "%u.%03u" volts of millivolts.
std::string FormatVolts(int millivolts);

// The fields of the adapter record that the window shows.
enum class TIdentityField { Copyright, Serial, Signature, Firmware, Boot, Hardware, Driver };

// A row of the mode list: its index caption, the mode number and description,
// and its state picture (0 selected, 1 active, 2 hidden, 3 available, -1 none).
struct TModeRow {
    std::string Caption;
    std::string Number;
    std::string Description;
    int StateIndex = -1;
};

// What reading a reply shows. Rows are addressed by their index in the list
// as shown (sorted).
class IIdentityView {
public:
    virtual ~IIdentityView() = default;
    virtual void ShowField(TIdentityField field, const std::string& text) = 0;
    // -1 leaves a part as it is: visible, enabled, switch state (0 off, 1 on),
    // voltage (0 clears it).
    virtual void ShowPower(int visible, int enable, int switchState, int millivolts) = 0;
    // "Show ALL": hidden and available modes are listed too.
    virtual bool ShowAllModes() = 0;
    virtual size_t ModeCount() = 0;
    virtual void AddMode(const TModeRow& row) = 0;
    // Sorts the rows in the list's order.
    virtual void SortModes() = 0;
    virtual const std::string& ModeNumberAt(size_t index) = 0;
    virtual int ModeStateAt(size_t index) = 0;
    virtual void SetModeStateAt(size_t index, int state) = 0;
    // The running mode's row: selected and shown.
    virtual void SelectRunningMode(size_t index) = 0;
    // The states of the rows have changed.
    virtual void ModesChanged() = 0;
};

class TIdentityReader {
public:
    TIdentityReader(TSettingsStore& settings, IIdentityView& view)
        : Settings(settings), View(view) {}

    // The adapter as its last reply described it.
    TAdapterInfo Info;
    // Length of the mode number of the last mode line read.
    int ModeNumberWidth = 0;

    // Reads every line of a reply; returns the lines that stay in the log (a
    // line the reader drops leaves it). The running mode is applied once
    // every mode line is listed.
    std::vector<std::string> Read(const std::vector<std::string>& lines);
    // One line; false when it leaves the log.
    bool ReadLine(const std::string& line);
    // A "Selected Mode: " line marks its mode as the running one.
    void ApplySelectedMode(const std::string& line);

private:
    // The setting "Mode" that a mode line is compared with; read once per
    // reply, at its first mode line: only the running-mode pass after the
    // lines writes it.
    const std::string& StoredModeLine();

    TSettingsStore& Settings;
    IIdentityView& View;
    bool Reading = false;
    bool StoredModeRead = false;
    std::string StoredMode;
};

} // namespace qvx
