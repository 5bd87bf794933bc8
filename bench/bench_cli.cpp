// The console program from outside, as a script runs it: the upload of the
// same 64 KiB payload as bench_upload in 1024-byte pages through qvx.exe
// beside the stand-in D2XX library, paced at 115200 bit/s, and the time of
// one identify. The upload's own time is what qvx reports for it (from the
// start of the upload to its last status, the span bench_upload times); the
// wire time counts every byte that crossed the line in both directions, as
// the stand-in counted them when the port closed.
#include "bench/payload.h"
#include "tests/e2e/remote_app.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr unsigned LineRate = 11520;
constexpr size_t PayloadSize = 64 * 1024;
constexpr const char* UploadSerial = "QVCLI024";
constexpr const char* IdentifySerial = "QVCLI001";

using qvx::e2e::ReadFileBytes;
using qvx::e2e::WriteFileBytes;

struct TRun {
    bool Started = false;
    DWORD Status = 0xFFFFFFFF;
    double Seconds = 0; // wall time of the process
    std::string Out;
};

TRun Qvx(const std::string& dir, const std::string& args) {
    TRun run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA((dir + "out.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string line = "\"" + dir + "qvx.exe\" " + args;
    PROCESS_INFORMATION process{};
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    run.Started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, dir.c_str(),
                                 &startup, &process) != FALSE;
    CloseHandle(out);
    if (!run.Started)
        return run;
    WaitForSingleObject(process.hProcess, 600000);
    QueryPerformanceCounter(&end);
    GetExitCodeProcess(process.hProcess, &run.Status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    run.Seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    run.Out = ReadFileBytes(dir + "out.txt");
    return run;
}

// The number after "key": in a JSON text; -1 without one.
double JsonNumber(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\":");
    return at == std::string::npos ? -1 : std::atof(json.c_str() + at + key.size() + 3);
}

} // namespace

int main() {
    const std::string own = qvx::e2e::OwnFolder();
    CreateDirectoryA((own + "runs").c_str(), nullptr);
    const std::string dir = own + "runs\\cli\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    for (const char* file : {"qvx.exe", "mvd2xx.dll"})
        CopyFileA((own + "program\\" + file).c_str(), (dir + file).c_str(), FALSE);
    // The boot loader's first '>' comes once the port is surely open, as in
    // bench_upload.
    WriteFileBytes(dir + "mvd2xx.cfg", std::string("identity.serial=") + UploadSerial +
                                           "\nboot.start=1\nboot.prompt.delay=60000\n"
                                           "boot.pagesize=1024\nline.rate=11520\n---\n"
                                           "identity.serial=" +
                                           IdentifySerial + "\nline.rate=11520\n");
    WriteFileBytes(dir + "fw.rfw", qvx::bench::FirmwareImage(PayloadSize));
    const std::string stats = dir + "stats.txt";
    DeleteFileA(stats.c_str());
    SetEnvironmentVariableA("QVX_STANDIN_STATS", stats.c_str());

    int failures = 0;
    const TRun upload =
        Qvx(dir, std::string("upload fw.rfw --no-search --json --port USB:") + UploadSerial);
    unsigned fromHost = 0, toHost = 0;
    char serial[32] = {};
    const std::string counts = ReadFileBytes(stats);
    std::sscanf(counts.c_str(), "%31s %u %u", serial, &fromHost, &toHost);
    const double wire = static_cast<double>(fromHost + toHost) / LineRate;
    const double seconds = JsonNumber(upload.Out, "seconds");
    const bool ok = upload.Started && upload.Status == 0 && seconds > 0 && wire > 0 &&
                    std::string(serial) == UploadSerial;
    if (!ok) {
        ++failures;
        std::fprintf(stderr, "console upload failed (status %lu): %s\n", upload.Status,
                     upload.Out.c_str());
    }
    std::printf("BENCH cli_upload_seconds_1024 %.3f -\n", seconds);
    std::printf("BENCH cli_upload_wire_seconds_1024 %.3f -\n", wire);
    std::printf("BENCH cli_upload_process_seconds_1024 %.3f -\n", upload.Seconds);
    std::printf("BENCH cli_upload_ratio_1024 %.3f <=1.13\n", ok ? seconds / wire : 0);

    const TRun identify = Qvx(dir, std::string("identify --port USB:") + IdentifySerial);
    if (!identify.Started || identify.Status != 0) {
        ++failures;
        std::fprintf(stderr, "console identify failed (status %lu)\n", identify.Status);
    }
    std::printf("BENCH cli_identify_ms %.0f -\n", identify.Seconds * 1000);
    return failures == 0 ? 0 : 1;
}
