#pragma once

#include <filesystem>
#include <optional>

namespace ordavo {

// The most UTF-16 units a stored cover path may have.
inline constexpr std::size_t kCoverPathCapacity = 241;

// Copies a chosen image into the covers folder under its own name and returns the path to store.
// An existing file of that name with the same content is reused; one with other content is kept,
// and the copy gets the first free name "name (2).ext", "name (3).ext", ... The copy is complete
// or absent. Returns nullopt when the resulting path would not fit a cover path field. Throws
// FileError when the copy fails.
std::optional<std::filesystem::path> importCover(const std::filesystem::path& covers_folder,
                                                 const std::filesystem::path& chosen);

// Whether two files hold the same bytes.
bool sameContent(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace ordavo
