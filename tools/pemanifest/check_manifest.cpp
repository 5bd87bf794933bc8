// check_manifest <program.exe> <execution level>: the program's manifest asks
// for that execution level (asInvoker, requireAdministrator) and names every
// Windows version from 7 to 11 as supported, so that the system neither
// virtualizes what it writes nor runs it in an older version's mode. Prints
// what is missing; exit status 0 when nothing is.
#include "tools/pemanifest/pe_manifest.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

// supportedOS Ids as the system documents them.
const char* const SupportedOs[][2] = {
    {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "Windows Vista"},
    {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "Windows 7"},
    {"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "Windows 8"},
    {"{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "Windows 8.1"},
    {"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "Windows 10 and 11"},
};

// The value of attribute name in the first element called element; "" when
// there is none.
std::string Attribute(const std::string& xml, const std::string& element, const std::string& name) {
    const size_t start = xml.find("<" + element);
    if (start == std::string::npos)
        return "";
    const size_t end = xml.find('>', start);
    const std::string tag = xml.substr(start, end == std::string::npos ? end : end - start);
    const std::string key = " " + name + "=\"";
    const size_t at = tag.find(key);
    if (at == std::string::npos)
        return "";
    const size_t from = at + key.size();
    const size_t to = tag.find('"', from);
    return to == std::string::npos ? "" : tag.substr(from, to - from);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: check_manifest <program.exe> <execution level>\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    std::string manifest, why;
    if (!qvx::ReadPeManifest(image, manifest, why)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], why.c_str());
        return 1;
    }
    int missing = 0;
    const std::string level = Attribute(manifest, "requestedExecutionLevel", "level");
    if (level != argv[2]) {
        std::fprintf(stderr, "%s: execution level \"%s\", not \"%s\"\n", argv[1], level.c_str(),
                     argv[2]);
        ++missing;
    }
    for (const auto& os : SupportedOs)
        if (manifest.find(std::string("<supportedOS Id=\"") + os[0] + "\"") == std::string::npos) {
            std::fprintf(stderr, "%s: %s is not named as supported\n", argv[1], os[1]);
            ++missing;
        }
    if (missing == 0)
        std::printf("%s: %s, Windows Vista to 11\n", argv[1], level.c_str());
    return missing == 0 ? 0 : 1;
}
