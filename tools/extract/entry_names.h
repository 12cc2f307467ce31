#pragma once
#include <string>
#include <vector>

// A stored name as trelk-extract shows it: '/' between folders, as on Linux.
// Every name the console prints goes through here.
std::string ShownName(const char* corePath);

// The entries that the NAMEs of the command line pick: a stored name, with
// '/' or '\' between folders, or a shell pattern in which '*' and '?' also
// match '/'. No NAME picks every entry.
class EntrySelection {
public:
    explicit EntrySelection(const std::vector<std::string>& names);
    // Whether the entry of this stored path (".\docs\a.txt") is picked; the
    // NAMEs that pick it count as matched.
    bool Picks(const char* storedPath);
    // The NAMEs, as given, that have picked nothing so far.
    std::vector<std::string> Unmatched() const;

private:
    struct Name {
        std::string given;
        std::string pattern;  // with '/' separators
        bool matched = false;
    };
    std::vector<Name> m_names;
};
