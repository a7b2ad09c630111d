// sondrel-tag: reads and writes tags from the command line over the same core
// as the desktop program; machine-readable output is JSON.
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;

void PrintUsage(std::ostream& out) {
    out << "Usage: sondrel-tag [--help] [--version] COMMAND [ARGS...]\n"
           "\n"
           "Reads and edits the tags of audio files.\n"
           "\n"
           "Options:\n"
           "  -h, --help      show this help and exit\n"
           "  -V, --version   show the version and exit\n";
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.empty()) {
        PrintUsage(std::cerr);
        return kExitUsage;
    }
    const std::string_view first = args.front();
    if (first == "--help" || first == "-h") {
        PrintUsage(std::cout);
        return kExitOk;
    }
    if (first == "--version" || first == "-V") {
        std::cout << "sondrel-tag " << SONDREL_VERSION << "\n";
        return kExitOk;
    }
    std::cerr << "sondrel-tag: unknown command or option '" << first << "'\n";
    PrintUsage(std::cerr);
    return kExitUsage;
}
