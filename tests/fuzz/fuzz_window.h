#pragma once
// The main window over in-memory seams and a fuzz link, for the targets that
// drive whole sessions.
#include "app/Unitmain.h"
#include "platform/memory/memory_platform.h"
#include "tests/fuzz/fuzz_link.h"

namespace qvx {

// Wraps a body in the reply's start and end markers.
inline Bytes FramedBody(const Bytes& body) {
    return "\r\nCR:" + body + "\r\n\r\n";
}

struct TFuzzWindow : TMemoryPlatform {
    TFuzzWindow() {
        Form.Settings.AppProductName = "Quorvelix";
        Form.Settings.AppTitle = "Quorvelix Configurator Version 2.3.1.8";
        Link.Lists.Entries = {{"COM3", "Communications Port", "ACPI\\PNP0501\\1"}};
        Form.RebuildPortList(true);
        Form.cbCOM.SetItemIndex(0);
    }

    // Runs the session's ticks until it ends. A session always ends: after
    // its reply, or after the silence timeout, so one that is still running
    // after this many ticks hangs.
    void RunSession() {
        for (int i = 0; i < 20000 && Form.SessionState != ssIdle; ++i)
            Timers.Advance(10);
        FUZZ_CHECK(Form.SessionState == ssIdle);
        FUZZ_CHECK(!Link.IsOpen());
        FUZZ_CHECK(Link.WritesWhileClosed == 0);
    }

    TFuzzLink Link;
    TfrmMain Form{Platform, &Link};
};

} // namespace qvx
