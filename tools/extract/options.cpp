#include "options.h"

#include <getopt.h>

#include <cstdlib>


const char kHelpText[] =
    "usage: trelk-extract [options] ARCHIVE.exe [NAME...]\n"
    "Extracts a Trelk self-extracting archive (split volumes .A01, .A02, ... beside it).\n"
    "NAMEs pick the entries to work on: stored names, with / or \\ between folders\n"
    "(docs/a.txt), or shell patterns, where * also matches / (*.wav, docs/*).\n"
    "  -d DIR   extract below DIR (made when missing; default: the current folder)\n"
    "  -l       list the files: size, stored size, CRC-32, name\n"
    "  -t       test the files: decode and check each one (past a damaged one too),\n"
    "           write nothing\n"
    "  -k TEXT  the key of an encrypted archive (else asked on the terminal)\n"
    "  --key-file FILE\n"
    "           the key from the file's first line\n"
    "  -o       overwrite existing files without asking\n"
    "  -n       never overwrite: skip existing files\n"
    "  -q       quiet: only errors\n"
    "  --codepage N\n"
    "           the Windows code page the archive's names are in (default 1252)\n"
    "  --volumes-present\n"
    "           a split archive on removable media has all its volumes in place:\n"
    "           the prompt to insert a disk is answered OK (a volume is looked\n"
    "           for twice), also without a terminal\n"
    "  --help, --version\n"
    "On a terminal an existing file is asked about: [y]es, [n]o (skip it), [A]ll, [N]one\n"
    "(skip all), [c]ancel.\n"
    "Exit codes: 0 done, 1 an error was reported or a NAME matched nothing, 2 bad usage,\n"
    "3 cancelled.\n";

const char kVersionText[] = "trelk-extract 1.0\n";

namespace {

enum LongOption { kHelp = 256, kVersion, kKeyFile, kVolumesPresent, kCodePage };

const option kLongOptions[] = {{"help", no_argument, nullptr, kHelp},
                               {"version", no_argument, nullptr, kVersion},
                               {"key-file", required_argument, nullptr, kKeyFile},
                               {"volumes-present", no_argument, nullptr, kVolumesPresent},
                               {"codepage", required_argument, nullptr, kCodePage},
                               {nullptr, 0, nullptr, 0}};

// The option getopt stopped at, as typed: "-x" for a short one, "--name" for a long one.
std::string OffendingOption(char** argv) {
    // A long option's own value stands in optopt when its argument is missing.
    if (optopt > 0 && optopt < kHelp) return std::string("-") + char(optopt);
    std::string typed = argv[optind - 1];
    return typed.substr(0, typed.find('='));
}

}  // namespace

std::string UsageLine(const std::string& problem) { return "trelk-extract: " + problem + "; try --help\n"; }

Parsed ParseOptions(int argc, char** argv, Options& o, std::string& problem) {
    bool list = false, test = false, always = false, skip = false;
    optind = 0;  // a fresh scan, also when called more than once
    opterr = 0;
    for (int c; (c = getopt_long(argc, argv, ":d:ltk:onq", kLongOptions, nullptr)) != -1;) {
        switch (c) {
            case 'd':
                if (*optarg == '\0') {
                    problem = "-d needs a folder";
                    return Parsed::Usage;
                }
                o.dest = optarg;
                break;
            case 'l': list = true; break;
            case 't': test = true; break;
            case 'k': o.key = optarg; break;
            case 'o': always = true; break;
            case 'n': skip = true; break;
            case 'q': o.quiet = true; break;
            case kKeyFile:
                if (*optarg == '\0') {
                    problem = "--key-file needs a file";
                    return Parsed::Usage;
                }
                o.keyFile = optarg;
                break;
            case kVolumesPresent: o.volumesPresent = true; break;
            case kCodePage: {
                char* end = nullptr;
                const unsigned long n = std::strtoul(optarg, &end, 10);
                if (end == optarg || *end != '\0' || n == 0 || n > 65535) {
                    problem = std::string("not a code page: ") + optarg;
                    return Parsed::Usage;
                }
                o.codePage = unsigned(n);
                break;
            }
            case kHelp: return Parsed::Help;
            case kVersion: return Parsed::Version;
            case ':': problem = OffendingOption(argv) + " needs a value"; return Parsed::Usage;
            default: problem = "unknown option " + OffendingOption(argv); return Parsed::Usage;
        }
    }
    if (optind >= argc) {
        problem = "no archive given";
        return Parsed::Usage;
    }
    o.archive = argv[optind];
    o.names.assign(argv + optind + 1, argv + argc);
    problem = list && test                ? "give -l or -t, not both"
              : always && skip            ? "give -o or -n, not both"
              : o.key && !o.keyFile.empty() ? "give -k or --key-file, not both"
                                          : "";
    if (!problem.empty()) return Parsed::Usage;
    o.mode = list ? Mode::List : test ? Mode::Test : Mode::Extract;
    o.overwrite = always ? Overwrite::Always : skip ? Overwrite::Skip : Overwrite::Ask;
    return Parsed::Run;
}
