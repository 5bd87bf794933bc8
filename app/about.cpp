// The About page's link labels.
#include "app/Unitmain.h"

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
    char text[512];
    std::snprintf(
        text, sizeof text, "mailto:%s?subject=Order%%20for%%20%s%%20Adapter%%20-%%20%04u%02u%02u",
        lbMail.Caption().c_str(), Settings.AppProductName.c_str(), date.Year, date.Month, date.Day);
    return text;
}

void TfrmMain::lbMailClick() {
    Platform.UserIo.ShellOpen(AboutMailText(), "", "");
}

} // namespace qvx
