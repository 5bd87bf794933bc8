// The port-list threads on the 32-bit target: the D2XX listing entry points
// are called through standard-call pointers, the threads run on the target's
// thread library.
#include "platform/memory/fake_libraries.h"
#include "platform/memory/memory_registry.h"
#include "platform/memory/scripted_userio.h"
#include "serdev/d2xx.h"
#include "serdev/memory/stepped_list_clock.h"
#include "serdev/portlists.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qvx {
namespace {

const char* const Serials[] = {"QX01", "QX02"};

FtStatus QVX_STDCALL TargetCreateDeviceInfoList(uint32_t* count) {
    *count = 2;
    return 0;
}

FtStatus QVX_STDCALL TargetGetDeviceInfoList(void* records, uint32_t* count) {
    auto* out = static_cast<uint8_t*>(records);
    for (uint32_t i = 0; i < *count && i < 2; ++i) {
        uint8_t* record = out + i * d2xxrecord::Size;
        std::memset(record, 0, d2xxrecord::Size);
        std::memcpy(record + d2xxrecord::SerialOffset, Serials[i], 4);
        std::memcpy(record + d2xxrecord::DescriptionOffset, "Quorvelix Adapter", 17);
    }
    return 0;
}

TEST(PortListsOnTarget, ListsComThenUsbAndPausesAndEnds) {
    TMemoryRegistry registry;
    registry.SetDword("SYSTEM\\CurrentControlSet\\Services\\serenum\\Enum", "Count", 1);
    registry.SetString("SYSTEM\\CurrentControlSet\\Services\\serenum\\Enum", "0", "ACPI\\1");
    registry.SetString("SYSTEM\\CurrentControlSet\\Enum\\ACPI\\1", "FriendlyName",
                       "Communications Port (COM1)");
    registry.SetString("SYSTEM\\CurrentControlSet\\Enum\\ACPI\\1\\Device Parameters", "PortName",
                       "COM1");
    TFakeLibraries libraries;
    libraries.Add(
        "mvd2xx.dll",
        {{"FT_CreateDeviceInfoList", reinterpret_cast<void*>(&TargetCreateDeviceInfoList)},
         {"FT_GetDeviceInfoList", reinterpret_cast<void*>(&TargetGetDeviceInfoList)}});
    TScriptedUserIo userIo;
    TSteppedListClock comClock, usbClock;
    TPortListThreads lists(registry, libraries, userIo, 6, comClock, usbClock);

    ASSERT_EQ(usbClock.WaitSleep(1), TListThread::PollInterval);
    ASSERT_EQ(comClock.WaitSleep(1), TListCOM::RebuildPause);
    comClock.Release(1);
    ASSERT_EQ(comClock.WaitSleep(2), TListThread::PollInterval);
    TPortLists merged;
    lists.GetPortLists(merged);
    EXPECT_EQ(merged.Names(), (std::vector<std::string>{"COM1", "USB:QX01", "USB:QX02"}));
    EXPECT_EQ(merged.Entries[0].Description, "Communications Port");
    EXPECT_EQ(merged.Entries[2].Description, "Quorvelix Adapter");

    lists.PauseLists();
    comClock.Release(2);
    usbClock.Release(1);
    EXPECT_EQ(comClock.WaitSleep(3), IListClock::Forever);
    EXPECT_EQ(usbClock.WaitSleep(2), IListClock::Forever);
    EXPECT_TRUE(userIo.Boxes().empty());
}

} // namespace
} // namespace qvx
