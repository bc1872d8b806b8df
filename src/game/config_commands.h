#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vexo {

// Splits a game config's text into commands as the game does and calls each(words) for every
// command, in order, until it returns true. Commands end at line ends and at ";" outside
// quotes; words are apart by blanks; quotes group blanks and are removed; "//" starts a
// comment to the line's end. Returns whether each stopped the walk.
template <typename Each> bool ForEachCommand(std::string_view text, Each each) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    auto endWord = [&] {
        if (inWord)
            words.push_back(word);
        word.clear();
        inWord = false;
    };
    auto endCommand = [&] {
        endWord();
        quoted = false;
        const bool stop =
            !words.empty() && each(static_cast<const std::vector<std::string>&>(words));
        words.clear();
        return stop;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n' || c == '\r' || (c == ';' && !quoted)) {
            if (endCommand())
                return true;
        } else if (quoted) {
            if (c == '"')
                quoted = false;
            else
                word += c;
        } else if (c == '"') {
            quoted = inWord = true;
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
            while (i + 1 < text.size() && text[i + 1] != '\n' && text[i + 1] != '\r')
                ++i;
        } else if (c == ' ' || c == '\t') {
            endWord();
        } else {
            word += c;
            inWord = true;
        }
    }
    return endCommand();
}

} // namespace vexo
