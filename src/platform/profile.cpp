#include "platform/profile.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/fs.h"
#include "util/no_case.h"

namespace vexo::platform {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b]))
        ++b;
    while (e > b && IsBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

struct Lines {
    std::vector<std::string> text; // without line ends
    bool crlf = false;
    bool finalNewline = true;
};

bool LoadLines(const std::string& file, Lines& out) {
    std::ifstream in(ResolvePathCase(file), std::ios::binary);
    if (!in)
        return false;
    std::ostringstream all;
    all << in.rdbuf();
    const std::string data = all.str();
    size_t pos = 0;
    while (pos < data.size()) {
        size_t nl = data.find('\n', pos);
        if (nl == std::string::npos) {
            out.text.push_back(data.substr(pos));
            out.finalNewline = false;
            break;
        }
        std::string line = data.substr(pos, nl - pos);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
            out.crlf = true;
        }
        out.text.push_back(std::move(line));
        pos = nl + 1;
    }
    return true;
}

// The section name of a "[name]" line, or nothing.
std::optional<std::string> SectionOf(const std::string& line) {
    std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[')
        return std::nullopt;
    size_t close = t.find(']');
    if (close == std::string::npos)
        return std::nullopt;
    return Trim(t.substr(1, close - 1));
}

// The key of a "key=value" line, or nothing for comments and other lines.
std::optional<std::string> KeyOf(const std::string& line, std::string* value) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[')
        return std::nullopt;
    size_t eq = line.find('=');
    if (eq == std::string::npos)
        return std::nullopt;
    if (value)
        *value = line.substr(eq + 1);
    return Trim(line.substr(0, eq));
}

std::string DecodeValue(const std::string& raw) {
    std::string v = Trim(raw);
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        v = v.substr(1, v.size() - 2);
    return v;
}

std::string EncodeValue(const std::string& value) {
    bool needQuotes =
        !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                           (value.size() >= 2 && value.front() == '"' && value.back() == '"'));
    return needQuotes ? "\"" + value + "\"" : value;
}

} // namespace

std::optional<std::string> ReadProfileString(const std::string& file, const std::string& section,
                                             const std::string& key, size_t maxChars) {
    Lines lines;
    if (!LoadLines(file, lines))
        return std::nullopt;
    bool inSection = false;
    for (const std::string& line : lines.text) {
        if (auto s = SectionOf(line)) {
            inSection = EqualNoCase(*s, section);
            continue;
        }
        if (!inSection)
            continue;
        std::string raw;
        if (auto k = KeyOf(line, &raw); k && EqualNoCase(*k, key)) {
            std::string v = DecodeValue(raw);
            if (v.size() > maxChars)
                v.resize(maxChars);
            return v;
        }
    }
    return std::nullopt;
}

bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value) {
    if (key.find_first_of("=\r\n") != std::string::npos ||
        section.find_first_of("]\r\n") != std::string::npos ||
        value.find_first_of("\r\n") != std::string::npos)
        return false; // would not read back as one key and value
    Lines lines;
    std::string real = ResolvePathCase(file);
    if (PathExists(real) && !LoadLines(real, lines))
        return false;
    const std::string newLine = key + "=" + EncodeValue(value);

    int sectionStart = -1;  // index of the section's header line
    int lastInSection = -1; // last key line of the section
    int keyLine = -1;
    bool inSection = false;
    for (size_t i = 0; i < lines.text.size(); ++i) {
        if (auto s = SectionOf(lines.text[i])) {
            inSection = EqualNoCase(*s, section);
            if (inSection && sectionStart < 0) {
                sectionStart = static_cast<int>(i);
                lastInSection = static_cast<int>(i);
            } else if (inSection) {
                inSection = false; // only the first section of that name is used
            }
            continue;
        }
        if (!inSection)
            continue;
        if (auto k = KeyOf(lines.text[i], nullptr)) {
            if (EqualNoCase(*k, key)) {
                keyLine = static_cast<int>(i);
                break;
            }
            lastInSection = static_cast<int>(i);
        } else if (!Trim(lines.text[i]).empty()) {
            lastInSection = static_cast<int>(i);
        }
    }
    if (keyLine >= 0) {
        lines.text[keyLine] = newLine;
    } else if (sectionStart >= 0) {
        lines.text.insert(lines.text.begin() + lastInSection + 1, newLine);
    } else {
        if (!lines.text.empty() && !Trim(lines.text.back()).empty())
            lines.text.emplace_back();
        lines.text.push_back("[" + section + "]");
        lines.text.push_back(newLine);
    }

    std::string text;
    const char* eol = lines.crlf ? "\r\n" : "\n";
    for (size_t i = 0; i < lines.text.size(); ++i) {
        text += lines.text[i];
        if (i + 1 < lines.text.size() || lines.finalNewline)
            text += eol;
    }
    return ReplaceFileText(real, text);
}

} // namespace vexo::platform
