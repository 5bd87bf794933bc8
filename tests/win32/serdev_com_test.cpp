// The device link over a real COM port: under Wine, COM5 is a pseudo-terminal
// served by an echoing device (the test script starts it and names the port in
// QVX_TEST_COM_PORT).
#include "platform/memory/scripted_userio.h"
#include "serdev/win32/Serdev.h"
#include "tests/win32/link_test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>

namespace qvx {
namespace {

class TNoLibraries : public ILibraryLoader {
public:
    LibraryHandle Load(const std::string&) override { return nullptr; }
    void* Resolve(LibraryHandle, const std::string&) override { return nullptr; }
    void Free(LibraryHandle) override {}
};

class SerDevComTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* port = std::getenv("QVX_TEST_COM_PORT");
        if (!port || !*port) {
            GTEST_SKIP() << "QVX_TEST_COM_PORT names no echoing COM port (scripts/test.sh sets it)";
        }
        auto lists = std::make_unique<TCountingLists>();
        Lists = lists.get();
        Link = std::make_unique<TSerDev>(UserIo, Libraries, std::move(lists));
        Link->SetPortName(port);
        ASSERT_TRUE(Link->Open()) << (UserIo.Boxes().empty() ? "" : UserIo.Boxes()[0].Text);
    }
    void TearDown() override {
        if (!Link)
            return;
        EXPECT_TRUE(Link->Close());
        // The program keeps its link for the whole run; so do the tests. Wine
        // may still complete a receive-event wait into the link's records
        // shortly after Close.
        static std::vector<std::unique_ptr<TSerDev>> kept;
        kept.push_back(std::move(Link));
    }
    Bytes ReadAll(size_t want) { return ReadAllFrom(*Link, want); }

    TScriptedUserIo UserIo;
    TNoLibraries Libraries;
    TCountingLists* Lists = nullptr;
    std::unique_ptr<TSerDev> Link;
};

TEST_F(SerDevComTest, EveryByteValueComesBackUnchanged) {
    Bytes all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[static_cast<size_t>(i)] = static_cast<char>(i);
    ASSERT_TRUE(Link->Write(all));
    EXPECT_EQ(ReadAll(256), all);
    EXPECT_EQ(Lists->Pauses, 1);
}

TEST_F(SerDevComTest, LargeWriteIsSentWhole) {
    Bytes text(40000, '\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>(i % 251);
    ASSERT_TRUE(Link->Write(text));
    EXPECT_TRUE(Eventually([&] { return Link->OutputCount() == 0; }));
    EXPECT_EQ(ReadAll(text.size()), text);
}

TEST_F(SerDevComTest, FullBufferHoldsInputUntilTheConsumerTakesAll) {
    ASSERT_TRUE(Link->Write(Bytes(20000, 'y')));
    ASSERT_TRUE(Eventually([&] { return Link->InputCount() == 16384; }));
    Bytes first;
    Link->ReadAvailable(first);
    EXPECT_EQ(first.size(), 16384u);
    EXPECT_EQ(ReadAll(20000 - 16384).size(), size_t(20000 - 16384));
}

TEST_F(SerDevComTest, ReadWaitIdlesOutAndCapsAt65536) {
    Bytes text = "keep";
    EXPECT_FALSE(Link->ReadWait(text, 100));
    EXPECT_EQ(text, "keep");
    ASSERT_TRUE(Link->Write(Bytes(70000, 'z')));
    EXPECT_TRUE(Link->ReadWait(text, 1000));
    EXPECT_EQ(text.size(), 65536u);
}

TEST_F(SerDevComTest, ClosesWithAReceiveWaitPendingAndOpensAgain) {
    // Each cycle closes while the reader sits in a receive-event wait that the
    // system may not cancel; Close must still end both threads.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(Link->Close());
        ASSERT_TRUE(Link->Open());
        ASSERT_TRUE(Link->Write("ping"));
        EXPECT_EQ(ReadAll(4), "ping");
    }
    EXPECT_EQ(Lists->Pauses, Lists->Resumes + 1);
}

} // namespace
} // namespace qvx
