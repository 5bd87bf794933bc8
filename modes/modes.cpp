#include "modes/modes.h"

#include "platform/text.h"

#include <cstdio>
#include <ctime>

namespace qvx {

TModeActions ModeActions(int state, const std::string& number, bool linked) {
    TModeActions actions;
    switch (state) {
    case 0:
        actions.Unlink = actions.Run = linked;
        break;
    case 1:
    case -1:
        actions.Select = true;
        actions.Hide = number != "000";
        actions.Unlink = actions.Run = linked;
        break;
    case 2:
        actions.Hide = true;
        actions.HideCaption = "Show";
        break;
    default:
        actions.Hide = true;
        actions.HideCaption = "Order";
        break;
    }
    return actions;
}

TLocalDate LocalDateNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return TLocalDate{static_cast<unsigned>(local.tm_year + 1900),
                      static_cast<unsigned>(local.tm_mon + 1),
                      static_cast<unsigned>(local.tm_mday)};
}

std::string OrderMailText(const TOrderMail& mail,
                          const std::function<std::string(const std::string&)>& toUtf8) {
    auto value = [&](const std::string& text) { return PercentEncode(toUtf8(text)); };
    char dateText[16];
    std::snprintf(dateText, sizeof dateText, "%04u%02u%02u", mail.Date.Year, mail.Date.Month,
                  mail.Date.Day);
    std::string text = "mailto:" + PercentEncode(toUtf8(mail.Address), "@") +
                       "?subject=Order%20for%20Upgrade%20" + value(mail.Product) + "(" +
                       value(mail.Serial) + ")%20-%20" + dateText;
    text += "&body=Required Mode:%0A" + value(mail.Number) + "%20-%20" + value(mail.Description) +
            "%0A%0A" + std::string(40, '-') + "%0A";
    for (const std::string& line : mail.Log) {
        const std::string encoded = value(line) + "%0A";
        if (text.size() + encoded.size() > OrderMailMaxLength)
            break;
        text += encoded;
        if (line.compare(0, 3, "FW:") == 0)
            break;
    }
    return text;
}

void TModeList::LoadSortOrder(int32_t columns) {
    SortCol = Settings.RegReadInt("SortCol", 0);
    if (SortCol < 0 || SortCol >= columns) {
        SortCol = 0;
        Settings.RegWriteInt("SortCol", 0);
    }
    SortDir = Settings.RegReadInt("SortDir", 0);
}

void TModeList::SaveSortOrder() {
    Settings.RegWriteInt("SortCol", SortCol);
    Settings.RegWriteInt("SortDir", SortDir);
}

void TModeList::ColumnClicked(int column) {
    SortDir = (column == SortCol && SortDir == 0) ? 1 : 0;
    SortCol = column;
}

int TModeList::Compare(const std::string& a, const std::string& b) const {
    const int compare = CompareFoldedAscii(a, b);
    return SortDir == 1 ? -compare : compare;
}

std::string TModeList::LinkedProgram(const std::string& number) {
    return Settings.RegReadStr("Run", number, "");
}

void TModeList::LinkProgram(const std::string& number, const std::string& program) {
    Settings.RegWriteStr("Run", number, program);
}

void TModeList::Hide(const std::string& number, const std::string& description) {
    Settings.RegWriteStr("Hide", number, description);
}

void TModeList::Show(const std::string& number) {
    Settings.RegWriteStr("Hide", number, "");
}

} // namespace qvx
