#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

class QCoreApplication;

enum class BranchChoice { Lower, Upper, Random };

struct Options {
    float a = 4.0f;
    BranchChoice branch = BranchChoice::Random;
    std::optional<std::uint64_t> seed;
    QString output;    // -o: one file, or "-" for standard output
    QString outputDir; // -d
    QString format;    // -f, lower case; empty: from the output name or the input
    bool overwrite = false;
    int jobs = 1;
    bool quiet = false;
    QStringList inputs; // empty: the embedded photograph; "-": standard input
};

// What parsing the command line came to: options to run with, or a text to
// print and the status to exit with (help, version, or a usage error).
struct ParsedCommandLine {
    std::optional<Options> options;
    QString message;
    int exitStatus = 0;
};

ParsedCommandLine parseCommandLine(const QStringList& arguments);

// The --help text, which the man page is also made from.
QString helpText();
