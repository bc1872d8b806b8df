#include "report_json.h"

#include <charconv>
#include <cstdio>

namespace vexo::record {

namespace {

std::string Number(double value) {
    char text[32];
    const auto [end, error] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 3);
    return error == std::errc() ? std::string(text, end) : "0";
}

void SkipBlanks(const std::string& s, size_t& at) {
    while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\r' || s[at] == '\n'))
        ++at;
}

// Appends the UTF-8 form of a code point.
void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool ReadString(const std::string& s, size_t& at, std::string& out) {
    if (at >= s.size() || s[at] != '"')
        return false;
    for (++at; at < s.size(); ++at) {
        const char c = s[at];
        if (c == '"') {
            ++at;
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++at >= s.size())
            return false;
        switch (s[at]) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'u': {
            unsigned code = 0;
            if (at + 4 >= s.size() ||
                std::from_chars(s.data() + at + 1, s.data() + at + 5, code, 16).ptr !=
                    s.data() + at + 5)
                return false;
            AppendUtf8(out, code);
            at += 4;
            break;
        }
        default:
            out += s[at];
            break;
        }
    }
    return false;
}

} // namespace

std::string ResultWord(const DemoReport& report, bool stopped) {
    if (report.Recorded)
        return "recorded";
    return stopped ? "stopped" : "failed";
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string ReportJson(const DemoReport& r, bool stopped) {
    return "{\"demo\":" + JsonString(r.Demo.Item) +
           ",\"video\":" + (r.Video.empty() ? std::string("null") : JsonString(r.Video)) +
           ",\"frames\":" + std::to_string(r.Frames) +
           ",\"video_seconds\":" + Number(r.VideoSeconds) +
           ",\"seconds_taken\":" + Number(r.SecondsTaken) +
           ",\"sound\":" + (r.Sound ? "true" : "false") +
           ",\"result\":" + JsonString(ResultWord(r, stopped)) +
           ",\"reason\":" + (r.Reason.empty() ? std::string("null") : JsonString(r.Reason)) + "}";
}

std::optional<std::map<std::string, std::string>> ParseFlatJson(const std::string& line) {
    std::map<std::string, std::string> members;
    size_t at = 0;
    SkipBlanks(line, at);
    if (at >= line.size() || line[at++] != '{')
        return std::nullopt;
    SkipBlanks(line, at);
    if (at < line.size() && line[at] == '}')
        return members;
    while (true) {
        std::string key, value;
        SkipBlanks(line, at);
        if (!ReadString(line, at, key))
            return std::nullopt;
        SkipBlanks(line, at);
        if (at >= line.size() || line[at++] != ':')
            return std::nullopt;
        SkipBlanks(line, at);
        if (at < line.size() && line[at] == '"') {
            if (!ReadString(line, at, value))
                return std::nullopt;
        } else {
            const size_t end = line.find_first_of(",} \t", at);
            if (end == std::string::npos || end == at)
                return std::nullopt;
            value = line.substr(at, end - at);
            at = end;
        }
        members[key] = value;
        SkipBlanks(line, at);
        if (at >= line.size())
            return std::nullopt;
        if (line[at] == '}')
            break;
        if (line[at++] != ',')
            return std::nullopt;
    }
    SkipBlanks(line, ++at);
    if (at != line.size())
        return std::nullopt;
    return members;
}

std::optional<DemoReport> ReportFromJson(const std::map<std::string, std::string>& m) {
    for (const char* key :
         {"demo", "video", "frames", "video_seconds", "seconds_taken", "sound", "result"})
        if (m.find(key) == m.end())
            return std::nullopt;
    DemoReport r;
    auto number = [&m](const char* key, auto& value) {
        const std::string& text = m.at(key);
        std::from_chars(text.data(), text.data() + text.size(), value);
    };
    r.Demo.Item = m.at("demo");
    r.Video = m.at("video") == "null" ? std::string() : m.at("video");
    number("frames", r.Frames);
    number("video_seconds", r.VideoSeconds);
    number("seconds_taken", r.SecondsTaken);
    r.Sound = m.at("sound") == "true";
    r.Recorded = m.at("result") == "recorded";
    const auto reason = m.find("reason");
    if (reason != m.end() && reason->second != "null")
        r.Reason = reason->second;
    return r;
}

} // namespace vexo::record
