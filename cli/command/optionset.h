// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formats/formats.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace command {

// Every option of the command line, with its --help text, in a parser.
struct OptionSet {
    QCommandLineParser parser;
    QCommandLineOption version{{"V", "version"}, "Displays version information."};
    QCommandLineOption parameter{
        {"a", "parameter"},
        "The parameter a (default 4; values below 4 become 4), written with a decimal point or "
        "in the user's locale. At 4 the lower branch spans black to mid-grey and the upper "
        "mid-grey to white; larger values squeeze the picture towards black (lower) or white "
        "(upper). 4 to 6 suit ordinary photographs; by 10 the picture is almost flat black or "
        "white. --sheet shows a picture over several values.",
        "A",
        "4"};
    QCommandLineOption branch{{"b", "branch"},
                              "lower, upper or random (default): one draw per image (-v names it).",
                              "B",
                              "random"};
    QCommandLineOption seed{"seed",
                            "Seed for the random draws. An image's branch then depends on N and "
                            "its path as given, nothing else: every run, order, shard or resumed "
                            "run with the same N renders it the same, on any machine and in any "
                            "version of this program.",
                            "N"};
    QCommandLineOption output{{"o", "output"},
                              "Where the rendering goes, for one input (or the embedded "
                              "photograph); - for standard output.",
                              "FILE"};
    QCommandLineOption outputDir{{"d", "output-dir"},
                                 "Where renderings go for several inputs; each keeps its input's "
                                 "base name, and its suffix as written where the format stays "
                                 "(IMG_0001.JPG stays IMG_0001.JPG; as PNG, IMG_0001.png). "
                                 "With -r, each keeps its folder's name and its path below it.",
                                 "DIR"};
    QCommandLineOption name{
        "name",
        "The names of -d's files, from PATTERN: {stem} is the input's name without its suffix, "
        "{suffix} the input's suffix as written, {ext} the output's (default {stem}.{ext}); "
        "such as '{stem}-il.{ext}', or '{stem}.{suffix}.{ext}' to keep x.jpg and x.png apart.",
        "PATTERN"};
    QCommandLineOption recursive{
        {"r", "recursive"},
        "Render the images in folders given as inputs (or listed with --files-from) and in the "
        "folders below them, into -d's folder as a tree like theirs, each folder under its own "
        "name, as cp -r copies: -r -d DIR photos/100CANON photos/101CANON writes "
        "DIR/100CANON/IMG_0001.JPG and DIR/101CANON/IMG_0001.JPG. A folder given as photos/. "
        "(or .) gives what is in it, without its name: DIR/100CANON/... An image is a file whose "
        "suffix, in any case, names "
        "a format --list-formats reads (.JPG, .jpeg, .HEIC, .tif), or one without a suffix "
        "whose first bytes do; other files, names beginning with a dot, links to folders and "
        "-d's folder are passed over (an image's XMP sidecar, NAME.xmp or NAME.EXT.xmp, goes "
        "beside its rendering, named after it, unless --strip). A link to a file is followed "
        "while it stays inside the "
        "folder given; one that leads out of it is passed over with a line, so that a tree "
        "from elsewhere cannot name your other files (a file named on the command line may be "
        "a link anywhere). An image's path, for --seed and --shard, is the folder as given, "
        "then its path below it."};
    QCommandLineOption sheet{
        "sheet",
        "Instead of a rendering, write a contact sheet of each input: its picture, scaled to fit "
        "320 pixels, for each value of a in the list (4 or more, such as 4,5,6 or 4,4.5,5; at "
        "most 8) on the lower branch and on the upper, each labelled, to choose a and the "
        "branch before a batch (so not with -b). Under -d a sheet is named NAME-sheet.EXT, "
        "never as a rendering of NAME would be.",
        "A,..."};
    QCommandLineOption passes{
        "passes",
        "Write the window's show: a new branch for every pass, as the window draws them, "
        "instead of one per file. From a picture, a show of N passes (an animated GIF or WebP, "
        "or a film where the output's suffix says so), each pass shown for 250 ms, the "
        "window's pace; on a film or an animated GIF or WebP (written as the same), each "
        "picture on the branch of the 250 ms pass its time falls in (N is then not used). "
        "Flash safety: a change between the dark and the bright rendering that would be the "
        "fourth within any one second keeps the branch before it, so no second of a show "
        "holds more than three changes. With --seed the draws depend on the seed "
        "and the input's path alone: the same command makes the same file. A show carries no "
        "metadata of the picture.",
        "N"};
    QCommandLineOption format{{"f", "format"},
                              "Output format (jpeg, png, tiff, webp, gif, ppm, ... or a suffix "
                              "such as jpg); default from the output name, else the input's "
                              "(PNG for the embedded photograph).",
                              "FMT"};
    QCommandLineOption listFormats{"list-formats",
                                   "Print the formats this build reads and writes."};
    QCommandLineOption quality{{"Q", "quality"},
                               "Quality of lossy formats (JPEG, WebP, HEIF, AVIF, JPEG XL, JPEG "
                               "2000, films), 1 to 100 (default 90; HEIF 65 and AVIF 80, which "
                               "give about the size a phone's own file of the picture has). JPEG "
                               "keeps full-resolution colour at 90 and above. keep: a JPEG "
                               "written from a JPEG gets the quality its tables were made "
                               "with, and half-resolution colour where it had it (4:2:2 "
                               "becomes 4:2:0, which libvips writes); other outputs their "
                               "default. For films, -Q maps onto the encoder's own scale: "
                               "x264's and x265's CRF from 51 (-Q 1) to 0 (-Q 100), CRF = 51 x "
                               "(100 - Q) / 99 rounded (-Q 55 is CRF 23, x264's default; "
                               "without -Q each keeps its own, 23 and 28); VP8's, VP9's and "
                               "AV1's CRF from 63 to 0 (30 without "
                               "-Q); other encoders' quantiser from 31 to 1.",
                               "N"};
    QCommandLineOption compression{"compression", "PNG compression level, 0 to 9 (default 6).",
                                   "N"};
    QCommandLineOption pngFilters{"png-filters",
                                  "Filter each PNG row as libpng does by default (Sub, Up, "
                                  "Average or Paeth, whichever suits it): a photograph takes "
                                  "about half the bytes, for about three times the work."};
    QCommandLineOption strip{
        "strip", "Drop what identifies the picture (EXIF with GPS and camera, XMP, IPTC, comments, "
                 "text) from the outputs, in every format. Orientation stays, so that the picture "
                 "stays upright; so does the ICC profile, without which colours would change."};
    QCommandLineOption stripIcc{"strip-icc", "Drop the ICC profile too."};
    QCommandLineOption autorotate{
        "autorotate",
        "Turn each picture's pixels as its EXIF Orientation says and write Orientation 1, in "
        "every format, for the viewers and tools (film makers, many web tools) that ignore "
        "Orientation; the rest of the metadata stays. Without it only HEIF/AVIF outputs are "
        "turned; others keep the pixels as stored and the Orientation that says how to show "
        "them. Files of several pages keep their own."};
    QCommandLineOption lossless{"lossless",
                                "Write WebP, HEIF/AVIF and JPEG XL lossless (a lossless WebP "
                                "input is written lossless anyway)."};
    QCommandLineOption tiffCompression{
        "tiff-compression",
        QString::fromStdString("TIFF compression: " + formats::tiffCompressionNames() +
                               " (default: a TIFF input's own, else none)."),
        "NAME"};
    QCommandLineOption maxPixels{"max-pixels",
                                 "Refuse images whose header claims more pixels than N, before "
                                 "decoding (default 1073741824; 0 for no limit).",
                                 "N"};
    QCommandLineOption maxMemory{"max-memory",
                                 "The memory the run's decoders may take in all, SIZE (bytes, or "
                                 "with K, M or G), shared alike by its jobs (-j): a file "
                                 "whose decoding would take more than its job's share is "
                                 "refused before decoding, and a decoder that takes more anyway "
                                 "is stopped; that file fails alone (default: a quarter of this "
                                 "machine's memory, at most 1G; 0 for no limit). Where the "
                                 "program may make memory groups (cgroup v2 delegated to it, as "
                                 "in a Slurm job or a systemd scope, or root), each job's "
                                 "share counts all its process makes the kernel hold; "
                                 "elsewhere it counts the process's data, and the process may "
                                 "map no shared memory. -v says which.",
                                 "SIZE"};
    QCommandLineOption timeLimit{"time-limit",
                                 "Stop a file that takes longer than SECONDS to render (a "
                                 "decoder stuck on a hostile file); that file fails alone "
                                 "(default 600; 0 for no limit). A film is one file: the limit "
                                 "is for all of it, whatever its length (a limit that grew with "
                                 "the length a file claims would be the file's to choose); give "
                                 "long films more. Waiting for a FIFO to be "
                                 "opened at its other end is timed; once open, a file read "
                                 "from or written to a pipe (standard input or output included, "
                                 "when they are pipes) goes at the pace of the program at its "
                                 "other end, and is not timed. Time the program is stopped "
                                 "(Ctrl-Z) does not count.",
                                 "SECONDS"};
    QCommandLineOption salvage{"salvage",
                               "Render what can be read of a damaged file (a JPEG whose scan "
                               "data is cut or corrupt) instead of failing it; a warning line "
                               "names the file."};
    QCommandLineOption allowUntrusted{"allow-untrusted",
                                      "Also use the loaders libvips marks as untrusted (its "
                                      "ImageMagick fallback, PDF, SVG, FITS, ...), which are "
                                      "not hardened against hostile files."};
    QCommandLineOption noSandbox{
        "no-sandbox",
        "Render without the sandbox, for debugging. Each file is rendered in a process of its "
        "own that, before it reads a byte of the file, gives up new privileges, its "
        "capabilities, the file system (where the kernel has Landlock) and every system call "
        "decoding does not need (seccomp): a decoder that a hostile file takes over can open, "
        "run or reach nothing, write only its output, and sees no other file of the run. "
        "Loaders that open files of their own (some of those --allow-untrusted permits) need "
        "this."};
    QCommandLineOption overwrite{{"y", "overwrite"},
                                 "Replace existing output files; without it an existing file is "
                                 "never touched."};
    QCommandLineOption threads{{"j", "jobs"},
                               "Threads in all (default: the machine's cores): one image uses them "
                               "all, a batch spreads its files over them.",
                               "N"};
    QCommandLineOption filesFrom{"files-from",
                                 "Also render the paths listed in FILE, one a line (- reads "
                                 "standard input).",
                                 "FILE"};
    QCommandLineOption nul{"null", "The --files-from list is NUL-separated (find -print0)."};
    QCommandLineOption shard{"shard",
                             "Render only shard K of N (1 <= K <= N): the inputs whose path, as "
                             "given, hashes to K. N runs with K = 1..N render every input once.",
                             "K/N"};
    QCommandLineOption skipExisting{"skip-existing",
                                    "Count an input whose output already exists as done and "
                                    "leave that file alone (to resume a batch); not with -y."};
    QCommandLineOption quiet{{"q", "quiet"}, "No progress line and no summary."};
    QCommandLineOption verbose{{"v", "verbose"},
                               "A line per image rendered, on standard error: input, output, "
                               "branch and seconds; and once, how the jobs are sandboxed and "
                               "their memory bounded."};
    QCommandLineOption json{
        "json",
        "Write how each input ended to FILE (- for standard output) as it ends, as JSON Lines "
        "for programs: one object per input with input, output (null where none), outcome "
        "(rendered, warned, skipped, exists or failed), branch (lower, upper, both, or null "
        "where none was drawn), a, seconds and reason; then one {\"summary\": {...}} object with "
        "the counts, the inputs left and the exit status. Names that are not UTF-8 have each "
        "stray byte as the character of its number.",
        "FILE"};

    OptionSet();
};

} // namespace command
