#include "entry_names.h"

#include "platform/console/host.h"

namespace {

std::string WithSlashes(std::string text) {
    for (char& c : text)
        if (c == '\\') c = '/';
    return text;
}

// Whether the bracket at p ("[a-z]", "[!0-9]") holds c; p moves past it.
// An unclosed bracket is a plain '['.
bool InClass(const char*& p, char c) {
    const char* q = p + 1;
    const bool negated = *q == '!' || *q == '^';
    if (negated) ++q;
    bool found = false;
    for (bool first = true; *q && (first || *q != ']'); first = false, ++q) {
        if (q[1] == '-' && q[2] && q[2] != ']') {
            if (c >= q[0] && c <= q[2]) found = true;
            q += 2;
        } else if (*q == c) {
            found = true;
        }
    }
    if (*q != ']') {  // no class after all
        ++p;
        return c == '[';
    }
    p = q + 1;
    return found != negated;
}

// A shell pattern against a name: '*' any run of characters ('/' included),
// '?' one character, "[...]" one of a class; no escapes, since '\' separates
// folders here.
bool Matches(const char* pattern, const char* name) {
    const char* star = nullptr;  // the last '*' seen, to go back to
    const char* resume = nullptr;
    while (*name) {
        const char* p = pattern;
        if (*p == '*') {
            star = ++pattern;
            resume = name;
            continue;
        }
        if (*p == '?' || (*p == '[' ? InClass(p, *name) : *p == *name)) {
            pattern = *pattern == '[' ? p : pattern + 1;
            ++name;
            continue;
        }
        if (!star) return false;
        pattern = star;
        name = ++resume;
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}

}  // namespace

std::string ShownName(const char* corePath) { return WithSlashes(platform::CoreTextToLocal(corePath)); }

EntrySelection::EntrySelection(const std::vector<std::string>& names) {
    for (const std::string& given : names) m_names.push_back({given, WithSlashes(given)});
}

bool EntrySelection::Picks(const char* storedPath) {
    if (m_names.empty()) return true;
    // Every NAME is tried, so that each one that picks something counts.
    const std::string name = ShownName(storedPath + 2);
    bool picked = false;
    for (Name& n : m_names) {
        // '\' separates folders here, so it escapes nothing.
        if (n.pattern == name || Matches(n.pattern.c_str(), name.c_str())) {
            n.matched = true;
            picked = true;
        }
    }
    return picked;
}

std::vector<std::string> EntrySelection::Unmatched() const {
    std::vector<std::string> unmatched;
    for (const Name& n : m_names)
        if (!n.matched) unmatched.push_back(n.given);
    return unmatched;
}
