#pragma once
// The adapter's identity as its replies describe it, and the pure parts of
// reading an identity reply: mode lines and the supply voltage.
#include <string>

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

} // namespace qvx
