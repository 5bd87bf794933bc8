#pragma once
// What the console program needs of its process: its two output streams, a
// loop that runs the timers' ticks, the user's interrupt (Ctrl+C) and a clock.
// The Windows and the POSIX program each give one.
#include <cstdint>
#include <functional>
#include <string>

namespace qvx {

class IConsole {
public:
    virtual ~IConsole() = default;
    virtual void Out(const std::string& text) = 0;
    virtual void Err(const std::string& text) = 0;
    // Standard error is a terminal: a progress bar may be drawn there.
    virtual bool ErrIsTerminal() = 0;
    // Runs the timers' ticks on the calling thread until done() holds or the
    // user interrupts.
    virtual void RunUntil(const std::function<bool()>& done) = 0;
    // The user has interrupted (Ctrl+C) since the program started.
    virtual bool Interrupted() = 0;
    // Milliseconds of a steady clock.
    virtual uint64_t NowMs() = 0;
};

} // namespace qvx
