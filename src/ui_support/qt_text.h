#pragma once

#include <QString>
#include <filesystem>
#include <string>
#include <string_view>

namespace ordavo {

// The one place where text crosses between the core (UTF-16 fields, UTF-8 messages, paths) and Qt.
inline QString toQString(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}
inline QString utf8ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::u16string toU16(const QString& text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                          static_cast<std::size_t>(text.size()));
}
inline QString pathToQString(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}
inline std::filesystem::path qStringToPath(const QString& text) {
    return std::filesystem::path(text.toStdString());
}

}  // namespace ordavo
