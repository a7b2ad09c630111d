// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/help.h"

#include <array>
#include <utility>

namespace sondrel::cli {

namespace {

constexpr std::string_view kIntro =
    R"(Usage: sondrel-tag [--help] [--version] COMMAND [OPTIONS] FILE...
       sondrel-tag COMMAND --help

Reads and edits the tags of audio files (MP3, Ogg Vorbis, Opus and Ogg FLAC
(.ogg, .oga, .opus), WMA, APE, Musepack, MP4/M4A/AAC, FLAC). The format is
chosen by the file's extension; a file that is not what its extension says
is reported and never written. Options may come before or after the files;
"--" ends the options. Results go to standard output, messages to standard
error.

)";

constexpr std::string_view kShow =
    R"(  show [--json] [--read 1|2|12] [--case 0..4] [--codepage CP] FILE...
      Print each file's fields, pictures, stream facts, the tag kinds present
      and the frames or items that no field shows. A file that is not valid
      audio is still printed (valid: false, with the reason) and makes the
      exit status 1.
      --json   one JSON array with an object per file (see JSON OUTPUT in
               the manual page); default: aligned text
      Example: sondrel-tag show --json song.mp3 track.ogg
)";

constexpr std::string_view kSet =
    R"(  set [--read 1|2|12] [--save 1|2|12] [--codepage CP] [--no-lyrics3]
      [FIELD VALUE]... FILE...
      Read each file as the editor does, change only the given fields and
      save. Fields: --track --title --artist --album --year --genre --comment
      --lyrics (or --lyrics-file F) --composer --orig-artist --copyright
      --url --encoded-by. --genre takes a name of the genre table (its
      number is stored), a number from 0 to 147 (that entry of the table),
      any other text (stored as it is) or "" (no genre at all). MP4 stores a
      track as numbers only ("3" or "3/12"); a number given alone keeps the
      file's total.
      --no-lyrics3   write no Lyrics3 block after ID3v1 (default: written
                     when there are lyrics)
      Example: sondrel-tag set --artist "Nina" --genre Jazz *.mp3
)";

constexpr std::string_view kRemove =
    R"(  remove --id3v1|--id3v2|--all|--ogg|--ape|--wma|--mp4 FILE...
      Delete the ID3v1 (with Lyrics3), the ID3v2, or both tags of MP3 files,
      the comments of Ogg (Vorbis, Opus, FLAC) and FLAC files, or the APE
      tag of MP3, Monkey's Audio and Musepack files; --wma and --mp4 clear
      the text fields of WMA and MP4 files (pictures stay). Every removal
      replaces the file safely: it is the old file or the new one, never
      half written.
      Example: sondrel-tag remove --id3v1 song.mp3
)";

constexpr std::string_view kPictures =
    R"(  pictures FILE [--list] [--add IMG [--pos N] [--desc D] [--type T]] [--delete N]
                [--extract N OUT [--force]]
      List, add, delete or export the pictures of an MP3, WMA, MP4, FLAC or
      Ogg (Vorbis, Opus) file. Positions count from 0; --add appends unless
      --pos is given. IMG
      must be a JPEG, PNG, GIF, BMP or WebP image (checked by its content).
      --type T is the picture type, 0 to 20 (default 3, front cover; 4 back
      cover, 0 other); MP4 pictures carry no type.
      --extract never replaces an existing OUT unless --force is given.
      Without an action the pictures are listed.
      Example: sondrel-tag pictures song.mp3 --add cover.jpg --pos 0 --desc Front
)";

constexpr std::string_view kRename =
    R"(  rename --template T [NAME OPTIONS] [READ OPTIONS] [--dry-run] FILE...
      Rename each file to a name made from its tags. Placeholders: %# track,
      %T title, %A artist, %L album, %Y year, %G genre, %C comment, %B bit
      rate, %F frequency, %D duration, %S size, %5 folder, %O current name
      (digits %0-%9 also work). "\" or "/" in T makes folders, inside each
      file's own folder; T must be relative, and a folder ".." is refused.
      A segment whose placeholders are all empty is left out; a file whose
      name would be empty is not renamed and is reported. Files that are
      not valid audio are skipped and reported. An existing file is never
      replaced; folders made for a rename that fails are removed again.
      Each renamed file prints "OLD → NEW" with the full new path.
      --dry-run   print what a run would do, with the failures it would
                  meet (existing or duplicate names, refused folders, names
                  too long), and change nothing
      Example: sondrel-tag rename --template '%A/%L/%# - %T' --dry-run *.mp3
)";

constexpr std::string_view kParse =
    R"H(  parse --template T [--mode overwrite|leave|empty] [--track E] [--title E]
        [--artist E] [--album E] [--year E] [--comment E] [--number START]
        [NAME OPTIONS] [READ OPTIONS] [--dry-run] FILE...
      Read values out of file and folder names by T and write them into the
      tags. Each field expression E combines them, as in "%A (%Y)"; naming
      any field limits the job to the named ones, and without any only the
      fields the template holds are changed. A file whose name does not
      match T (a literal text of T is missing) is left unchanged and
      reported, as are files that are not valid audio. Each written file
      prints its name and the fields set, as written.
      --mode       overwrite (default) replaces the fields; leave passes by
                   files that already have a tag; empty fills empty fields
      --number N   number the files in the given order from N
      --dry-run    print the new values and write nothing
      Example: sondrel-tag parse --template '%A/%L/%# %T' */*/*.mp3
)H";

constexpr std::string_view kExport =
    R"(  export --format csv|tsv|m3u|pls --output OUT|- [--columns LIST]
         [--separator C] [--escape-formulas] [READ OPTIONS] FILE...
      Write a list or playlist of the files; OUT without an extension gets
      the format's. "-" writes to standard output (without the byte-order
      mark that CSV and TSV files get). LIST is a comma-separated selection
      of track,title,artist,album,year,genre,comment,bitrate,freq,duration,
      size (all by default). Playlist titles are the tags as they are.
      --separator C   the CSV field separator (default ";"; "," for tools
                      that expect commas, "tab" for a tab)
      --escape-formulas  CSV and TSV: a value starting with =, +, -, @, a
                      tab or a carriage return gets a leading "'", so a
                      spreadsheet shows it as text and never runs it as a
                      formula (without it the values are written as they are)
      A file whose name holds a line break is not put in a playlist.
      A listed file is never written over.
      Example: sondrel-tag export --format m3u --output album.m3u *.mp3
)";

constexpr std::string_view kLookup =
    R"(  lookup freedb [--server URL] [--email ADDR] [--disc N [--write]]
         [--track-style 0..2] [--timeout S] [--json] FILE...
      Find the album of the files on a FreeDB server from their durations.
      Give all tracks of one album, in album order (at most 99). Prints the
      discs found, numbered from 1; --disc N reads that disc and prints the
      values each file would get; with --write they are written (track,
      title, artist, album, year, genre; comments stay).
      --server URL   the server (default https://gnudb.gnudb.org); a host
                     without "http://" or "https://" means http on port 80
      --email ADDR   your e-mail address, sent to the server as it asks
                     (default: the environment variable SONDREL_FREEDB_EMAIL)
      --timeout S    give up the whole look-up after S seconds (default 600)
      --json         one JSON object: "discId", "discs" (number, category,
                     id, text) and, with --disc, "disc" and "files" (file,
                     status, message, tags)
      Example: sondrel-tag lookup freedb --email me@example.org --disc 1 --write *.mp3

  lookup musicbrainz [--artist A] [--album B | --toc] [--release N
         [--dry-run | --write] [--cover]] [--track-style 0..2] [SERVICE OPTIONS]
         [--json] FILE...
      Find releases on MusicBrainz by artist and album words (default: the
      first file's artist and album) or, with --toc, by the table of contents
      of the files' durations (all tracks of one album, in album order).
      Prints one entry per medium, such as Album (CD 2), numbered from 1;
      --release N reads that medium and prints the values each file would
      get (--dry-run says so explicitly); with --write they are written
      (track, title, artist, album, year, genre; comments stay). --cover adds the
      release's front cover from the Cover Art Archive to every file whose
      format holds pictures. At most one request a second is sent, and a busy
      answer (503) is asked again after the wait it names.
  lookup covers [--artist A] [--album B | --toc] [--release N [--dry-run |
         --write]] [SERVICE OPTIONS] [--json] FILE...
      The same entries; --release N fetches that release's front cover from
      the Cover Art Archive and, with --write, adds it to the files whose
      format holds pictures. Their tags stay as they are.
  lookup lyrics [--dry-run | --write] [SERVICE OPTIONS] [--json] FILE...
      Ask LRCLIB for the lyrics of each file by its artist, title, album and
      duration; with --write the plain lyrics go into the lyrics field (the
      texts of the synchronised lines when the service has no plain text)
      and the synchronised lines, in the same save, into a SYLT frame (MP3)
      or a "SYNCEDLYRICS" item (every other format).
  SERVICE OPTIONS:
      --host URL       the service (default https://musicbrainz.org,
                       https://lrclib.net); only https is used
      --cover-host URL the Cover Art Archive
                       (default https://coverartarchive.org)
      --email ADDR     your e-mail address, named in the user agent (default:
                       the project's address)
      --allow-loopback-http  also accept plain http to this machine (a local
                       mirror or a test server); a redirect elsewhere still
                       has to be https, and is refused before it is asked
      --timeout S      give up the whole look-up after S seconds (default
                       600); each request gives up after 180 s (300 s for a
                       picture) in any case
      --json           one JSON object: "releases" (number, release, medium,
                       media, title, album, artist, year, label, genre,
                       trackCount) and, with --release, "release", "cover" and
                       "files" (file, status, message, tags); for lyrics
                       "files" (file, status, message, lyrics, synced: time in
                       ms and text)
      Example: sondrel-tag lookup musicbrainz --album 'Two Sides' --release 2
               --write *.mp3
)";

constexpr std::string_view kShared = R"(
NAME OPTIONS (rename, parse, export):
  --replace 0..3      in names and values: 0 nothing, 1 spaces to "_",
                      2 "_" to spaces (default), 3 delete spaces
  --case 0..4         capitalization: 0 unchanged (default), 1 lower case,
                      2 UPPER CASE, 3 Only First Up, 4 First word up
  --translit 0..2     0 none (default), 1 Cyrillic to Latin, 2 Latin to
                      Cyrillic
  --track-style 0..2  track digits: 0 "1" (default), 1 "01", 2 "001"
  --keep-bad-letters  replace " * / : < > ? \ | by spaces instead of
                      deleting them
  --keep-spaces       keep leading, trailing and double spaces

READ OPTIONS (show, set, and the batch commands):
  --read 1|2|12       MP3 tags to read: 1 ID3v1/Lyrics3, 2 ID3v2, 12 both
                      (default; ID3v2 values first, empty ones from ID3v1)
  --save 1|2|12       MP3 tags to write (set, parse; default 12)
  --codepage CP       code page of 8-bit tag texts (default ISO-8859-1)
  --no-lyrics3        write no Lyrics3 block (set, parse)

FILES (rename, parse, export):
  -r, --recursive     a folder argument means the audio files under it
  --files-from F      read more file names from F ("-": standard input),
                      one per line or separated by NUL bytes

OUTPUT (rename, parse, export):
  --json              the results as one JSON array, an object per file:
                      "old" (the file), "new" (its new path; for parse the
                      file, for export the list written), "status"
                      (renamed, would rename, not renamed, failed, written,
                      would write, unchanged, skipped, listed), "message"
                      (why, for files that failed or were skipped) and, for
                      parse, "tags" (the fields set); not with --output -
  -q, --quiet         no result lines (messages on standard error stay)
  -v, --verbose       a count of the files by what happened, at the end

EXIT STATUS:
  0 when every file did what was asked; 1 when any file failed, was
  skipped, was not renamed or is not valid audio (each reported with its
  name and the reason); 2 for a usage error.

Options:
  -h, --help      show this help and exit
  -V, --version   show the version and exit
  --completion bash|zsh|fish
                  print the completion script for that shell and exit
)";

constexpr std::array<CommandText, 8> kCommands = {{
    {"show", kShow},
    {"set", kSet},
    {"remove", kRemove},
    {"pictures", kPictures},
    {"rename", kRename},
    {"parse", kParse},
    {"export", kExport},
    {"lookup", kLookup},
}};

}  // namespace

std::span<const CommandText> Commands() {
    return kCommands;
}

std::string_view SharedHelp() {
    return kShared;
}

void PrintHelp(std::ostream& out) {
    out << kIntro << "Commands:\n";
    for (const auto& [name, text] : kCommands)
        out << text << "\n";
    out << kShared.substr(1);
}

std::optional<std::string> CommandHelp(std::string_view command) {
    for (const auto& [name, text] : kCommands) {
        if (name == command)
            return "Usage:\n" + std::string(text) + std::string(kShared);
    }
    return std::nullopt;
}

int UsageError(std::ostream& err, std::string_view command, const std::string& message) {
    err << "sondrel-tag: " << message << "\n";
    if (CommandHelp(command))
        err << "Usage: sondrel-tag " << command << " ...; see 'sondrel-tag " << command
            << " --help'\n";
    else
        err << "Usage: sondrel-tag COMMAND [OPTIONS] FILE...; see 'sondrel-tag --help'\n";
    return 2;
}

}  // namespace sondrel::cli
