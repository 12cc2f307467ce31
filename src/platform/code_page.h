#pragma once
#include <memory>
#include <string>

namespace platform {

// The code page's name for people, by its number: "code page 1252 (Western European)".
std::string CodePageTitle(unsigned number);

// Names in an archive are bytes in a Windows code page (the stub opens files
// through the ANSI functions); POSIX names them in UTF-8. Converts between the
// two: on POSIX with the C library's iconv, on Windows with its own
// conversions through UTF-16.
class CodePage {
public:
    CodePage();
    ~CodePage();
    CodePage(const CodePage&) = delete;
    CodePage& operator=(const CodePage&) = delete;

    // False when the system has no conversion for this code page.
    bool Open(unsigned number);
    unsigned Number() const { return m_number; }
    // "code page 1252 (Western European)"
    std::string Title() const { return CodePageTitle(m_number); }

    // False when a character has no counterpart on the other side, or the
    // text is not valid in its own encoding.
    bool ToUtf8(const std::string& bytes, std::string& utf8) const;
    bool FromUtf8(const std::string& utf8, std::string& bytes) const;

private:
    struct Converters;

    unsigned m_number = 0;
    std::unique_ptr<Converters> m_converters;
};



bool IsValidUtf8(const std::string& text);

// The name as Windows compares it with other names in one folder: letters in
// any case alike, dots and spaces at its end dropped. UTF-8 in and out.
std::string WindowsFolded(const std::string& utf8);

}  // namespace platform
