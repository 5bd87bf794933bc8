#include "qvx/console_userio.h"

namespace qvx {

int TConsoleUserIo::ShowBox(const std::string& text, const std::string&, unsigned flags,
                            TBoxOwner) {
    std::string line = text;
    for (char& c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    {
        std::lock_guard<std::mutex> guard(Lock);
        Texts.push_back(line);
    }
    if (!Quiet)
        Console.Err(line + "\n");
    return (flags & 0x0F) == mb::YesNoCancel ? idbutton::Cancel : idbutton::Ok;
}

std::vector<std::string> TConsoleUserIo::Take() {
    std::lock_guard<std::mutex> guard(Lock);
    std::vector<std::string> texts;
    texts.swap(Texts);
    return texts;
}

} // namespace qvx
