#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/code_page.h"

namespace pack {

struct InputFile {
    std::string source;    // where to read it
    std::string stored;    // where it lands: ".\dir\file", in the local encoding (UTF-8)
    std::string archived;  // the same in the archive's code page
    uint64_t size = 0;
};

// What the walk has to say: warnings go on, refusals end the run with exit
// code 2, errors (an input that cannot be read) with exit code 1.
struct Diagnostics {
    std::vector<std::string> warnings;
    std::vector<std::string> refusals;
    std::vector<std::string> errors;
};

// A file to leave out, such as the archive being written, and why: said
// when skipped, unless there is nothing to say.
struct FileId {
    uint64_t device = 0;
    uint64_t inode = 0;
    std::string why;
};

// The files named by the paths, in archive order: the paths in the order
// given, each folder's entries by byte order of their names, folders entered
// where they sort. A file is stored as ".\name", a folder's files as
// ".\folder\sub\name"; "." (or a path ending in "/.") stores the folder's
// contents directly. Links to files are followed; links to folders found inside
// a folder are skipped (no cycles), as are special files.
// Stored paths are converted to the code page when one is given.
std::vector<InputFile> CollectInputs(const std::vector<std::string>& paths, const std::vector<FileId>& skip,
                                     Diagnostics& diag, const platform::CodePage* codePage = nullptr);

// The name under which a path given on the command line is stored: its last
// component, or "" for "." (contents at the top). ".." and "/" take the name of
// the folder they stand for.
std::string TopLevelName(const std::string& path);

}  // namespace pack
