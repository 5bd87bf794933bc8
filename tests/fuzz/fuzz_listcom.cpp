// The COM list's registry reads: the keys and values TComListReader reads
// (the watched services' Enum keys, the devices' keys below Enum, the device
// map) hold whatever the fuzz input says, and change between cycles. The
// cycles run on this thread, as TListCOM runs them on its own. Every cycle
// must end; one that reports no change keeps the lists as they were; a
// rebuild from the device map lists no device ids, one from the services
// only entries with a port name and a device id.
#include "platform/memory/memory_registry.h"
#include "serdev/portlists.h"
#include "tests/fuzz/fuzz_link.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

using namespace qvx;

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

// One cycle, checked against the lists it started from.
void RunCycle(TComListReader& reader, TPortLists& lists, bool legacy) {
    using TOutcome = TComListReader::TOutcome;
    const TPortLists before = lists;
    switch (reader.Cycle(lists)) {
    case TOutcome::Unchanged:
        FUZZ_CHECK(lists == before);
        break;
    case TOutcome::Rebuilt:
        for (const TPortEntry& e : lists.Entries)
            FUZZ_CHECK(e.DeviceId.empty());
        break;
    case TOutcome::ServicesRebuilt:
        FUZZ_CHECK(!legacy); // the legacy path reads the device map only
        for (const TPortEntry& e : lists.Entries)
            FUZZ_CHECK(!e.Name.empty() && !e.DeviceId.empty());
        break;
    case TOutcome::Failed:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const bool legacy = !in.ConsumeBool();
    TMemoryRegistry registry;
    for (int n = in.ConsumeIntegralInRange(0, 12); n > 0; --n)
        Change(registry, in);

    TComListReader reader(registry, legacy ? 4 : 6);
    TPortLists lists;
    RunCycle(reader, lists, legacy);
    // Further cycles, each after some changes.
    for (int cycles = in.ConsumeIntegralInRange(0, 3); cycles > 0; --cycles) {
        for (int n = in.ConsumeIntegralInRange(0, 6); n > 0; --n)
            Change(registry, in);
        RunCycle(reader, lists, legacy);
    }
    return 0;
}
