#pragma once
#include <optional>
#include <string>
#include <vector>

// What trelk-extract was asked to do, as the command line says it.
enum class Mode { Extract, List, Test };
// What becomes of a file that is already there.
enum class Overwrite { Ask, Always, Skip };

struct Options {
    Mode mode = Mode::Extract;
    std::string archive;
    std::vector<std::string> names;   // the entries to work on; every one when empty
    std::optional<std::string> dest;  // -d; the current folder when absent
    std::optional<std::string> key;   // -k, or later the key file's first line
    std::string keyFile;
    Overwrite overwrite = Overwrite::Ask;
    bool quiet = false;
    bool volumesPresent = false;
    unsigned codePage = 1252;  // of the archive's names: Western European, as trelk-pack's default
};

enum class Parsed { Run, Help, Version, Usage };

// Reads the command line into options. On Usage, problem says what is wrong
// in a few words ("no archive given").
Parsed ParseOptions(int argc, char** argv, Options& options, std::string& problem);

extern const char kHelpText[];
extern const char kVersionText[];

// The one line a usage error prints: the problem and where to read more.
std::string UsageLine(const std::string& problem);
