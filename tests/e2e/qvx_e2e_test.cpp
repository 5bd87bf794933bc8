// The console program qvx.exe, run as a script would run it: in a folder of
// its own beside the stand-in D2XX library and its simulated adapters, its
// output and exit status read from outside.
#include "tests/e2e/remote_app.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>

namespace qvx::e2e {
namespace {

// Three adapters; the second refuses its third page for ever, the fourth
// answers nothing.
constexpr const char* Adapters = "identity.serial=QVA00001\n"
                                 "boot.pagesize=256\n"
                                 "---\n"
                                 "identity.serial=QVA00002\n"
                                 "boot.pagesize=256\n"
                                 "fault.nak.page=2\n"
                                 "fault.nak.count=-1\n"
                                 "---\n"
                                 "identity.serial=QVA00003\n"
                                 "boot.pagesize=256\n"
                                 "---\n"
                                 "identity.serial=QVA00004\n"
                                 "fault.silent=1\n";

struct TRun {
    DWORD Status = 0xFFFFFFFF;
    std::string Out;
    std::string Err;
};

// A minimal JSON reader: true when text is exactly one JSON value (spaces
// around it allowed).
class TJsonCheck {
public:
    explicit TJsonCheck(const std::string& text) : Text(text) {}
    bool Valid() {
        Space();
        if (!Value())
            return false;
        Space();
        return Pos == Text.size();
    }

private:
    bool Value() {
        Space();
        if (Pos >= Text.size())
            return false;
        const char c = Text[Pos];
        if (c == '{')
            return Sequence('}', true);
        if (c == '[')
            return Sequence(']', false);
        if (c == '"')
            return String();
        for (const char* word : {"true", "false", "null"})
            if (Text.compare(Pos, std::strlen(word), word) == 0) {
                Pos += std::strlen(word);
                return true;
            }
        const size_t start = Pos;
        if (Text[Pos] == '-')
            ++Pos;
        while (Pos < Text.size() && std::isdigit(static_cast<unsigned char>(Text[Pos])))
            ++Pos;
        return Pos > start;
    }
    bool Sequence(char close, bool object) {
        ++Pos;
        Space();
        if (Pos < Text.size() && Text[Pos] == close) {
            ++Pos;
            return true;
        }
        for (;;) {
            if (object) {
                Space();
                if (!String())
                    return false;
                Space();
                if (Pos >= Text.size() || Text[Pos++] != ':')
                    return false;
            }
            if (!Value())
                return false;
            Space();
            if (Pos >= Text.size())
                return false;
            const char c = Text[Pos++];
            if (c == close)
                return true;
            if (c != ',')
                return false;
        }
    }
    bool String() {
        if (Pos >= Text.size() || Text[Pos] != '"')
            return false;
        for (++Pos; Pos < Text.size(); ++Pos) {
            const auto c = static_cast<unsigned char>(Text[Pos]);
            if (c == '"') {
                ++Pos;
                return true;
            }
            if (c < 0x20 || c >= 0x80)
                return false;
            if (c == '\\') {
                ++Pos;
                if (Pos >= Text.size())
                    return false;
                if (Text[Pos] == 'u')
                    Pos += 4;
                else if (std::string("\"\\/bfnrt").find(Text[Pos]) == std::string::npos)
                    return false;
            }
        }
        return false;
    }
    void Space() {
        while (Pos < Text.size() && std::isspace(static_cast<unsigned char>(Text[Pos])))
            ++Pos;
    }
    const std::string& Text;
    size_t Pos = 0;
};

size_t Count(const std::string& text, const std::string& word) {
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

class QvxTest : public ::testing::Test {
protected:
    void SetUp() override {
        DeleteSettings();
        const std::string own = OwnFolder();
        CreateDirectoryA((own + "runs").c_str(), nullptr);
        Dir = own + "runs\\qvx_" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
              "\\";
        CreateDirectoryA(Dir.c_str(), nullptr);
        for (const char* file : {"qvx.exe", "mvd2xx.dll", "passthru_standin.dll"})
            CopyFileA((own + "program\\" + file).c_str(), (Dir + file).c_str(), FALSE);
        WriteFileBytes(Dir + "mvd2xx.cfg", Adapters);
        DeleteFileA(Wire().c_str());
        // 64 pages of 256 bytes behind the header.
        std::string image(80 + 64 * 256, '\0');
        for (size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<char>(i * 7 + 3);
        WriteFileBytes(Dir + "fw.rfw", image);
    }
    void TearDown() override { DeleteSettings(); }

    std::string Wire() const { return Dir + "wire.bin"; }

    // Starts qvx.exe with these arguments; its output goes to files.
    bool Start(const std::string& args, PROCESS_INFORMATION& process, DWORD flags = 0) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE out = CreateFileA((Dir + "out.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                 &inherit, CREATE_ALWAYS, 0, nullptr);
        HANDLE err = CreateFileA((Dir + "err.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                 &inherit, CREATE_ALWAYS, 0, nullptr);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = out;
        startup.hStdError = err;
        std::string line = "\"" + Dir + "qvx.exe\" " + args;
        SetEnvironmentVariableA("QVX_SIM_CONFIG", nullptr);
        SetEnvironmentVariableA("QVX_STANDIN_TRACE", Wire().c_str());
        const BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, flags,
                                            nullptr, Dir.c_str(), &startup, &process);
        SetEnvironmentVariableA("QVX_STANDIN_TRACE", nullptr);
        CloseHandle(out);
        CloseHandle(err);
        return started != FALSE;
    }
    TRun Finish(PROCESS_INFORMATION& process) {
        TRun run;
        if (WaitForSingleObject(process.hProcess, HangGuardMs) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 999);
        GetExitCodeProcess(process.hProcess, &run.Status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        run.Out = ReadFileBytes(Dir + "out.txt");
        run.Err = ReadFileBytes(Dir + "err.txt");
        return run;
    }
    TRun Qvx(const std::string& args) {
        PROCESS_INFORMATION process{};
        if (!Start(args, process))
            return TRun();
        return Finish(process);
    }

    std::string Dir;
};

TEST_F(QvxTest, PortsListsEveryAdapterAndJsonParses) {
    TRun run = Qvx("ports");
    EXPECT_EQ(run.Status, 0u);
    for (const char* serial : {"QVA00001", "QVA00002", "QVA00003", "QVA00004"})
        EXPECT_NE(run.Out.find(std::string("USB:") + serial + "\tQuorvelix Adapter\t"),
                  std::string::npos)
            << run.Out;
    run = Qvx("ports --json");
    EXPECT_EQ(run.Status, 0u);
    EXPECT_TRUE(TJsonCheck(run.Out).Valid()) << run.Out;
    EXPECT_NE(run.Out.find("\"name\":\"USB:QVA00003\""), std::string::npos);
}

TEST_F(QvxTest, IdentifyPrintsTheAdapterAndStoresOnlyThePort) {
    TRun run = Qvx("identify --port USB:QVA00002");
    ASSERT_EQ(run.Status, 0u) << run.Err;
    EXPECT_NE(run.Out.find("Serial:    QVA00002\n"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("\tselected  "), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("\tavailable "), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("Voltage:   "), std::string::npos) << run.Out;
    std::string port;
    EXPECT_TRUE(RegistryString("SOFTWARE\\Morveklink", "Port", port));
    EXPECT_EQ(port, "USB:QVA00002");
    // The window's start-up values are not the console's to write.
    std::string path;
    EXPECT_FALSE(RegistryString("SOFTWARE\\Morveklink", "Path", path));

    // The stored port is the default from now on.
    run = Qvx("identify --json");
    EXPECT_EQ(run.Status, 0u);
    EXPECT_TRUE(TJsonCheck(run.Out).Valid()) << run.Out;
    EXPECT_NE(run.Out.find("\"serial\":\"QVA00002\""), std::string::npos) << run.Out;
}

TEST_F(QvxTest, AnAdapterThatDoesNotAnswerIsNotFound) {
    TRun run = Qvx("identify --port USB:QVA00004");
    EXPECT_EQ(run.Status, 3u);
    EXPECT_NE(run.Err.find("Quorvelix Adapter is not found on Communication Port USB:QVA00004"),
              std::string::npos)
        << run.Err;
}

TEST_F(QvxTest, ModeSwitchesOnlyToAModeTheAdapterOffers) {
    TRun run = Qvx("mode 099 --port USB:QVA00001");
    EXPECT_EQ(run.Status, 4u);
    EXPECT_EQ(ReadFileBytes(Wire()).find("!Morvek_SC_M"), std::string::npos);

    run = Qvx("mode 002 --port USB:QVA00001");
    ASSERT_EQ(run.Status, 0u) << run.Err;
    EXPECT_NE(run.Out.find("\t002\tselected  "), std::string::npos) << run.Out;
    EXPECT_NE(ReadFileBytes(Wire()).find("!Morvek_SC_M"), std::string::npos);
    std::string mode;
    EXPECT_TRUE(RegistryString("SOFTWARE\\Morveklink", "Mode", mode));
    EXPECT_NE(mode.find("002"), std::string::npos) << mode;
}

TEST_F(QvxTest, PowerSelfTestAndResetReportTheirResults) {
    TRun run = Qvx("power on --port USB:QVA00001");
    EXPECT_EQ(run.Status, 0u) << run.Err;
    EXPECT_NE(run.Out.find("Power:     on\n"), std::string::npos) << run.Out;

    run = Qvx("selftest --port USB:QVA00001");
    EXPECT_EQ(run.Status, 0u) << run.Err;
    EXPECT_NE(run.Out.find("Result: OK (No Errors)"), std::string::npos) << run.Out;

    run = Qvx("reset --port USB:QVA00001");
    EXPECT_EQ(run.Status, 0u) << run.Err;
    EXPECT_NE(ReadFileBytes(Wire()).find("!Morvek_SC_R"), std::string::npos);
}

TEST_F(QvxTest, AllPortsGoOnPastAFailingAdapter) {
    TRun run = Qvx("upload fw.rfw --all");
    EXPECT_EQ(run.Status, 7u) << run.Out << run.Err;
    // Every adapter in turn, then the table.
    EXPECT_EQ(Count(run.Out, "Updating firmware : Ok"), 2u) << run.Out;
    EXPECT_NE(run.Out.find("Writing Page #2 : Error"), std::string::npos) << run.Out;
    const size_t table = run.Out.find("PORT");
    ASSERT_NE(table, std::string::npos) << run.Out;
    const std::string summary = run.Out.substr(table);
    EXPECT_NE(summary.find("USB:QVA00001  0       ok"), std::string::npos) << summary;
    EXPECT_NE(summary.find("USB:QVA00002  7       "), std::string::npos) << summary;
    EXPECT_NE(summary.find("USB:QVA00003  0       ok"), std::string::npos) << summary;
    EXPECT_NE(summary.find("USB:QVA00004  3       "), std::string::npos) << summary;

    // A port without an adapter is in the table, but not in the status.
    run = Qvx("identify --all");
    EXPECT_EQ(run.Status, 0u) << run.Out;
    EXPECT_NE(run.Out.find("USB:QVA00004  3       "), std::string::npos) << run.Out;
}

TEST_F(QvxTest, ABadFirmwareFileSendsNothing) {
    TRun run = Qvx("upload missing.rfw --port USB:QVA00001");
    EXPECT_EQ(run.Status, 8u);
    EXPECT_NE(run.Err.find("File \"missing.rfw\" is not found."), std::string::npos) << run.Err;
    WriteFileBytes(Dir + "short.rfw", std::string(79, 'x'));
    run = Qvx("upload short.rfw --port USB:QVA00001");
    EXPECT_EQ(run.Status, 8u);
    EXPECT_NE(run.Err.find("Error! Firmware file \"short.rfw\" is short."), std::string::npos);
    EXPECT_TRUE(ReadFileBytes(Wire()).empty());
}

TEST_F(QvxTest, WrongWordsAndPortsGetOneLineAndTheirStatus) {
    TRun run = Qvx("frobnicate");
    EXPECT_EQ(run.Status, 2u);
    EXPECT_EQ(Count(run.Err, "\n"), 1u) << run.Err;
    run = Qvx("identify --fast");
    EXPECT_EQ(run.Status, 2u);
    EXPECT_EQ(Count(run.Err, "\n"), 1u) << run.Err;
    run = Qvx("identify --port USB:QVA09999");
    EXPECT_EQ(run.Status, 10u);
    EXPECT_NE(run.Err.find("Cannot open Communication Port USB:QVA09999"), std::string::npos)
        << run.Err;
}

// A slow adapter of its own: an upload takes seconds, a self-test too.
constexpr const char* SlowAdapter = "identity.serial=QVA00005\n"
                                    "line.rate=4000\n"
                                    "boot.pagesize=256\n"
                                    "test.steps=40\n"
                                    "test.stepdelay=80000\n";

TEST_F(QvxTest, CtrlCCancelsTheUploadAsStopDoes) {
    WriteFileBytes(Dir + "mvd2xx.cfg", SlowAdapter);
    PROCESS_INFORMATION process{};
    // The program gets a console of its own; Ctrl+C is pressed there.
    ASSERT_TRUE(Start("upload fw.rfw --port USB:QVA00005", process, CREATE_NEW_CONSOLE));
    EXPECT_TRUE(WaitFor([&] {
        return ReadFileBytes(Dir + "out.txt").find("Writing Page #3 : Ok") != std::string::npos;
    }));
    FreeConsole();
    ASSERT_TRUE(AttachConsole(process.dwProcessId));
    SetConsoleCtrlHandler(nullptr, TRUE); // this test program ignores it
    EXPECT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    FreeConsole();
    SetConsoleCtrlHandler(nullptr, FALSE);
    TRun run = Finish(process);
    EXPECT_EQ(run.Status, 130u) << run.Out << run.Err;
    EXPECT_NE(run.Out.find("Firmware Update canceled..."), std::string::npos) << run.Out;
    EXPECT_EQ(run.Out.find("Updating firmware"), std::string::npos) << run.Out;
    // Nothing after the pages: no end marker, no further command.
    const std::string wire = ReadFileBytes(Wire());
    EXPECT_EQ(wire.find(std::string("@\xFF\xFF")), std::string::npos);
    EXPECT_EQ(wire.find("!Morvek", wire.find("!Morvek_SC_U") + 1), std::string::npos);
}

TEST_F(QvxTest, APortTheWindowHoldsIsReportedBusy) {
    WriteFileBytes(Dir + "mvd2xx.cfg", SlowAdapter);
    TRemoteApp app("qvx_window", SlowAdapter);
    ASSERT_TRUE(app.Start());
    ASSERT_TRUE(app.SearchFor("QVA00005"));
    ASSERT_TRUE(app.SelectTabNamed("Test"));
    HWND page = app.ActivePage();
    HWND log = app.Largest("Edit", page);
    TRemoteApp::Click(app.Button("Run", page));
    ASSERT_TRUE(WaitFor([&] { return TRemoteApp::Text(log).find("%") != std::string::npos; }));

    TRun run = Qvx("identify --port USB:QVA00005");
    EXPECT_EQ(run.Status, 10u) << run.Out << run.Err;
    EXPECT_NE(run.Err.find("Port USB:QVA00005 is busy"), std::string::npos) << run.Err;
    EXPECT_TRUE(run.Out.empty()) << run.Out;
    EXPECT_TRUE(app.Close());
}

TEST_F(QvxTest, PassThruProbeLoadsARegisteredLibrary) {
    const std::string catalogue = "SOFTWARE\\PassThruSupport.04.04\\";
    auto entry = [&](const std::string& name, const std::string& library) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, (catalogue + name).c_str(), 0, nullptr, 0,
                                  KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        for (const auto& [value, text] : {std::pair<const char*, std::string>{"Vendor", "QvxTest"},
                                          {"Name", name},
                                          {"FunctionLibrary", library}})
            RegSetValueExA(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1));
        RegCloseKey(key);
    };
    entry("QvxTest Good", Dir + "passthru_standin.dll");
    entry("QvxTest Missing", Dir + "missing.dll");

    TRun run = Qvx("passthru list");
    EXPECT_EQ(run.Status, 0u);
    EXPECT_NE(run.Out.find("QvxTest Good\tQvxTest\t" + Dir + "passthru_standin.dll\n"),
              std::string::npos)
        << run.Out;
    run = Qvx("passthru probe \"QvxTest Good\"");
    EXPECT_EQ(run.Status, 0u) << run.Out << run.Err;
    EXPECT_NE(run.Out.find("DLL:\t" + Dir + "passthru_standin.dll\n"), std::string::npos)
        << run.Out;
    run = Qvx("passthru probe \"QvxTest Missing\"");
    EXPECT_EQ(run.Status, 9u) << run.Out;
    EXPECT_NE(run.Out.find("missing.dll - ERROR"), std::string::npos) << run.Out;
    run = Qvx("passthru probe Nobody");
    EXPECT_EQ(run.Status, 9u);

    for (const char* name : {"QvxTest Good", "QvxTest Missing"})
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, (catalogue + name).c_str());
}

} // namespace
} // namespace qvx::e2e
