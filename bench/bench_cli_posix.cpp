// The Linux console program's firmware upload over a serial device: the
// simulated adapter's boot loader on a pseudo-terminal (pty_sim_device) paced
// at 115200 bit/s (11520 bytes/s), the same 64 KiB payload as bench_upload in
// 1024-byte pages. The upload's own time is what qvx reports for it (from the
// start of the upload to its last status); the wire time counts every byte
// that crossed the line in both directions, as the pty device counted them.
#include "bench/payload.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr unsigned LineRate = 11520;
constexpr size_t PayloadSize = 64 * 1024;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs program with args, its standard output into outPath; returns its pid.
pid_t Spawn(const std::string& outPath, const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, STDOUT_FILENO);
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

double JsonNumber(const std::string& json, const std::string& key) {
    const size_t at = json.find("\"" + key + "\":");
    return at == std::string::npos ? -1 : std::atof(json.c_str() + at + key.size() + 3);
}

} // namespace

int main() {
    char pattern[] = "/tmp/qvx_bench_XXXXXX";
    const std::string dir = mkdtemp(pattern) ? pattern : "";
    if (dir.empty())
        return 1;
    // The boot loader's first '>' comes once the port is surely open, as in
    // bench_upload.
    std::ofstream(dir + "/adapter.cfg") << "boot.start=1\nboot.prompt.delay=60000\n"
                                           "boot.pagesize=1024\nline.rate="
                                        << LineRate << "\n";
    std::ofstream(dir + "/fw.rfw", std::ios::binary) << qvx::bench::FirmwareImage(PayloadSize);
    setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);

    const std::string link = dir + "/tty";
    const pid_t device =
        Spawn(dir + "/device.txt", {QVX_PTY_SIM_DEVICE, link, "sim", dir + "/adapter.cfg"});
    for (int i = 0; i < 3000 && ReadAll(dir + "/device.txt").find("ready") == std::string::npos;
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    const pid_t qvx = Spawn(dir + "/out.txt", {QVX_CLI, "upload", dir + "/fw.rfw", "--no-search",
                                               "--json", "--port", link});
    int status = 0;
    waitpid(qvx, &status, 0);
    kill(device, SIGTERM);
    waitpid(device, nullptr, 0);

    const std::string out = ReadAll(dir + "/out.txt");
    const std::string counts = ReadAll(dir + "/device.txt");
    unsigned long long fromHost = 0, toHost = 0;
    const size_t at = counts.find("bytes ");
    if (at != std::string::npos)
        std::sscanf(counts.c_str() + at, "bytes %llu %llu", &fromHost, &toHost);
    const double wire = static_cast<double>(fromHost + toHost) / LineRate;
    const double seconds = JsonNumber(out, "seconds");
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && seconds > 0 && wire > 0;
    if (!ok)
        std::fprintf(stderr, "console upload failed: %s\n", out.c_str());
    std::printf("BENCH cli_posix_upload_seconds_1024 %.3f -\n", seconds);
    std::printf("BENCH cli_posix_upload_wire_seconds_1024 %.3f -\n", wire);
    std::printf("BENCH cli_posix_upload_ratio_1024 %.3f <=1.13\n", ok ? seconds / wire : 0);
    std::printf("BENCH cli_posix_upload_poll_floor_1024 %.3f -\n",
                qvx::bench::UploadPollFloor(wire, PayloadSize / 1024));
    std::system(("rm -rf '" + dir + "'").c_str());
    return ok ? 0 : 1;
}
