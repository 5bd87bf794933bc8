// The COM list over the real registry under Wine: the test script's COM5 is
// registered as a Wine port, so the system lists it in SERIALCOMM.
#include "platform/memory/scripted_userio.h"
#include "platform/win32/win_libraries.h"
#include "platform/win32/win_registry.h"
#include "serdev/portlists.h"
#include "tests/win32/link_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace qvx {
namespace {

TEST(PortListsOnWine, ComPortOfTheSystemIsListed) {
    const char* port = std::getenv("QVX_TEST_COM_PORT");
    if (!port || !*port) {
        GTEST_SKIP() << "QVX_TEST_COM_PORT names no COM port (scripts/test.sh sets it)";
    }
    TWinRegistry registry;
    TWinLibraries libraries;
    TScriptedUserIo userIo;
    TPortListThreads lists(registry, libraries, userIo, 6);
    TPortLists found;
    TPortEntry entry;
    ASSERT_TRUE(Eventually([&] {
        found = TPortLists();
        lists.GetPortLists(found);
        for (const TPortEntry& e : found.Entries)
            if (e.Name == port)
                entry = e;
        return !entry.Name.empty();
    }));
    // On the fallback path the description is the device object name.
    EXPECT_EQ(entry.Description.rfind("\\Device\\", 0), 0u) << entry.Description;
    EXPECT_EQ(entry.DeviceId, "");
    EXPECT_TRUE(userIo.Boxes().empty());
}

} // namespace
} // namespace qvx
