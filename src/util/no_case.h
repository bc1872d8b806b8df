// Texts compared without regard to letter case, as every sorted list, directory search and
// settings key of the program compares them. Only the letters A to Z fold, whatever locale
// the program runs under, so an order never changes with the desktop's language.
#pragma once

#include <string>

namespace vexo {

char LowerAscii(char c);

// Negative, zero or positive as a sorts before, equal to or after b.
int CompareNoCase(const std::string& a, const std::string& b);
bool LessNoCase(const std::string& a, const std::string& b);
bool EqualNoCase(const std::string& a, const std::string& b);

} // namespace vexo
