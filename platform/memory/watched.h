#pragma once
// Watchers for fault tests: a user interface that tells the test of every box
// it shows, and a device link that records every write attempted after the
// request ended (once it closed the link).
#include "platform/bytes.h"
#include "platform/memory/scripted_userio.h"

#include <functional>
#include <string>
#include <vector>

namespace qvx {

// Boxes are recorded as usual; the test hears of each one as it is shown.
class TWatchedUserIo : public TScriptedUserIo {
public:
    std::function<void()> OnBox;
    int ShowBox(const std::string& text, const std::string& caption, unsigned flags,
                TBoxOwner owner) override {
        if (OnBox)
            OnBox();
        return TScriptedUserIo::ShowBox(text, caption, flags, owner);
    }
};

// Any link class, with a record of the writes made once `Ended` is set (by
// the test when the request showed its box, or by the first Close).
template <typename TLink> class TWatchedLink : public TLink {
public:
    using TLink::TLink;
    bool Ended = false;
    std::vector<Bytes> WritesAfterEnd;
    bool Write(const Bytes& bytes) override {
        if (Ended && !bytes.empty())
            WritesAfterEnd.push_back(bytes);
        return TLink::Write(bytes);
    }
    bool Close() override {
        if (this->IsOpen())
            Ended = true;
        return TLink::Close();
    }
};

} // namespace qvx
