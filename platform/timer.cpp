#include "platform/timers.h"

namespace qvx {

TTimer::~TTimer() {
    if (Id)
        Service.Stop(Id);
}

void TTimer::SetInterval(unsigned ms) {
    if (ms == IntervalMs)
        return;
    IntervalMs = ms;
    if (Id) {
        Service.Stop(Id);
        Id = 0;
    }
    Update();
}

void TTimer::SetEnabled(bool enabled) {
    if (enabled == IsEnabled)
        return;
    IsEnabled = enabled;
    Update();
}

void TTimer::Update() {
    bool run = IsEnabled && IntervalMs > 0;
    if (run && !Id) {
        Id = Service.Start(IntervalMs, [this] {
            if (OnTimer)
                OnTimer();
        });
    } else if (!run && Id) {
        Service.Stop(Id);
        Id = 0;
    }
}

} // namespace qvx
