#include "platform/code_page.h"

namespace platform {
namespace {

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

std::string CodePageTitle(unsigned number) {
    const char* region = Region(number);
    return "code page " + std::to_string(number) + (region ? std::string(" (") + region + ")" : "");
}

}  // namespace platform
