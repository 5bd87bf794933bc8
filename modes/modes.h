#pragma once
// The mode list's rules that do not depend on how it is shown: the sort
// order, which actions a selected mode offers, the hidden modes and the
// programs linked to mode numbers (both kept in the settings), and the order
// mail for a mode the adapter offers but does not run yet.
#include "platform/settings.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qvx {

// What the buttons of the mode list offer for the selected mode.
struct TModeActions {
    bool Select = false;
    bool Hide = false;
    // "Hide", "Show" or "Order".
    const char* HideCaption = "Hide";
    // Unlinking and running the linked program.
    bool Unlink = false;
    bool Run = false;
};

// state: the row's state picture (0 selected, 1 active, 2 hidden, 3
// available, -1 none); linked: a program is linked to the mode.
TModeActions ModeActions(int state, const std::string& number, bool linked);

struct TLocalDate {
    unsigned Year = 0;
    unsigned Month = 0;
    unsigned Day = 0;
};
// Today's local date.
TLocalDate LocalDateNow();

// The order mail's parts: the support address, the product, the adapter's
// serial number, the mode wanted and the session log (up to its "FW:" line).
struct TOrderMail {
    std::string Address;
    std::string Product;
    std::string Serial;
    std::string Number;
    std::string Description;
    std::vector<std::string> Log;
    TLocalDate Date;
};
// Longest order mail link: log lines are left out from the end to stay within
// it (the mode line always stays).
constexpr size_t OrderMailMaxLength = 2000;
// The "mailto:" text of the order mail. Every inserted value is converted to
// UTF-8 with toUtf8 and percent-encoded, so that the mail program shows the
// window's text exactly and no value can add or cut a field of the link; the
// address keeps its "@".
std::string OrderMailText(const TOrderMail& mail,
                          const std::function<std::string(const std::string&)>& toUtf8);

class TModeList {
public:
    explicit TModeList(TSettingsStore& settings) : Settings(settings) {}

    // Sort column (0 "#", 1 "ID", 2 "Description") and direction (1 = down).
    int32_t SortCol = 0;
    int32_t SortDir = 0;

    // The stored sort order; a stored column outside [0, columns) is put
    // back to 0.
    void LoadSortOrder(int32_t columns);
    void SaveSortOrder();
    // A click on column: the same column again turns the direction round.
    void ColumnClicked(int column);
    // Compares two rows' texts of the sort column, in the sort direction.
    int Compare(const std::string& a, const std::string& b) const;

    // The program linked to a mode number; "" when none.
    std::string LinkedProgram(const std::string& number);
    void LinkProgram(const std::string& number, const std::string& program);
    // Hiding stores the description that is hidden; showing clears it.
    void Hide(const std::string& number, const std::string& description);
    void Show(const std::string& number);

private:
    TSettingsStore& Settings;
};

} // namespace qvx
