#include "platform/code_page.h"

#include <iconv.h>
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

}  // namespace

struct CodePage::Converters {
    iconv_t toUtf8 = iconv_t(-1);
    iconv_t fromUtf8 = iconv_t(-1);
    ~Converters() {
        if (toUtf8 != iconv_t(-1)) iconv_close(toUtf8);
        if (fromUtf8 != iconv_t(-1)) iconv_close(fromUtf8);
    }
};

CodePage::CodePage() = default;
CodePage::~CodePage() = default;

bool CodePage::Open(unsigned number) {
    const std::string name = "CP" + std::to_string(number);
    auto converters = std::make_unique<Converters>();
    converters->toUtf8 = iconv_open("UTF-8", name.c_str());
    converters->fromUtf8 = iconv_open(name.c_str(), "UTF-8");
    if (converters->toUtf8 == iconv_t(-1) || converters->fromUtf8 == iconv_t(-1)) return false;
    m_number = number;
    m_converters = std::move(converters);
    return true;
}

bool CodePage::ToUtf8(const std::string& bytes, std::string& utf8) const {
    return m_converters && Convert(m_converters->toUtf8, bytes, utf8);
}

bool CodePage::FromUtf8(const std::string& utf8, std::string& bytes) const {
    return m_converters && Convert(m_converters->fromUtf8, utf8, bytes);
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
