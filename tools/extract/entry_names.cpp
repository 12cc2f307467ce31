#include "entry_names.h"

#include <fnmatch.h>

#include "platform/console/host.h"

namespace {

std::string WithSlashes(std::string text) {
    for (char& c : text)
        if (c == '\\') c = '/';
    return text;
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
        if (n.pattern == name || fnmatch(n.pattern.c_str(), name.c_str(), FNM_NOESCAPE) == 0) {
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
