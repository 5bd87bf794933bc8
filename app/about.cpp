// The About page's link labels.
#include "app/Unitmain.h"

#include "platform/text.h"

#include <cstdio>

namespace qvx {

namespace {

// The hover and normal looks of a link: the template's style, the link's colour.
void TakeStyle(TLabel& link, const TLabel& style) {
    TFont font = link.Font();
    font.Bold = style.Font().Bold;
    font.Italic = style.Font().Italic;
    font.Underline = style.Font().Underline;
    link.SetFont(font);
}

} // namespace

void TfrmMain::lbRefMouseEnter() {
    TakeStyle(lbRef, lbRef_Over);
}
void TfrmMain::lbMailMouseEnter() {
    TakeStyle(lbMail, lbRef_Over);
}
void TfrmMain::lbRefMouseLeave() {
    TakeStyle(lbRef, lbRef_Off);
}
void TfrmMain::lbMailMouseLeave() {
    TakeStyle(lbMail, lbRef_Off);
}

void TfrmMain::lbRefClick() {
    Platform.UserIo.ShellOpen(lbRef.Caption(), "", "");
}

std::string TfrmMain::AboutMailText() const {
    const TLocalDate date = Today();
    char dateText[16];
    std::snprintf(dateText, sizeof dateText, "%04u%02u%02u", date.Year, date.Month, date.Day);
    IUserIo& io = Platform.UserIo;
    return "mailto:" + PercentEncode(io.AnsiToUtf8(lbMail.Caption()), "@") +
           "?subject=Order%20for%20" + PercentEncode(io.AnsiToUtf8(Settings.AppProductName)) +
           "%20Adapter%20-%20" + dateText;
}

void TfrmMain::lbMailClick() {
    Platform.UserIo.ShellOpen(AboutMailText(), "", "");
}

} // namespace qvx
