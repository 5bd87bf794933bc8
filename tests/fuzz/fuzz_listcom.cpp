// The COM list's registry reads: the keys and values TListCOM reads (the
// watched services' Enum keys, the devices' keys below Enum, the device map)
// hold whatever the fuzz input says, and change between cycles. Every cycle
// must end, and the three lists must stay parallel.
#include "platform/memory/memory_registry.h"
#include "serdev/memory/stepped_list_clock.h"
#include "serdev/portlists.h"
#include "tests/fuzz/fuzz_link.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

using namespace qvx;

// Boxes close at once. One for the whole run: a box thread may still be
// inside ShowBox when its list goes away.
class TSilentUserIo : public IUserIo {
public:
    int ShowBox(const std::string&, const std::string&, unsigned, TBoxOwner) override {
        return idbutton::Ok;
    }
    bool OpenFileDialog(TOpenFileRequest&) override { return false; }
    bool SetClipboardText(const std::string&) override { return false; }
    bool ShellOpen(const std::string&, const std::string&, const std::string&) override {
        return false;
    }
};

std::string KeyPath(FuzzedDataProvider& in) {
    static const char* const Services[] = {"serenum", "usbser", "bthmodem", "BTDriver", "WudfRd"};
    const std::string id = in.ConsumeRandomLengthString(12);
    switch (in.ConsumeIntegralInRange(0, 4)) {
    case 0:
        return std::string("SYSTEM\\CurrentControlSet\\Services\\") +
               Services[in.ConsumeIntegralInRange(0, 4)] + "\\Enum";
    case 1:
        return "SYSTEM\\CurrentControlSet\\Enum\\" + id;
    case 2:
        return "SYSTEM\\CurrentControlSet\\Enum\\" + id + "\\Device Parameters";
    case 3:
        return "HARDWARE\\DEVICEMAP\\SERIALCOMM";
    default:
        return id;
    }
}

std::string ValueName(FuzzedDataProvider& in) {
    static const char* const Names[] = {"Count", "0", "1", "2", "FriendlyName", "PortName"};
    const int pick = in.ConsumeIntegralInRange(0, 6);
    return pick < 6 ? Names[pick] : in.ConsumeRandomLengthString(12);
}

// One change of the registry.
void Change(TMemoryRegistry& registry, FuzzedDataProvider& in) {
    const std::string path = KeyPath(in);
    const std::string name = ValueName(in);
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0:
        registry.SetString(path, name, in.ConsumeRandomLengthString(40));
        break;
    case 1:
        registry.SetDword(path, name, in.ConsumeIntegral<uint32_t>());
        break;
    case 2:
        registry.SetOther(path, name, in.ConsumeRandomLengthString(8));
        break;
    default:
        registry.RemoveValue(path, name);
        break;
    }
}

// Lets the cycle in progress end; returns the number of the idle sleep that
// follows it.
size_t FinishCycle(TSteppedListClock& clock, size_t sleep) {
    const uint32_t ms = clock.WaitSleep(sleep);
    FUZZ_CHECK(ms != 0); // 0: the cycle never came to its sleep
    if (ms == TListCOM::RebuildPause) {
        clock.Release(sleep);
        return FinishCycle(clock, sleep + 1);
    }
    FUZZ_CHECK(ms == TListThread::PollInterval);
    return sleep;
}

void CheckCopy(TListCOM& com) {
    TPortLists lists;
    FUZZ_CHECK(com.CopyLists(lists) == lists.Count());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TSilentUserIo userIo;
    FuzzedDataProvider in(data, size);
    const uint32_t majorVersion = in.ConsumeBool() ? 6 : 4;
    TMemoryRegistry registry;
    for (int n = in.ConsumeIntegralInRange(0, 12); n > 0; --n)
        Change(registry, in);

    TSteppedListClock clock;
    std::atomic<bool> listed{true};
    TListCOM com(registry, userIo, majorVersion, clock, &listed);
    size_t sleep = FinishCycle(clock, 1);
    CheckCopy(com);
    // Further cycles, each after some changes.
    for (int cycles = in.ConsumeIntegralInRange(0, 3); cycles > 0; --cycles) {
        for (int n = in.ConsumeIntegralInRange(0, 6); n > 0; --n)
            Change(registry, in);
        clock.Release(sleep);
        sleep = FinishCycle(clock, sleep + 1);
        CheckCopy(com);
    }
    return 0;
}
