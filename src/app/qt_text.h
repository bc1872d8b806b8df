// Texts between the program's std::string and Qt's QString (UTF-8 both ways).
#pragma once

#include <QString>
#include <string>

namespace vexo {

inline QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
inline std::string S(const QString& s) {
    return s.toStdString();
}

} // namespace vexo
