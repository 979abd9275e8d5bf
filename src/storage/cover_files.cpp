#include "storage/cover_files.h"

#include <string>
#include <vector>

#include "storage/posix_file.h"

namespace ordavo {

namespace {

// UTF-16 length of a path's UTF-8 text.
std::size_t utf16Length(const std::string& text) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = byte < 0x80 ? 1 : byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        units += length == 4 ? 2 : 1;
        i += length;
    }
    return units;
}

}  // namespace

bool sameContent(const std::filesystem::path& a, const std::filesystem::path& b) {
    PosixFile first(a, PosixFile::Mode::Read);
    PosixFile second(b, PosixFile::Mode::Read);
    const std::uint64_t size = first.size();
    if (size != second.size()) {
        return false;
    }
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    std::vector<unsigned char> left(kChunk);
    std::vector<unsigned char> right(kChunk);
    for (std::uint64_t offset = 0; offset < size; offset += kChunk) {
        const std::size_t n = first.readAt(left.data(), kChunk, offset);
        if (second.readAt(right.data(), kChunk, offset) != n ||
            !std::equal(left.begin(), left.begin() + static_cast<std::ptrdiff_t>(n),
                        right.begin())) {
            return false;
        }
    }
    return true;
}

std::optional<std::filesystem::path> importCover(const std::filesystem::path& covers_folder,
                                                 const std::filesystem::path& chosen) {
    // Opened first: only a regular file is taken, and a FIFO never blocks the program.
    const PosixFile source(chosen, PosixFile::Mode::Read);
    // A database imported from bare files, or made by another program, may have no covers yet.
    createFolder(covers_folder);
    const std::filesystem::path name = chosen.filename();
    std::filesystem::path target = covers_folder / name;
    for (int n = 2; pathExists(target); ++n) {
        if (sameContent(chosen, target)) {
            break;  // the same image is already there: share it
        }
        target = covers_folder / (name.stem().string() + " (" + std::to_string(n) + ")" +
                                  name.extension().string());
    }
    if (utf16Length(target.string()) > kCoverPathCapacity - 1) {
        return std::nullopt;
    }
    if (!pathExists(target)) {
        copyFileAtomically(chosen, target);
    }
    return target;
}

}  // namespace ordavo
