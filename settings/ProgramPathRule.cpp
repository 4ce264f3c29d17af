#include "settings/ProgramPathRule.h"

#include <climits>
#include <cwchar>
#include <cwctype>

namespace quarn {

namespace {

// Lowers character by character; a byte the locale cannot decode is kept.
std::string LowerCase(const std::string& text) {
    std::string lowered;
    std::mbstate_t state{};
    size_t i = 0;
    while (i < text.size()) {
        wchar_t wide = 0;
        size_t used = std::mbrtowc(&wide, text.data() + i, text.size() - i, &state);
        if (used == size_t(-1) || used == size_t(-2) || used == 0) {
            state = std::mbstate_t{};
            unsigned char byte = static_cast<unsigned char>(text[i]);
            lowered += byte < 0x80 ? char(std::towlower(byte)) : char(byte);
            ++i;
            continue;
        }
        char encoded[MB_LEN_MAX];
        std::mbstate_t out{};
        size_t made = std::wcrtomb(encoded, wchar_t(std::towlower(wint_t(wide))), &out);
        if (made == size_t(-1)) {
            lowered.append(text, i, used);
        } else {
            lowered.append(encoded, made);
        }
        i += used;
    }
    return lowered;
}

std::string FirstWord(const std::string& text) {
    if (!text.empty() && text.front() == '"') {
        size_t close = text.find('"', 1);
        return close == std::string::npos ? text : text.substr(0, close + 1);
    }
    return text.substr(0, text.find_first_of(" \t"));
}

}  // namespace

std::string GetProgramPath(const std::string& commandLine) {
    std::string lowered = LowerCase(commandLine);
    size_t at = lowered.find("exe");
    if (at == std::string::npos) {
        return FirstWord(lowered);
    }
    return lowered.substr(0, at + 4);
}

std::string IniPathFromCommandLine(const std::string& commandLine) {
    std::string path = GetProgramPath(commandLine);
    for (size_t at = path.find("exe"); at != std::string::npos; at = path.find("exe", at + 3)) {
        path.replace(at, 3, "ini");
    }
    std::erase(path, '"');
    while (!path.empty() && (path.back() == ' ' || path.back() == '\t')) {
        path.pop_back();
    }
    return path;
}

}  // namespace quarn
