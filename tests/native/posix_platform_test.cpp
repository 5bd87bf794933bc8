// The POSIX seams: the settings file and the loop timers (on a clock of the
// test's own).
#include "platform/posix/file_registry.h"
#include "platform/posix/loop_timers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qvx {
namespace {

const std::string Base = "SOFTWARE\\Quorvelix\\Configurator";

class FileRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir() + "qvx_settings_XXXXXX";
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        Folder = pattern;
        Path = Folder + "/qvx/settings";
    }
    void TearDown() override { std::system(("rm -rf '" + Folder + "'").c_str()); }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string Folder;
    std::string Path;
};

TEST_F(FileRegistry, ValuesSurviveAReopenUnderAnySpelling) {
    {
        TFileRegistry registry(Path);
        auto key = registry.CreateKey("\\" + Base + "\\");
        ASSERT_TRUE(key);
        EXPECT_TRUE(key->WriteString("Port", "/dev/ttyUSB0"));
        EXPECT_TRUE(key->WriteDword("SortColumn", 4294967295u));
        EXPECT_TRUE(key->WriteString("a=b\\c\nd", "line\none\\two\r=x"));
        EXPECT_TRUE(key->WriteString("", "default"));
        EXPECT_TRUE(key->WriteString("#[odd", "v"));
        EXPECT_TRUE(registry.CreateKey(Base + "\\Hide"));
        EXPECT_TRUE(registry.CreateKey(Base + "\\Gone"));
        EXPECT_TRUE(registry.DeleteKey(Base + "\\GONE"));
    }
    TFileRegistry registry(Path);
    EXPECT_FALSE(registry.Damaged());
    auto key = registry.OpenKey("software\\QUORVELIX\\configurator", RegAccess::Read);
    ASSERT_TRUE(key);
    std::string text;
    uint32_t number = 0;
    EXPECT_TRUE(key->ReadString("PORT", text));
    EXPECT_EQ(text, "/dev/ttyUSB0");
    EXPECT_TRUE(key->ReadDword("sortcolumn", number));
    EXPECT_EQ(number, 4294967295u);
    EXPECT_TRUE(key->ReadString("A=B\\C\nD", text));
    EXPECT_EQ(text, "line\none\\two\r=x");
    EXPECT_TRUE(key->ReadString("", text));
    EXPECT_EQ(text, "default");
    EXPECT_EQ(key->TypeOf("port"), RegValueType::String);
    EXPECT_FALSE(key->ReadDword("Port", number));
    EXPECT_EQ(key->ValueNames(),
              (std::vector<std::string>{"Port", "SortColumn", "a=b\\c\nd", "", "#[odd"}));
    EXPECT_EQ(key->SubkeyNames(), std::vector<std::string>{"Hide"});
    auto parent = registry.OpenKey("Software\\quorvelix", RegAccess::Read);
    ASSERT_TRUE(parent);
    EXPECT_EQ(parent->SubkeyNames(), std::vector<std::string>{"Configurator"});
}

TEST_F(FileRegistry, AReadOnlyOpenRefusesWrites) {
    TFileRegistry registry(Path);
    ASSERT_TRUE(registry.CreateKey(Base)->WriteString("Port", "/dev/ttyS0"));
    auto key = registry.OpenKey(Base, RegAccess::Read);
    ASSERT_TRUE(key);
    EXPECT_FALSE(key->WriteString("Port", "/dev/ttyS1"));
    EXPECT_FALSE(key->WriteDword("Other", 1));
    EXPECT_FALSE(key->DeleteValue("Port"));
    std::string text;
    EXPECT_TRUE(TFileRegistry(Path).OpenKey(Base, RegAccess::Read)->ReadString("Port", text));
    EXPECT_EQ(text, "/dev/ttyS0");
    EXPECT_EQ(registry.OpenKey(Base, RegAccess::Read)->ValueNames(),
              std::vector<std::string>{"Port"});
}

TEST_F(FileRegistry, AFailedWriteChangesNothing) {
    TFileRegistry registry(Path);
    auto key = registry.CreateKey(Base);
    ASSERT_TRUE(key && key->WriteString("Port", "/dev/ttyS0"));
    const std::string stored = Contents(Path);
    // The temporary file cannot be written in full: files are limited to a
    // few bytes for a while (the limit holds for root too).
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 8;
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool wroteString = key->WriteString("Port", "/dev/ttyS1");
    const bool wroteNumber = key->WriteDword("New", 1);
    const bool created = registry.CreateKey(Base + "\\Run") != nullptr;
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(wroteString);
    EXPECT_FALSE(wroteNumber);
    EXPECT_FALSE(created);
    EXPECT_EQ(std::system(("ls '" + Folder + "/qvx' | grep -q tmp").c_str()), 256)
        << "a temporary file was left behind";
    std::string text;
    EXPECT_TRUE(key->ReadString("Port", text));
    EXPECT_EQ(text, "/dev/ttyS0");
    EXPECT_EQ(key->TypeOf("New"), RegValueType::Missing);
    EXPECT_EQ(Contents(Path), stored);
}

TEST_F(FileRegistry, AFileThatDoesNotParseIsKeptBeforeTheFirstWrite) {
    const std::string original = "[" + Base +
                                 "]\nPort=s:/dev/ttyS3\nnot a value line\n"
                                 "Broken=q:1\nSortColumn=d:12x\nSortDir=d:1\n";
    ASSERT_EQ(mkdir((Folder + "/qvx").c_str(), 0700), 0);
    std::ofstream(Path) << original;
    {
        TFileRegistry registry(Path);
        EXPECT_TRUE(registry.Damaged());
        auto key = registry.OpenKey(Base, RegAccess::AllAccess);
        ASSERT_TRUE(key);
        EXPECT_EQ(key->ValueNames(), (std::vector<std::string>{"Port", "SortDir"}));
        EXPECT_EQ(Contents(Path), original); // reading alone leaves it
        EXPECT_TRUE(key->WriteDword("SortColumn", 2));
    }
    EXPECT_EQ(Contents(Path + ".bad"), original);
    TFileRegistry registry(Path);
    EXPECT_FALSE(registry.Damaged());
    EXPECT_EQ(registry.OpenKey(Base, RegAccess::Read)->ValueNames(),
              (std::vector<std::string>{"Port", "SortDir", "SortColumn"}));
}

// Two programs that store settings at the same time keep each other's values.
TEST_F(FileRegistry, TwoWritersAtOnceKeepBothValues) {
    ASSERT_TRUE(TFileRegistry(Path).CreateKey(Base));
    auto store = [&](const std::string& name) {
        TFileRegistry registry(Path);
        auto key = registry.OpenKey(Base, RegAccess::AllAccess);
        bool all = key != nullptr;
        for (uint32_t i = 1; all && i <= 100; ++i)
            all = key->WriteDword(name, i);
        return all;
    };
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(store("Child") ? 0 : 1);
    const bool stored = store("Parent");
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(stored);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    TFileRegistry registry(Path);
    auto key = registry.OpenKey(Base, RegAccess::Read);
    ASSERT_TRUE(key);
    uint32_t parent = 0, fromChild = 0;
    EXPECT_TRUE(key->ReadDword("Parent", parent));
    EXPECT_TRUE(key->ReadDword("Child", fromChild));
    EXPECT_EQ(parent, 100u);
    EXPECT_EQ(fromChild, 100u);
}

TEST(FileRegistryPath, FollowsTheConfigurationFolderOfTheUser) {
    const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string savedConfig = oldConfig ? oldConfig : "";
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(TFileRegistry::DefaultSettingsPath(), "/cfg/qvx/settings");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(TFileRegistry::DefaultSettingsPath(),
              std::string(std::getenv("HOME")) + "/.config/qvx/settings");
    if (oldConfig)
        setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
}

// A clock that passes only when the timers sleep.
struct TTestClock {
    TLoopTimers::TTime Now{};
    std::vector<TLoopTimers::TClock::duration> Sleeps;
    TLoopTimers::TClockSource Source() {
        return {[this] { return Now; },
                [this](TLoopTimers::TTime until) {
                    Sleeps.push_back(until - Now);
                    if (until > Now)
                        Now = until;
                }};
    }
    long long Ms() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Now.time_since_epoch())
            .count();
    }
};

TEST(LoopTimers, PeriodsCountFromTheDueTimeAlsoWhenATickReArms) {
    TTestClock clock;
    TLoopTimers timers(clock.Source());
    std::vector<long long> periodic, rearmed;
    timers.Start(10, [&] {
        periodic.push_back(clock.Ms());
        clock.Now += std::chrono::milliseconds(1); // the tick's own work
    });
    TimerId id = 0;
    std::function<void()> tick = [&] {
        rearmed.push_back(clock.Ms());
        clock.Now += std::chrono::milliseconds(1);
        timers.Stop(id);
        id = timers.Start(10, tick);
    };
    id = timers.Start(10, tick);
    timers.RunUntil([&] { return rearmed.size() == 3; });
    EXPECT_EQ(periodic, (std::vector<long long>{10, 20, 30}));
    // Each runs 1 ms late, after the other timer's tick; re-armed 1 ms
    // later still, it stays due every 10 ms.
    EXPECT_EQ(rearmed, (std::vector<long long>{11, 21, 31}));
}

TEST(LoopTimers, ATickThatStopsItsTimerFinishesAndNoOtherComes) {
    TTestClock clock;
    TLoopTimers timers(clock.Source());
    int ticks = 0;
    std::string afterStop;
    TimerId id = 0;
    const std::string captured = "still here";
    id = timers.Start(5, [&, captured] {
        ++ticks;
        timers.Stop(id);
        afterStop = captured; // the tick's own state outlives the Stop
    });
    timers.RunUntil([&] { return clock.Ms() >= 100; });
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(afterStop, "still here");
    EXPECT_EQ(timers.RunningCount(), 0u);
}

TEST(LoopTimers, RunUntilAsksAfterEveryTickAndAtLeastEvery20Ms) {
    TTestClock clock;
    TLoopTimers timers(clock.Source());
    int asked = 0;
    timers.RunUntil([&] { return ++asked == 4; });
    EXPECT_EQ(asked, 4);
    ASSERT_EQ(clock.Sleeps.size(), 3u);
    for (auto sleep : clock.Sleeps)
        EXPECT_LE(sleep, std::chrono::milliseconds(20));

    bool done = false;
    timers.Start(7, [&] { done = true; });
    const size_t sleeps = clock.Sleeps.size();
    timers.RunUntil([&] { return done; });
    EXPECT_EQ(clock.Sleeps.size(), sleeps + 1); // one sleep until the tick, none after
    EXPECT_EQ(clock.Ms(), 60 + 7);
}

} // namespace
} // namespace qvx
