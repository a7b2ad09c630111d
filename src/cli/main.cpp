// sondrel-tag: reads and writes tags from the command line over the same core
// as the desktop program; machine-readable output is JSON.
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/args.h"
#include "cli/batch_commands.h"
#include "cli/commands.h"
#include "tags/file_io.h"

namespace {

using sondrel::cli::kExitOk;
using sondrel::cli::kExitUsage;

void PrintUsage(std::ostream& out) {
    out << R"(Usage: sondrel-tag [--help] [--version] COMMAND [ARGS...]

Reads and edits the tags of audio files (MP3, Ogg Vorbis, WMA, APE, Musepack,
MP4/M4A/AAC). The format is chosen by the file's extension.

Commands:
  show [--json] [--read 1|2|12] [--case N] FILE...
      Print each file's fields, pictures, stream facts, the tag kinds present
      and the frames or items that no field shows.
      Example: sondrel-tag show --json song.mp3 track.ogg

  set [--read 1|2|12] [--save 1|2|12] [--no-lyrics3] [FIELD VALUE]... FILE...
      Read each file as the editor does, change only the given fields and
      save. Fields: --track --title --artist --album --year --genre --comment
      --lyrics (or --lyrics-file F) --composer --orig-artist --copyright
      --url --encoded-by. A genre name from the genre table selects its
      number; any other text is stored as it is.
      Example: sondrel-tag set --artist "Nina" --genre Jazz *.mp3

  remove --id3v1|--id3v2|--all|--ogg FILE...
      Delete the ID3v1 (with Lyrics3), the ID3v2, or both tags of MP3 files,
      or the comments of Ogg Vorbis files.
      Example: sondrel-tag remove --id3v1 song.mp3

  pictures FILE [--list] [--add IMG [--pos N] [--desc D]] [--delete N]
                [--extract N OUT]
      List, add, delete or export the pictures of an MP3, WMA or MP4 file.
      Positions count from 0; --add appends unless --pos is given.
      Example: sondrel-tag pictures song.mp3 --add cover.jpg --pos 0 --desc Front

)" << sondrel::cli::BatchUsage()
        << R"(
Read and save choices (MP3): 1 = ID3v1/Lyrics3, 2 = ID3v2, 12 = both (the
default; on reading, ID3v2 values first and empty ones filled from ID3v1).
--case N capitalizes title, artist and album on reading: 0 unchanged,
1 lower case, 2 UPPER CASE, 3 Only First Up, 4 First word up.
--codepage CP names the code page of 8-bit tag texts (default ISO-8859-1).

Exit status: 0 when every file succeeded, 1 when any file failed (its error
is printed with the file name), 2 for a usage error.

Options:
  -h, --help      show this help and exit
  -V, --version   show the version and exit
)";
}

}  // namespace

int main(int argc, char** argv) {
    // A full file-size limit fails the write instead of killing a save midway;
    // an interrupted save takes its temporary file with it.
    sondrel::PrepareProcessForSaves(true);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        PrintUsage(std::cerr);
        return kExitUsage;
    }
    const std::string_view first = args.front();
    if (first == "--help" || first == "-h" || first == "help") {
        PrintUsage(std::cout);
        return kExitOk;
    }
    if (first == "--version" || first == "-V") {
        std::cout << "sondrel-tag " << SONDREL_VERSION << "\n";
        return kExitOk;
    }
    if (const auto status = sondrel::cli::RunBatchCommand(args, std::cout, std::cerr))
        return *status;
    const auto parsed = sondrel::cli::ParseArgs(args);
    if (!parsed.args) {
        std::cerr << "sondrel-tag: " << parsed.error << "\n";
        PrintUsage(std::cerr);
        return kExitUsage;
    }
    const auto& a = *parsed.args;
    using sondrel::cli::Command;
    switch (a.command) {
        case Command::Show:
            return sondrel::cli::RunShow(a, std::cout, std::cerr);
        case Command::Set:
            return sondrel::cli::RunSet(a, std::cout, std::cerr);
        case Command::Remove:
            return sondrel::cli::RunRemove(a, std::cout, std::cerr);
        case Command::Pictures:
            return sondrel::cli::RunPictures(a, std::cout, std::cerr);
    }
    return kExitUsage;
}
