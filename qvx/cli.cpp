#include "qvx/cli.h"

#include "j2534/catalogue.h"
#include "j2534/probe.h"
#include "modes/modes.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "qvx/adapter.h"
#include "qvx/json.h"

#include <algorithm>
#include <cstdio>
#include <memory>

namespace qvx {

namespace {

// The product's name where the program carries no version resource.
const char* const ProductFallback = "Quorvelix";
const char* const FirmwareOk = "Updating firmware : Ok";

struct TCommand {
    const char* Name;
    const char* Synopsis;
    const char* Text;
    int MinArgs;
    int MaxArgs;
    bool Port;     // takes --port
    bool All;      // takes --all
    bool Upload;   // takes --no-search, --no-wait and --timeout
    bool PassThru; // Windows only
};

const TCommand Commands[] = {
    {"ports", "qvx ports",
     "Lists the ports as the window's port list shows them: name, description, device id.", 0, 0,
     false, false, false, false},
    {"identify", "qvx identify [--port NAME] [--all]",
     "Searches for the adapter and prints its identity, its modes with their state, power and "
     "voltage. Exit 3 when the adapter is not found. --all: every listed port in turn, then a "
     "table; a port where no adapter answers counts only when none answers anywhere.",
     0, 0, true, true, false, false},
    {"mode", "qvx mode NUMBER [--port NAME]",
     "Switches the adapter to the mode NUMBER and prints the new identity. Exit 4 when the "
     "adapter offers no such mode to select (nothing is sent then).",
     1, 1, true, false, false, false},
    {"power", "qvx power on|off [--port NAME]",
     "Switches the external power and prints the power state and the voltage.", 1, 1, true, false,
     false, false},
    {"voltage", "qvx voltage [--port NAME]",
     "Prints the power state and the supply voltage of the adapter's identity.", 0, 0, true, false,
     false, false},
    {"selftest", "qvx selftest [--port NAME]",
     "Runs the adapter's self-test, prints its log as it comes and then the result. Exit 0 for "
     "OK, 5 for warnings only, 6 for errors.",
     0, 0, true, false, false, false},
    {"upload",
     "qvx upload FILE [--no-search] [--no-wait] [--timeout SECONDS] [--port NAME] [--all]",
     "Uploads the firmware FILE through the boot loader and prints every status text. "
     "--no-search starts the boot loader exchange at once, --no-wait does not wait for its "
     "prompt. Exit 7 on a protocol error, 8 for a missing or short file (nothing is sent then) "
     "or one with more pages than the boot loader can number. "
     "An upload whose boot loader sends nothing for --timeout seconds (default 30, 0 for none) "
     "is stopped as a failure. --all as for identify.",
     1, 1, true, true, true, false},
    {"reset", "qvx reset [--port NAME]", "Resets the adapter.", 0, 0, true, false, false, false},
    {"passthru", "qvx passthru list | qvx passthru probe NAME",
     "Lists the registered pass-thru libraries, or loads one and opens its device, printing what "
     "happened. Exit 9 when the library is missing or fails.",
     1, 2, false, false, false, true},
};

const char* const CommonHelp =
    "Options: --port NAME (default: the port stored by the last search), --json (one JSON "
    "object per result), --help.\n"
    "Exit status: 0 done, 2 usage, 3 adapter not found, 4 no such mode, 5 test warnings, 6 test "
    "errors, 7 upload failed, 8 bad firmware file, 9 pass-thru library failed, 10 port cannot "
    "be opened (busy or missing), 130 interrupted.\n";

// The exit status of every outcome of the engines, by the outcome's name.
struct TExitRow {
    const char* Outcome;
    int Status;
};

const TExitRow ExitTable[] = {
    {"done", qvxexit::Ok},
    {"not_found", qvxexit::NotFound},
    {"no_such_mode", qvxexit::NoSuchMode},
    {"selftest_warnings", qvxexit::TestWarnings},
    {"selftest_errors", qvxexit::TestErrors},
    {"connect_error", qvxexit::UploadFailed},
    {"header_error", qvxexit::UploadFailed},
    {"page_error", qvxexit::UploadFailed},
    {"end_error", qvxexit::UploadFailed},
    {"boot_loader_silent", qvxexit::UploadFailed},
    {"link_lost", qvxexit::UploadFailed},
    {"file_missing", qvxexit::BadFile},
    {"file_short", qvxexit::BadFile},
    {"file_too_large", qvxexit::BadFile},
    {"port_not_opened", qvxexit::PortUnavailable},
    {"busy", qvxexit::PortUnavailable},
    {"passthru_not_registered", qvxexit::PassThruFailed},
    {"passthru_library_missing", qvxexit::PassThruFailed},
    {"passthru_open_failed", qvxexit::PassThruFailed},
    {"passthru_close_failed", qvxexit::PassThruFailed},
    {"cancelled", qvxexit::Interrupted},
};

int ExitStatus(const char* outcome) {
    for (const TExitRow& row : ExitTable)
        if (std::string(outcome) == row.Outcome)
            return row.Status;
    // An outcome without a row is a request that did not end: the adapter
    // never answered it.
    return qvxexit::NotFound;
}
int ExitStatus(TSessionOutcome outcome) {
    return ExitStatus(SessionOutcomeName(outcome));
}
int ExitStatus(TUploadOutcome outcome) {
    return ExitStatus(UploadOutcomeName(outcome));
}

const TCommand* FindCommand(const std::string& name) {
    for (const TCommand& c : Commands)
        if (name == c.Name)
            return &c;
    return nullptr;
}

struct TOptions {
    const TCommand* Command = nullptr;
    std::vector<std::string> Args;
    std::string Port;
    bool Json = false;
    bool All = false;
    bool Help = false;
    bool NoSearch = false;
    bool NoWait = false;
    bool TimeoutGiven = false;
    unsigned TimeoutSeconds = 30;
};

// One port's outcome.
struct TResult {
    std::string Port;
    int Status = qvxexit::Ok;
    std::string Text;
};

std::string FieldName(TIdentityField field) {
    switch (field) {
    case TIdentityField::Copyright:
        return "Copyright";
    case TIdentityField::Serial:
        return "Serial";
    case TIdentityField::Signature:
        return "Signature";
    case TIdentityField::Firmware:
        return "Firmware";
    case TIdentityField::Boot:
        return "Boot";
    case TIdentityField::Hardware:
        return "Hardware";
    case TIdentityField::Driver:
        return "Driver";
    }
    return "";
}

std::string Volts(const TConsoleAdapter& a) {
    return a.Millivolts > 0 ? FormatVolts(a.Millivolts) : std::string();
}

// The progress of an upload: every status text as a line on standard output,
// and a bar on standard error when that is a terminal.
class TUploadReport : public IUploadProgress {
public:
    TUploadReport(IConsole& console, const TConsoleAdapter& adapter, bool lines)
        : Console(console), Adapter(adapter), Lines(lines), Bar(console.ErrIsTerminal()) {}
    ~TUploadReport() override { EndBar(); }

    void StatusShown(const std::string& text) override {
        if (!Lines)
            return;
        EndBar();
        Console.Out(text + "\n");
    }
    void ProgressChanged(int position, int max) override {
        if (!Bar)
            return;
        const uint64_t now = Console.NowMs();
        if (Start == 0)
            Start = now ? now : 1;
        const uint64_t elapsed = now > Start ? now - Start : 0;
        const double pageBytes = Adapter.Updater.PageSize > 0 ? Adapter.Updater.PageSize : 0;
        const double rate = elapsed ? position * pageBytes * 1000.0 / elapsed : 0;
        const double left =
            position > 0 ? static_cast<double>(elapsed) * (max - position) / position / 1000 : 0;
        const int width = 30;
        const int filled = max > 0 ? position * width / max : 0;
        char text[160];
        std::snprintf(text, sizeof text, "\r[%s%s] page %d of %d  %.0f B/s  %d:%02d left ",
                      std::string(static_cast<size_t>(filled), '#').c_str(),
                      std::string(static_cast<size_t>(width - filled), '.').c_str(), position, max,
                      rate, static_cast<int>(left) / 60, static_cast<int>(left) % 60);
        Console.Err(text);
        Drawn = true;
    }

private:
    void EndBar() {
        if (Drawn)
            Console.Err("\n");
        Drawn = false;
    }

    IConsole& Console;
    const TConsoleAdapter& Adapter;
    bool Lines;
    bool Bar;
    bool Drawn = false;
    uint64_t Start = 0;
};

class TProbeLog : public IProbeView {
public:
    std::vector<std::string> Lines;
    void ClearProbeLog() override { Lines.clear(); }
    void AddProbeLine(const std::string& line) override { Lines.push_back(line); }
    void ShowLibraryLoaded() override {}
    void ShowLibraryUnloaded() override {}
    void ShowDeviceOpen() override {}
    void ShowDeviceClosed() override {}
};

class TCli {
public:
    explicit TCli(TCliHost& host)
        : Host(host), Settings(host.Platform, host.SettingsKey.empty() ? std::string(SettingsKey)
                                                                       : host.SettingsKey) {
        Settings.OnWriteFailed = [this](const std::string&, const std::string& name) {
            const std::string shown = "\"" + name + "\"";
            if (std::find(Unstored.begin(), Unstored.end(), shown) == Unstored.end())
                Unstored.push_back(shown);
        };
    }

    int Run(const std::vector<std::string>& args);
    // One line on standard error when a setting could not be stored (no right
    // to write the settings, say): the command's result stands as it is.
    void WarnOfUnstoredSettings() {
        if (Unstored.empty())
            return;
        std::string names;
        for (const std::string& name : Unstored)
            names += (names.empty() ? "" : ", ") + name;
        Host.Console.Err(std::string("qvx: warning: could not store the setting") +
                         (Unstored.size() > 1 ? "s " : " ") + names + "\n");
    }

private:
    int Usage(const std::string& message);
    bool Parse(const std::vector<std::string>& args, std::string& error);
    int Help();

    int Ports();
    int PassThru();
    int OnPorts(const std::function<TResult(const TPortEntry&)>& command);
    // One request whose reply the adapter reads; show prints it. No reply:
    // the adapter is not found.
    TResult ReplyOf(const TPortEntry& port, TSessionState request,
                    const std::function<void(TConsoleAdapter&)>& prepare,
                    const std::function<void(TConsoleAdapter&, TJsonObject&)>& show);
    void ShowPower(TConsoleAdapter& a, TJsonObject& json);
    TResult Identify(const TPortEntry& port);
    TResult SwitchMode(const TPortEntry& port);
    TResult Power(const TPortEntry& port);
    TResult Voltage(const TPortEntry& port);
    TResult SelfTest(const TPortEntry& port);
    TResult Upload(const TPortEntry& port);
    TResult Reset(const TPortEntry& port);

    std::unique_ptr<TConsoleAdapter> NewAdapter(const TPortEntry& port);
    // A request that does not start leaves its result here.
    bool RunRequest(TConsoleAdapter& a, TSessionState request, TResult& result);
    TResult Finish(TResult result, TJsonObject json);
    // The request ended with outcome: its exit status and text.
    void Ended(TResult& result, TSessionOutcome outcome, const TConsoleAdapter& a) {
        result.Status = ExitStatus(outcome);
        result.Text = SessionOutcomeText(outcome, Settings.AppProductName, a.Port.Name);
    }
    void PowerJson(const TConsoleAdapter& a, TJsonObject& json);
    void PrintIdentity(const TConsoleAdapter& a);
    void PrintPower(const TConsoleAdapter& a);
    TJsonObject IdentityJson(const TConsoleAdapter& a);
    void Out(const std::string& text) { Host.Console.Out(text); }

    TCliHost& Host;
    TSettingsStore Settings;
    TOptions Opt;
    std::vector<std::string> Boxes;    // the current command's box texts
    std::vector<std::string> Unstored; // the settings whose writes failed, quoted
};

int TCli::Usage(const std::string& message) {
    Host.Console.Err("qvx: " + message + "\n");
    return qvxexit::Usage;
}

bool TCli::Parse(const std::vector<std::string>& args, std::string& error) {
    std::vector<std::string> words;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--port") {
            if (i + 1 >= args.size()) {
                error = "--port needs a port name";
                return false;
            }
            Opt.Port = args[++i];
        } else if (a.rfind("--port=", 0) == 0) {
            Opt.Port = a.substr(7);
        } else if (a == "--json") {
            Opt.Json = true;
        } else if (a == "--all") {
            Opt.All = true;
        } else if (a == "--help" || a == "-h") {
            Opt.Help = true;
        } else if (a == "--no-search") {
            Opt.NoSearch = true;
        } else if (a == "--no-wait") {
            Opt.NoWait = true;
        } else if (a == "--timeout") {
            const std::string value = i + 1 < args.size() ? args[++i] : std::string();
            if (value.empty() || value.size() > 6 ||
                value.find_first_not_of("0123456789") != std::string::npos) {
                error = "--timeout needs a number of seconds";
                return false;
            }
            Opt.TimeoutGiven = true;
            Opt.TimeoutSeconds = static_cast<unsigned>(std::stoul(value));
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option '" + a + "'";
            return false;
        } else {
            words.push_back(a);
        }
    }
    if (words.empty()) {
        if (Opt.Help)
            return true;
        error = "no command (qvx help lists them)";
        return false;
    }
    if (words[0] == "help") {
        Opt.Help = true;
        if (words.size() > 1)
            Opt.Command = FindCommand(words[1]);
        if (words.size() > 1 && (!Opt.Command || (Opt.Command->PassThru && !Host.PassThru))) {
            error = "unknown command '" + words[1] + "'";
            return false;
        }
        return true;
    }
    Opt.Command = FindCommand(words[0]);
    if (!Opt.Command || (Opt.Command->PassThru && !Host.PassThru)) {
        error = "unknown command '" + words[0] + "' (qvx help lists them)";
        return false;
    }
    const TCommand& c = *Opt.Command;
    const std::string name = c.Name;
    if (Opt.Help)
        return true;
    Opt.Args.assign(words.begin() + 1, words.end());
    const int count = static_cast<int>(Opt.Args.size());
    if (count < c.MinArgs || count > c.MaxArgs) {
        error = "usage: " + std::string(c.Synopsis);
        return false;
    }
    const char* refused = !c.Port && !Opt.Port.empty()    ? "--port"
                          : !c.All && Opt.All             ? "--all"
                          : !c.Upload && Opt.NoSearch     ? "--no-search"
                          : !c.Upload && Opt.NoWait       ? "--no-wait"
                          : !c.Upload && Opt.TimeoutGiven ? "--timeout"
                                                          : nullptr;
    if (refused) {
        error = std::string("unknown option '") + refused + "' for " + name;
        return false;
    }
    if (name == "power" && Opt.Args[0] != "on" && Opt.Args[0] != "off") {
        error = "usage: " + std::string(c.Synopsis);
        return false;
    }
    if (name == "passthru") {
        const bool list = Opt.Args[0] == "list" && count == 1;
        const bool probe = Opt.Args[0] == "probe" && count == 2;
        if (!list && !probe) {
            error = "usage: " + std::string(c.Synopsis);
            return false;
        }
    }
    if (Opt.All && !Opt.Port.empty()) {
        error = "--all and --port exclude each other";
        return false;
    }
    return true;
}

int TCli::Help() {
    if (Opt.Command) {
        Out(std::string("usage: ") + Opt.Command->Synopsis + "\n" + Opt.Command->Text + "\n" +
            CommonHelp);
        return qvxexit::Ok;
    }
    std::string text = "usage: qvx COMMAND [OPTIONS]\nCommands:\n";
    for (const TCommand& c : Commands)
        if (!c.PassThru || Host.PassThru)
            text += "  " + std::string(c.Synopsis) + "\n";
    text += "qvx COMMAND --help describes a command.\n";
    Out(text + CommonHelp);
    return qvxexit::Ok;
}

int TCli::Run(const std::vector<std::string>& args) {
    std::string error;
    if (!Parse(args, error))
        return Usage(error);
    if (Opt.Help)
        return Help();
    Host.Boxes.Quiet = Opt.Json;
    if (Settings.LoadVersionData())
        Settings.AppProductName = Settings.GetVersionString("ProductName");
    if (Settings.AppProductName.empty())
        Settings.AppProductName = ProductFallback;

    const std::string name = Opt.Command->Name;
    if (name == "ports")
        return Ports();
    if (name == "passthru")
        return PassThru();
    if (name == "identify")
        return OnPorts([this](const TPortEntry& p) { return Identify(p); });
    if (name == "mode")
        return OnPorts([this](const TPortEntry& p) { return SwitchMode(p); });
    if (name == "power")
        return OnPorts([this](const TPortEntry& p) { return Power(p); });
    if (name == "voltage")
        return OnPorts([this](const TPortEntry& p) { return Voltage(p); });
    if (name == "selftest")
        return OnPorts([this](const TPortEntry& p) { return SelfTest(p); });
    if (name == "upload") {
        // The file is checked before anything is sent, with the texts of the
        // upload's own boxes.
        const std::string& file = Opt.Args[0];
        Bytes image;
        const TUploadOutcome checked = CheckFirmwareFile(Host.Platform.Files, file, image);
        if (checked != uoNone) {
            const std::string problem = FirmwareFileText(checked, file);
            if (Opt.Json)
                Out(TJsonObject()
                        .Str("command", "upload")
                        .Str("file", file)
                        .Int("status", ExitStatus(checked))
                        .Str("result", problem)
                        .Text() +
                    "\n");
            else
                Host.Console.Err(problem + "\n");
            return ExitStatus(checked);
        }
        return OnPorts([this](const TPortEntry& p) { return Upload(p); });
    }
    if (name == "reset")
        return OnPorts([this](const TPortEntry& p) { return Reset(p); });
    return Usage("unknown command '" + name + "'");
}

int TCli::Ports() {
    TPortLists lists;
    Host.Link.GetPortLists(lists);
    std::vector<std::string> items;
    for (const TPortEntry& e : lists.Entries) {
        if (Opt.Json)
            items.push_back(TJsonObject()
                                .Str("name", e.Name)
                                .Str("description", e.Description)
                                .Str("device_id", e.DeviceId)
                                .Text());
        else
            Out(e.Name + "\t" + e.Description + "\t" + e.DeviceId + "\n");
    }
    if (Opt.Json)
        Out(TJsonObject()
                .Str("command", "ports")
                .Raw("ports", JsonArray(items))
                .Strings("messages", Host.Boxes.Take())
                .Text() +
            "\n");
    return qvxexit::Ok;
}

int TCli::OnPorts(const std::function<TResult(const TPortEntry&)>& command) {
    // The session opens a port by its name: the lists are read only when
    // they have to give one.
    std::string name = Opt.Port;
    // The window's choice, read without writing a default.
    if (name.empty() && !Opt.All)
        name = Settings.PeekStrAt(Settings.Key(), "Port");
    std::vector<TPortEntry> ports;
    if (!name.empty()) {
        ports.push_back({name, "", ""});
    } else {
        TPortLists lists;
        Host.Link.GetPortLists(lists);
        ports = lists.Entries;
        if (!Opt.All && !ports.empty())
            ports.resize(1);
    }
    if (ports.empty()) {
        Host.Console.Err(Opt.All ? "qvx: no port is listed\n"
                                 : "qvx: no port is listed or stored; name one with --port\n");
        return qvxexit::PortUnavailable;
    }

    std::vector<TResult> results;
    for (const TPortEntry& port : ports) {
        if (Opt.All && !Opt.Json)
            Out("== " + port.Name + "\n");
        results.push_back(command(port));
        if (results.back().Status == qvxexit::Interrupted)
            break;
    }
    // Over every port, a port where no adapter answers is one without an
    // adapter (a built-in serial port, say): it is in the table but counts
    // only when no port had one.
    int worst = qvxexit::Ok;
    bool anyAdapter = false;
    for (const TResult& r : results) {
        if (Opt.All && r.Status == qvxexit::NotFound)
            continue;
        anyAdapter = true;
        worst = std::max(worst, r.Status);
    }
    if (!anyAdapter)
        worst = qvxexit::NotFound;
    if (!Opt.All) {
        if (results[0].Status != qvxexit::Ok && !Opt.Json && !results[0].Text.empty())
            Host.Console.Err("qvx: " + results[0].Text + "\n");
        return worst;
    }
    if (Opt.Json) {
        std::vector<std::string> rows;
        for (const TResult& r : results)
            rows.push_back(TJsonObject()
                               .Str("port", r.Port)
                               .Int("status", r.Status)
                               .Str("result", r.Text)
                               .Text());
        Out(TJsonObject()
                .Str("command", Opt.Command->Name)
                .Raw("summary", JsonArray(rows))
                .Int("status", worst)
                .Text() +
            "\n");
        return worst;
    }
    size_t width = 4;
    for (const TResult& r : results)
        width = std::max(width, r.Port.size());
    auto row = [&](const std::string& port, const std::string& status, const std::string& text) {
        Out(port + std::string(width + 2 - port.size(), ' ') + status +
            std::string(status.size() < 8 ? 8 - status.size() : 1, ' ') + text + "\n");
    };
    Out("\n");
    row("PORT", "STATUS", "RESULT");
    for (const TResult& r : results)
        row(r.Port, std::to_string(r.Status), r.Status == qvxexit::Ok ? "ok" : r.Text);
    return worst;
}

std::unique_ptr<TConsoleAdapter> TCli::NewAdapter(const TPortEntry& port) {
    Host.Boxes.Take();
    return std::make_unique<TConsoleAdapter>(Host.Platform, Settings, Host.Link, Host.Console,
                                             port);
}

bool TCli::RunRequest(TConsoleAdapter& a, TSessionState request, TResult& result) {
    result.Port = a.Port.Name;
    const bool started = a.Run(request);
    for (std::string& box : Host.Boxes.Take())
        Boxes.push_back(std::move(box));
    if (!started) {
        // Whether another program holds the port is known here only.
        Ended(result, Host.PortBusy && Host.PortBusy() ? soBusy : soPortNotOpened, a);
        return false;
    }
    if (a.Interrupted) {
        Ended(result, soCancelled, a);
        return false;
    }
    return true;
}

TResult TCli::Finish(TResult result, TJsonObject json) {
    if (Opt.Json)
        Out(json.Str("port", result.Port)
                .Int("status", result.Status)
                .Str("result", result.Text)
                .Strings("messages", Boxes)
                .Text() +
            "\n");
    Boxes.clear();
    return result;
}

void TCli::PrintPower(const TConsoleAdapter& a) {
    Out(std::string("Power:     ") + (a.PowerShown ? (a.PowerOn ? "on" : "off") : "") + "\n");
    Out("Voltage:   " + (a.Millivolts > 0 ? Volts(a) + " V" : std::string()) + "\n");
}

void TCli::PrintIdentity(const TConsoleAdapter& a) {
    Out("Port:      " + a.Port.Name + "\n");
    for (const auto& [field, text] : a.Fields) {
        const std::string name = FieldName(field) + ":";
        Out(name + std::string(11 - name.size(), ' ') + text + "\n");
    }
    PrintPower(a);
    Out("Modes:\n");
    for (const TModeRow& m : a.Modes) {
        const std::string state = ModeStateName(m.StateIndex);
        Out("  " + m.Caption + "\t" + m.Number + "\t" + state +
            std::string(state.size() < 10 ? 10 - state.size() : 1, ' ') + m.Description + "\n");
    }
}

TJsonObject TCli::IdentityJson(const TConsoleAdapter& a) {
    TJsonObject json;
    json.Str("command", Opt.Command->Name);
    for (const auto& [field, text] : a.Fields)
        json.Str(LowerAscii(FieldName(field)), text);
    std::vector<std::string> modes;
    for (const TModeRow& m : a.Modes)
        modes.push_back(TJsonObject()
                            .Str("index", m.Caption)
                            .Str("number", m.Number)
                            .Str("state", ModeStateName(m.StateIndex))
                            .Str("description", m.Description)
                            .Text());
    json.Raw("modes", JsonArray(modes));
    PowerJson(a, json);
    json.Strings("log", a.Log);
    return json;
}

TResult TCli::Identify(const TPortEntry& port) {
    return ReplyOf(port, ssClearIdentity, nullptr, [this](TConsoleAdapter& a, TJsonObject& json) {
        json = IdentityJson(a);
        if (!Opt.Json)
            PrintIdentity(a);
    });
}

TResult TCli::ReplyOf(const TPortEntry& port, TSessionState request,
                      const std::function<void(TConsoleAdapter&)>& prepare,
                      const std::function<void(TConsoleAdapter&, TJsonObject&)>& show) {
    auto a = NewAdapter(port);
    if (prepare)
        prepare(*a);
    TResult result;
    TJsonObject json;
    json.Str("command", Opt.Command->Name);
    if (RunRequest(*a, request, result)) {
        if (a->Session.Outcome() == soDone)
            show(*a, json);
        else
            Ended(result, a->Session.Outcome(), *a);
    }
    return Finish(result, json);
}

TResult TCli::SwitchMode(const TPortEntry& port) {
    auto a = NewAdapter(port);
    TResult result;
    TJsonObject json;
    json.Str("command", "mode");
    const std::string& wanted = Opt.Args[0];
    if (!RunRequest(*a, ssClearIdentity, result))
        return Finish(result, json);
    if (a->Session.Outcome() != soDone) {
        Ended(result, a->Session.Outcome(), *a);
        return Finish(result, json);
    }
    auto row = std::find_if(a->Modes.begin(), a->Modes.end(), [&](const TModeRow& m) {
        return CompareFoldedAscii(m.Number, wanted) == 0;
    });
    // What the window's "Select" button offers; the running mode is kept.
    const bool running = row != a->Modes.end() && row->StateIndex == 0;
    if (row == a->Modes.end() ||
        (!running && !ModeActions(row->StateIndex, row->Number, false).Select)) {
        result.Status = ExitStatus(soNoSuchMode);
        result.Text = row == a->Modes.end()
                          ? "No mode " + Opt.Args[0] + " on this adapter"
                          : "Mode " + row->Number + " is " + ModeStateName(row->StateIndex) +
                                ": it cannot be selected";
        return Finish(result, json);
    }
    if (!running) {
        a->WantedMode = row->Number;
        if (!RunRequest(*a, ssSendSelectMode, result))
            return Finish(result, json);
        if (a->Session.Outcome() != soDone) {
            Ended(result, a->Session.Outcome(), *a);
            return Finish(result, json);
        }
    }
    json = IdentityJson(*a);
    if (!Opt.Json)
        PrintIdentity(*a);
    return Finish(result, json);
}

void TCli::PowerJson(const TConsoleAdapter& a, TJsonObject& json) {
    json.Raw("power", a.PowerShown ? (a.PowerOn ? "\"on\"" : "\"off\"") : "null");
    json.Raw("voltage", a.Millivolts > 0 ? JsonString(Volts(a)) : "null");
}

void TCli::ShowPower(TConsoleAdapter& a, TJsonObject& json) {
    PowerJson(a, json);
    if (!Opt.Json)
        PrintPower(a);
}

TResult TCli::Power(const TPortEntry& port) {
    const bool on = Opt.Args[0] == "on";
    return ReplyOf(
        port, ssSendPower, [on](TConsoleAdapter& a) { a.WantedPower = on; },
        [this](TConsoleAdapter& a, TJsonObject& json) { ShowPower(a, json); });
}

TResult TCli::Voltage(const TPortEntry& port) {
    return ReplyOf(port, ssClearIdentity, nullptr,
                   [this](TConsoleAdapter& a, TJsonObject& json) { ShowPower(a, json); });
}

TResult TCli::SelfTest(const TPortEntry& port) {
    auto a = NewAdapter(port);
    if (!Opt.Json)
        a->OnTestLine = [this](const std::string& line) { Out(line + "\n"); };
    TResult result;
    TJsonObject json;
    json.Str("command", "selftest");
    if (RunRequest(*a, ssSendSelfTest, result)) {
        const TSessionOutcome outcome = a->Session.Outcome();
        if (outcome == soDone || outcome == soSelftestWarnings || outcome == soSelftestErrors) {
            result.Text = std::string(VerdictText(a->Verdict));
            result.Status = ExitStatus(outcome);
            json.Strings("log", a->TestLog.Lines).Str("counts", a->TestCounts);
            if (!Opt.Json)
                Out("Result: " + result.Text + " (errors/warnings " + a->TestCounts + ")\n");
        } else {
            Ended(result, outcome, *a);
        }
    }
    return Finish(result, json);
}

TResult TCli::Upload(const TPortEntry& port) {
    auto a = NewAdapter(port);
    a->FirmwareFile = Opt.Args[0];
    a->WaitForPrompt = !Opt.NoWait;
    // Beyond 1000 hours the bound is as good as none.
    a->SilenceLimitMs = std::min(Opt.TimeoutSeconds, 3600000u) * 1000u;
    TUploadReport report(Host.Console, *a, !Opt.Json);
    a->Progress = &report;
    TResult result;
    TJsonObject json;
    json.Str("command", "upload").Str("file", a->FirmwareFile);
    const bool ran = RunRequest(*a, Opt.NoSearch ? ssStartUploadDirect : ssSendUpdate, result);
    const auto& s = a->Statuses;
    const TUploadOutcome outcome = a->Updater.Outcome();
    if (result.Status == qvxexit::Interrupted && !s.empty())
        result.Text = s.back(); // "Firmware Update canceled..."
    if (ran && a->Session.Outcome() != soDone) {
        Ended(result, a->Session.Outcome(), *a);
    } else if (ran) {
        result.Status = ExitStatus(outcome);
        switch (outcome) {
        case uoNone: // the upload could not take the link
            Ended(result, soPortNotOpened, *a);
            break;
        case uoDone:
            result.Text = s.empty() ? std::string(FirmwareOk) : s.back();
            break;
        case uoBootLoaderSilent:
            result.Text =
                "No answer from the boot loader for " + std::to_string(Opt.TimeoutSeconds) + " s";
            break;
        case uoFileMissing:
        case uoFileShort:
            // The file changed after it was checked.
            result.Text = FirmwareFileText(outcome, a->FirmwareFile);
            break;
        default:
            result.Text = s.empty() ? std::string(UploadOutcomeText(outcome)) : s.back();
            break;
        }
    }
    if (ran || a->Interrupted) {
        json.Strings("statuses", s);
        if (outcome != uoNone)
            json.Str("outcome", UploadOutcomeName(outcome));
    }
    if (a->UploadStartMs && a->LastStatusMs >= a->UploadStartMs)
        json.Raw("seconds", std::to_string((a->LastStatusMs - a->UploadStartMs) / 1000.0));
    return Finish(result, json);
}

TResult TCli::Reset(const TPortEntry& port) {
    auto a = NewAdapter(port);
    TResult result;
    TJsonObject json;
    json.Str("command", "reset");
    RunRequest(*a, ssSendReset, result);
    return Finish(result, json);
}

int TCli::PassThru() {
    TPassThruCatalogue catalogue(Settings);
    const std::vector<std::string> devices = catalogue.Devices();
    if (Opt.Args[0] == "list") {
        std::vector<std::string> items;
        for (const std::string& d : devices) {
            const std::string vendor = catalogue.Value(d, TPassThruDevice::Vendor);
            const std::string library = catalogue.Value(d, TPassThruDevice::FunctionLibrary);
            if (Opt.Json)
                items.push_back(TJsonObject()
                                    .Str("name", d)
                                    .Str("vendor", vendor)
                                    .Str("library", library)
                                    .Text());
            else
                Out(d + "\t" + vendor + "\t" + library + "\n");
        }
        if (Opt.Json)
            Out(TJsonObject()
                    .Str("command", "passthru list")
                    .Raw("entries", JsonArray(items))
                    .Text() +
                "\n");
        return qvxexit::Ok;
    }
    const std::string& name = Opt.Args[1];
    auto listed = std::find_if(devices.begin(), devices.end(), [&](const std::string& d) {
        return CompareFoldedAscii(d, name) == 0;
    });
    TProbeLog log;
    TProbeOutcome outcome = poNotRegistered;
    std::string shownName = name;
    if (listed != devices.end()) {
        TPassThruProbe probe(Settings, Host.Platform.Libraries, log);
        probe.ReadInfo(*listed);
        probe.Release();
        outcome = probe.Outcome();
        shownName = *listed;
    }
    const int status = ExitStatus(ProbeOutcomeName(outcome));
    const std::string text = ProbeOutcomeText(outcome, shownName);
    if (Opt.Json) {
        Out(TJsonObject()
                .Str("command", "passthru probe")
                .Str("name", name)
                .Strings("lines", log.Lines)
                .Int("status", status)
                .Str("result", text)
                .Text() +
            "\n");
    } else {
        for (const std::string& line : log.Lines)
            Out(line + "\n");
        if (status != qvxexit::Ok)
            Host.Console.Err("qvx: " + text + "\n");
    }
    return status;
}

} // namespace

int RunCli(const std::vector<std::string>& args, TCliHost& host) {
    TCli cli(host);
    const int status = cli.Run(args);
    cli.WarnOfUnstoredSettings();
    return status;
}

} // namespace qvx
