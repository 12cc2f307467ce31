#include "platform/posix/code_page.h"

#include <locale.h>
#include <wctype.h>

#include <cerrno>
#include <cstdint>
#include <vector>

namespace platform {
namespace {

bool Convert(iconv_t cd, const std::string& in, std::string& out) {
    if (cd == iconv_t(-1)) return false;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);  // a fresh start for every text
    std::vector<char> buffer(4 * in.size() + 16);
    char* from = const_cast<char*>(in.data());
    size_t fromLeft = in.size();
    char* to = buffer.data();
    size_t toLeft = buffer.size();
    if (iconv(cd, &from, &fromLeft, &to, &toLeft) == size_t(-1)) return false;
    if (iconv(cd, nullptr, nullptr, &to, &toLeft) == size_t(-1)) return false;
    out.assign(buffer.data(), size_t(to - buffer.data()));
    return true;
}

const char* Region(unsigned number) {
    switch (number) {
        case 437: return "OEM United States";
        case 850: return "OEM Multilingual Latin 1";
        case 874: return "Thai";
        case 932: return "Japanese";
        case 936: return "Simplified Chinese";
        case 949: return "Korean";
        case 950: return "Traditional Chinese";
        case 1250: return "Central European";
        case 1251: return "Cyrillic";
        case 1252: return "Western European";
        case 1253: return "Greek";
        case 1254: return "Turkish";
        case 1255: return "Hebrew";
        case 1256: return "Arabic";
        case 1257: return "Baltic";
        case 1258: return "Vietnamese";
        default: return nullptr;
    }
}

}  // namespace

CodePage::~CodePage() { Close(); }

void CodePage::Close() {
    if (m_toUtf8 != iconv_t(-1)) iconv_close(m_toUtf8);
    if (m_fromUtf8 != iconv_t(-1)) iconv_close(m_fromUtf8);
    m_toUtf8 = m_fromUtf8 = iconv_t(-1);
    m_number = 0;
}

bool CodePage::Open(unsigned number) {
    const std::string name = "CP" + std::to_string(number);
    iconv_t to = iconv_open("UTF-8", name.c_str());
    iconv_t from = iconv_open(name.c_str(), "UTF-8");
    if (to == iconv_t(-1) || from == iconv_t(-1)) {
        if (to != iconv_t(-1)) iconv_close(to);
        if (from != iconv_t(-1)) iconv_close(from);
        return false;
    }
    Close();
    m_number = number;
    m_toUtf8 = to;
    m_fromUtf8 = from;
    return true;
}

std::string CodePage::Title() const {
    const char* region = Region(m_number);
    return "code page " + std::to_string(m_number) + (region ? std::string(" (") + region + ")" : "");
}

bool CodePage::ToUtf8(const std::string& bytes, std::string& utf8) const { return Convert(m_toUtf8, bytes, utf8); }

bool CodePage::FromUtf8(const std::string& utf8, std::string& bytes) const {
    return Convert(m_fromUtf8, utf8, bytes);
}

namespace {

iconv_t ToWide() {
    static iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
    return cd;
}

}  // namespace

bool IsValidUtf8(const std::string& text) {
    std::string wide;
    return Convert(ToWide(), text, wide);
}

std::string WindowsFolded(const std::string& utf8) {
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    static iconv_t fromWide = iconv_open("UTF-8", "UTF-32LE");
    std::string trimmed = utf8;
    while (!trimmed.empty() && (trimmed.back() == '.' || trimmed.back() == ' ')) trimmed.pop_back();
    std::string wide;
    if (!Convert(ToWide(), trimmed, wide)) return trimmed;
    for (size_t i = 0; i + 4 <= wide.size(); i += 4) {
        uint32_t c = 0;
        for (int b = 0; b < 4; ++b) c |= uint32_t(uint8_t(wide[i + size_t(b)])) << (8 * b);
        // Without a Unicode locale only ASCII letters fold.
        if (unicode)
            c = uint32_t(towupper_l(wint_t(c), unicode));
        else if (c >= 'a' && c <= 'z')
            c -= 'a' - 'A';
        for (int b = 0; b < 4; ++b) wide[i + size_t(b)] = char(c >> (8 * b));
    }
    std::string folded;
    return Convert(fromWide, wide, folded) ? folded : trimmed;
}

}  // namespace platform
