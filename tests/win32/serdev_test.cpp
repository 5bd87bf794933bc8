// The device link over the stand-in D2XX library, under Wine.
#include "platform/memory/scripted_userio.h"
#include "serdev/win32/Serdev.h"
#include "tests/win32/link_test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <thread>

namespace qvx {
namespace {

// Loads real libraries, optionally under another file name, and can pretend
// that a name does not exist.
class TMappedLoader : public ILibraryLoader {
public:
    std::map<std::string, std::string> Map; // requested name -> file to load ("" = missing)
    std::vector<std::string> Tried;
    LibraryHandle Load(const std::string& name) override {
        Tried.push_back(name);
        auto it = Map.find(name);
        std::string file = it == Map.end() ? name : it->second;
        if (file.empty())
            return nullptr;
        return LoadLibraryA(file.c_str());
    }
    void* Resolve(LibraryHandle lib, const std::string& name) override {
        return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name.c_str()));
    }
    void Free(LibraryHandle lib) override { FreeLibrary(static_cast<HMODULE>(lib)); }
};

// The stand-in's control exports, from the same module the link loads.
struct TStandIn {
    HMODULE Module = LoadLibraryA("mvd2xx.dll");
    template <typename Fn> Fn Get(const char* name) {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(Module, name)));
    }
    void Reset() { Get<void (*)()>("QvxStandIn_Reset")(); }
    void Add(const char* serial, const char* description = "Simulated adapter") {
        Get<int (*)(const char*, const char*)>("QvxStandIn_AddDevice")(serial, description);
    }
    // A simulated adapter with this configuration text instead of pushed bytes.
    bool AddSim(const char* serial, const char* config) {
        char error[256] = {};
        return Get<int (*)(const char*, const char*, const char*, char*, int)>(
                   "QvxStandIn_AddSimDevice")(serial, "Simulated adapter", config, error,
                                              sizeof error) != 0;
    }
    std::string SimCommands(const char* serial) {
        auto fn = Get<int (*)(const char*, char*, int)>("QvxStandIn_SimCommands");
        const int n = fn(serial, nullptr, 0);
        std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
        fn(serial, &s[0], static_cast<int>(s.size()));
        return s;
    }
    void Push(const char* serial, const std::string& data, int rate = 0) {
        Get<int (*)(const char*, const char*, int, int)>("QvxStandIn_Push")(
            serial, data.data(), static_cast<int>(data.size()), rate);
    }
    void Stream(const char* serial, int rate, unsigned total) {
        Get<int (*)(const char*, int, unsigned)>("QvxStandIn_Stream")(serial, rate, total);
    }
    std::string Taken(const char* serial) {
        auto fn = Get<int (*)(const char*, char*, int)>("QvxStandIn_Taken");
        std::string s(static_cast<size_t>(fn(serial, nullptr, 0)), '\0');
        fn(serial, &s[0], static_cast<int>(s.size()));
        return s;
    }
    std::vector<unsigned> WriteSizes(const char* serial) {
        auto fn = Get<int (*)(const char*, unsigned*, int)>("QvxStandIn_WriteSizes");
        std::vector<unsigned> v(static_cast<size_t>(fn(serial, nullptr, 0)));
        fn(serial, v.data(), static_cast<int>(v.size()));
        return v;
    }
    unsigned Unread(const char* serial) {
        unsigned released = 0, unread = 0;
        Get<int (*)(const char*, unsigned*, unsigned*)>("QvxStandIn_Stats")(serial, &released,
                                                                            &unread);
        return unread;
    }
    void FailOpen(unsigned status) { Get<void (*)(unsigned)>("QvxStandIn_FailOpen")(status); }
    int LastByteSize(const char* serial) {
        return Get<int (*)(const char*)>("QvxStandIn_LastByteSize")(serial);
    }
};

class SerDevTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(StandIn.Module, nullptr) << "mvd2xx.dll stand-in not found beside the tests";
        StandIn.Reset();
        StandIn.Add(Serial);
        auto lists = std::make_unique<TCountingLists>();
        Lists = lists.get();
        Link = std::make_unique<TSerDev>(UserIo, Loader, std::move(lists));
        Link->SetPortName("USB:A1B2C3D4E5F6");
    }
    void TearDown() override {
        if (Link)
            Link->Close();
        StandIn.Reset();
    }
    Bytes ReadAll(size_t want) { return ReadAllFrom(*Link, want); }

    // The device the link opens: the first 8 characters of the port name's
    // serial number, which the stand-in, like a real library, takes only exactly.
    const char* Serial = "A1B2C3D4";
    TStandIn StandIn;
    TScriptedUserIo UserIo;
    TMappedLoader Loader;
    TCountingLists* Lists = nullptr;
    std::unique_ptr<TSerDev> Link;
};

TEST_F(SerDevTest, OpensUsbDeviceByFirstEightCharactersAndPausesListsWhileOpen) {
    // Devices a cut of 7, 9 or no cut at all would open instead.
    for (const char* other : {"A1B2C3D", "A1B2C3D4E", "A1B2C3D4E5F6"})
        StandIn.Add(other);
    ASSERT_TRUE(Link->Open());
    EXPECT_TRUE(Link->IsOpen());
    StandIn.Push(Serial, "x");
    EXPECT_EQ(ReadAll(1), "x");
    EXPECT_EQ(Lists->Pauses, 1);
    EXPECT_EQ(Lists->Resumes, 0);
    EXPECT_TRUE(UserIo.Boxes().empty());
    EXPECT_TRUE(Link->Close());
    EXPECT_FALSE(Link->IsOpen());
    EXPECT_EQ(Lists->Resumes, 1);
    // Closing a closed link does nothing.
    EXPECT_TRUE(Link->Close());
    EXPECT_EQ(Lists->Resumes, 1);
}

TEST_F(SerDevTest, OpenWhileOpenClosesTheOldLinkFirst) {
    ASSERT_TRUE(Link->Open());
    ASSERT_TRUE(Link->Open());
    EXPECT_EQ(Lists->Pauses, 2);
    EXPECT_EQ(Lists->Resumes, 1);
    EXPECT_TRUE(Link->IsOpen());
}

TEST_F(SerDevTest, WritesLargeTextInChunksOf16384) {
    ASSERT_TRUE(Link->Open());
    Bytes text(40000, '\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>(i * 7);
    EXPECT_TRUE(Link->Write(text));
    ASSERT_TRUE(Eventually(
        [&] { return Link->OutputCount() == 0 && StandIn.Taken(Serial).size() == 40000; }));
    EXPECT_EQ(StandIn.WriteSizes(Serial), (std::vector<unsigned>{16384, 16384, 7232}));
    EXPECT_EQ(StandIn.Taken(Serial), text);
}

TEST_F(SerDevTest, WriteOnClosedLinkFailsUnlessEmpty) {
    EXPECT_TRUE(Link->Write(""));
    EXPECT_FALSE(Link->Write("x"));
    EXPECT_EQ(Link->InputCount(), 0);
    EXPECT_EQ(Link->OutputCount(), 0);
}

TEST_F(SerDevTest, AllByteValuesPassBothWaysUnchanged) {
    ASSERT_TRUE(Link->Open());
    Bytes all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[static_cast<size_t>(i)] = static_cast<char>(i);
    StandIn.Push(Serial, all);
    EXPECT_EQ(ReadAll(256), all);
    ASSERT_TRUE(Link->Write(all));
    ASSERT_TRUE(Eventually([&] { return StandIn.Taken(Serial).size() == 256; }));
    EXPECT_EQ(StandIn.Taken(Serial), all);
}

TEST_F(SerDevTest, FullBufferHoldsInputUntilTheConsumerTakesAll) {
    ASSERT_TRUE(Link->Open());
    StandIn.Push(Serial, Bytes(20000, 'x'));
    // Once the reader stopped taking, the rest waits in the device's queue.
    ASSERT_TRUE(Eventually([&] { return StandIn.Unread(Serial) == 20000 - 16384; }));
    EXPECT_EQ(Link->InputCount(), 16384);
    Bytes first;
    EXPECT_TRUE(Link->ReadAvailable(first));
    EXPECT_EQ(first.size(), 16384u);
    // The next consumer operation releases the buffer; the rest arrives.
    EXPECT_EQ(ReadAll(20000 - 16384).size(), size_t(20000 - 16384));
}

TEST_F(SerDevTest, ReadAvailableWithNothingLeavesTextUnchanged) {
    ASSERT_TRUE(Link->Open());
    Bytes text = "keep";
    EXPECT_TRUE(Link->ReadAvailable(text));
    EXPECT_EQ(text, "keep");
}

TEST_F(SerDevTest, ReadWaitReturnsFalseWhenIdleAndStopsAt65536) {
    ASSERT_TRUE(Link->Open());
    Bytes text = "keep";
    EXPECT_FALSE(Link->ReadWait(text, 100));
    EXPECT_EQ(text, "keep");
    StandIn.Stream(Serial, 0, 200000);
    EXPECT_TRUE(Link->ReadWait(text, 1000));
    ASSERT_EQ(text.size(), 65536u);
    for (size_t i = 0; i < text.size(); ++i)
        ASSERT_EQ(static_cast<uint8_t>(text[i]), static_cast<uint8_t>(i)) << "at " << i;
}

TEST_F(SerDevTest, SetByteSizeReachesThePort) {
    ASSERT_TRUE(Link->Open());
    Link->ReadLineState();
    EXPECT_EQ(Link->ByteSize(), 7);
    EXPECT_EQ(Link->SetByteSize(8), 8);
    EXPECT_EQ(StandIn.LastByteSize(Serial), 8);
}

TEST_F(SerDevTest, UnknownDeviceNamesAreRefusedWithABox) {
    for (const char* name : {"LPT1", ""}) {
        UserIo.Clear();
        Link->SetPortName(name);
        EXPECT_FALSE(Link->Open());
        ASSERT_EQ(UserIo.Boxes().size(), 1u) << name;
        EXPECT_EQ(UserIo.Boxes()[0].Text, "Error: Can not to open unknown device.");
        EXPECT_EQ(UserIo.Boxes()[0].Caption, std::string("Open Port(") + name + ") Error...");
        EXPECT_EQ(UserIo.Boxes()[0].Flags, mb::IconInformation);
    }
    EXPECT_EQ(Lists->Pauses, Lists->Resumes);
}

TEST_F(SerDevTest, LibraryLackingAnEntryPointAsksToReinstallDrivers) {
    Loader.Map["mvd2xx.dll"] = "d2xx_noescape.dll";
    Loader.Map["ftd2xx.dll"] = "";
    EXPECT_FALSE(Link->Open());
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(UserIo.Boxes()[0].Text, "Reinstall drivers, please.");
    EXPECT_EQ(UserIo.Boxes()[0].Caption, "Open Port(USB:A1B2C3D4E5F6) Error...");
    EXPECT_EQ(Lists->Pauses, 1);
    EXPECT_EQ(Lists->Resumes, 1);
    EXPECT_EQ(Loader.Tried, (std::vector<std::string>{"mvd2xx.dll"}));
}

TEST_F(SerDevTest, SecondLibraryNameIsUsedWhenTheFirstIsMissing) {
    Loader.Map["mvd2xx.dll"] = "";
    Loader.Map["ftd2xx.dll"] = "mvd2xx.dll";
    EXPECT_TRUE(Link->Open());
    EXPECT_EQ(Loader.Tried, (std::vector<std::string>{"mvd2xx.dll", "ftd2xx.dll"}));
}

TEST_F(SerDevTest, NoLibraryAtAllAsksToReinstallDrivers) {
    Loader.Map["mvd2xx.dll"] = "";
    Loader.Map["ftd2xx.dll"] = "";
    EXPECT_FALSE(Link->Open());
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(UserIo.Boxes()[0].Text, "Reinstall drivers, please.");
}

TEST_F(SerDevTest, FailedUsbOpenShowsTheStatusTextAndCodeZeroShowsNothing) {
    StandIn.FailOpen(2);
    EXPECT_FALSE(Link->Open());
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(UserIo.Boxes()[0].Text, "USB Device Error: 2 (Device is not found)");
    EXPECT_EQ(Link->LastError, 2);

    UserIo.Clear();
    StandIn.FailOpen(0);
    EXPECT_FALSE(Link->Open());
    EXPECT_TRUE(UserIo.Boxes().empty());

    StandIn.FailOpen(42);
    EXPECT_FALSE(Link->Open());
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(UserIo.Boxes()[0].Text, "USB Device Error: 42 (Unknown status)");
    EXPECT_FALSE(Link->IsOpen());
    EXPECT_EQ(Lists->Pauses, Lists->Resumes);
}

TEST_F(SerDevTest, MissingComPortShowsTheSystemText) {
    Link->SetPortName("COM199");
    EXPECT_FALSE(Link->Open());
    ASSERT_EQ(UserIo.Boxes().size(), 1u);
    EXPECT_EQ(UserIo.Boxes()[0].Text.rfind("COM-port Error: ", 0), 0u);
    EXPECT_GT(UserIo.Boxes()[0].Text.size(), std::string("COM-port Error: ").size());
    EXPECT_NE(Link->LastError, 0);
}

// A simulated adapter served in place of the pushed-bytes device.
class SerDevSimTest : public SerDevTest {
protected:
    void UseAdapter(const char* config) {
        StandIn.Reset();
        ASSERT_TRUE(StandIn.AddSim(Serial, config));
    }
};

TEST_F(SerDevSimTest, LostOnceTheDeviceVanishes) {
    UseAdapter("fault.disconnect.bytes=10");
    ASSERT_TRUE(Link->Open());
    EXPECT_FALSE(Link->Lost());
    ASSERT_TRUE(Link->Write("!Morvek_SC_I"));
    EXPECT_TRUE(Eventually([&] { return Link->Lost(); }));
    EXPECT_TRUE(Link->IsOpen());
    EXPECT_EQ(ReadAll(10).size(), 10u); // what came before it went stays readable
    Link->Close();
    EXPECT_FALSE(Link->Lost());
}

TEST_F(SerDevSimTest, ACommandWrittenJustBeforeCloseReachesTheAdapter) {
    UseAdapter("fault.write.delay=150000");
    ASSERT_TRUE(Link->Open());
    ASSERT_TRUE(Link->Write("!Morvek_SC_R"));
    EXPECT_TRUE(Link->Close());
    EXPECT_EQ(StandIn.SimCommands(Serial), "R");
}

TEST_F(SerDevSimTest, CloseWithAStalledWriteEndsTheLinkAndItOpensAgain) {
    UseAdapter("fault.write.stall=1");
    ASSERT_TRUE(Link->Open());
    ASSERT_TRUE(Link->Write("!Morvek_SC_I"));
    EXPECT_GT(Link->OutputCount(), 0);
    EXPECT_TRUE(Link->Close());
    EXPECT_FALSE(Link->IsOpen());
    EXPECT_EQ(StandIn.SimCommands(Serial), "");
    ASSERT_TRUE(Link->Open());
    EXPECT_EQ(Link->OutputCount(), 0);
    EXPECT_TRUE(Link->Write("x")); // the writer serves again
}

TEST_F(SerDevTest, OpenDropsWhatTheDeviceSentBeforeIt) {
    StandIn.Push(Serial, "stale");
    ASSERT_TRUE(Eventually([&] { return StandIn.Unread(Serial) == 5; }));
    ASSERT_TRUE(Link->Open());
    StandIn.Push(Serial, "fresh");
    EXPECT_EQ(ReadAll(5), "fresh");
    Bytes more;
    EXPECT_FALSE(Link->ReadWait(more, 100));
}

TEST(SerDevTables, StatusTextsAndEntryNames) {
    EXPECT_STREQ(D2xxStatusText(0), "Success operation");
    EXPECT_STREQ(D2xxStatusText(18), "OTHER_ERROR");
    EXPECT_STREQ(D2xxStatusText(19), "Unknown status");
    EXPECT_STREQ(D2xxStatusText(-1), "Unknown status");
    EXPECT_STREQ(PortFunctionNames[0], "CreateFile");
    EXPECT_STREQ(PortFunctionNames[14], "GetOverlappedResult");
}

} // namespace
} // namespace qvx
