#include "platform/code_page.h"

#include <windows.h>

namespace platform {
namespace {

bool ToWide(UINT codePage, DWORD flags, const std::string& in, std::wstring& out) {
    out.clear();
    if (in.empty()) return true;
    const int n = MultiByteToWideChar(codePage, flags, in.data(), int(in.size()), nullptr, 0);
    if (n <= 0) return false;
    out.resize(size_t(n));
    return MultiByteToWideChar(codePage, flags, in.data(), int(in.size()), &out[0], n) == n;
}

// A character the code page lacks makes the conversion fail rather than take
// a look-alike.
bool FromWide(UINT codePage, const std::wstring& in, std::string& out) {
    out.clear();
    if (in.empty()) return true;
    const bool utf8 = codePage == CP_UTF8;
    BOOL lossy = FALSE;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int n = WideCharToMultiByte(codePage, flags, in.data(), int(in.size()), nullptr, 0, nullptr,
                                      utf8 ? nullptr : &lossy);
    if (n <= 0 || lossy) return false;
    out.resize(size_t(n));
    return WideCharToMultiByte(codePage, flags, in.data(), int(in.size()), &out[0], n, nullptr, nullptr) == n;
}

}  // namespace

struct CodePage::Converters {};

CodePage::CodePage() = default;
CodePage::~CodePage() = default;

bool CodePage::Open(unsigned number) {
    CPINFO info;
    if (!GetCPInfo(number, &info)) return false;
    m_number = number;
    m_converters = std::make_unique<Converters>();
    return true;
}

bool CodePage::ToUtf8(const std::string& bytes, std::string& utf8) const {
    std::wstring wide;
    return m_converters && ToWide(m_number, MB_ERR_INVALID_CHARS, bytes, wide) && FromWide(CP_UTF8, wide, utf8);
}

bool CodePage::FromUtf8(const std::string& utf8, std::string& bytes) const {
    std::wstring wide;
    return m_converters && ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, wide) && FromWide(m_number, wide, bytes);
}

bool IsValidUtf8(const std::string& text) {
    std::wstring wide;
    return ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, text, wide);
}

std::string WindowsFolded(const std::string& utf8) {
    std::string trimmed = utf8;
    while (!trimmed.empty() && (trimmed.back() == '.' || trimmed.back() == ' ')) trimmed.pop_back();
    std::wstring wide;
    if (!ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, trimmed, wide)) return trimmed;
    if (!wide.empty()) CharUpperBuffW(&wide[0], DWORD(wide.size()));
    std::string folded;
    return FromWide(CP_UTF8, wide, folded) ? folded : trimmed;
}

}  // namespace platform
