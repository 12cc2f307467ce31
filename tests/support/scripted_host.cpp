#include "support/scripted_host.h"

#include <cstring>

#include "archive/catalog.h"
#include "common/messages.h"
#include "common/win_values.h"

ScriptedHost::ScriptedHost() : m_previous(platform::SetHost(this)) {}

ScriptedHost::~ScriptedHost() { platform::SetHost(m_previous); }

int ScriptedHost::ShowMessage(const char* text, const char* caption, unsigned type) {
    boxes.push_back({caption, text, type});
    if (onBox) onBox(*this, boxes.back());
    if ((type & 0x0F) == MB_OK) return IDOK;
    if (answers.empty()) return IDCANCEL;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
}

void ScriptedHost::SendToDialog(unsigned message, intptr_t lParam) {
    Message m{message, lParam, {}};
    if (message == WM_EXTRACT_FILENAME) m.text = reinterpret_cast<const char*>(lParam);
    if (message == WM_EXTRACT_FILEDONE) m.text = reinterpret_cast<const CatalogEntry*>(lParam)->displayName;
    messages.push_back(m);
    if (onMessage) onMessage(*this, m);
}

bool ScriptedHost::PromptKeyText(char* text, int size) {
    ++keyPrompts;
    if (keys.empty()) return false;
    std::strncpy(text, keys.front().c_str(), size_t(size) - 1);
    text[size - 1] = '\0';
    keys.pop_front();
    return true;
}

bool ScriptedHost::IsRemovableDrive(const char*) { return removable; }

std::vector<std::string> ScriptedHost::Trace() const {
    std::vector<std::string> out;
    for (const Message& m : messages) {
        switch (m.id) {
            case WM_EXTRACT_FILENAME: out.push_back("FILENAME " + m.text); break;
            case WM_EXTRACT_FILEPROGRESS: out.push_back("PROGRESS " + std::to_string(m.lParam)); break;
            case WM_EXTRACT_FILEDONE: out.push_back("DONE " + m.text); break;
            case WM_EXTRACT_FINISHED: out.push_back("FINISHED"); break;
            default: out.push_back("MESSAGE " + std::to_string(m.id)); break;
        }
    }
    return out;
}
