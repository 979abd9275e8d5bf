#include "fuzz_support.h"

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace ordavo::fuzz {

namespace fs = std::filesystem;

namespace {

fs::path makeRoot() {
    const fs::path base =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "ordavo-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    return pattern;
}

fs::path g_root;

void removeRoot() {
    std::error_code ignored;
    fs::remove_all(g_root, ignored);
}

}  // namespace

ScratchDatabase& ScratchDatabase::instance() {
    static ScratchDatabase database;
    return database;
}

ScratchDatabase::ScratchDatabase() : m_root(makeRoot()) {
    g_root = m_root;
    std::atexit(removeRoot);
    fs::create_directories(m_root / "db" / "covers");
    m_paths = buildPaths(m_root / "db");
}

void ScratchDatabase::write(DataFile file, const Bytes& bytes, bool present) {
    const fs::path& path = m_paths.file(file);
    std::error_code ignored;
    fs::remove_all(path, ignored);
    fs::path temp = path;
    temp += "0";
    fs::remove_all(temp, ignored);
    if (!present) {
        return;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void ScratchDatabase::writeAll(const Bytes& header, const std::vector<Bytes>& tables) {
    write(DataFile::Header, header);
    for (std::size_t i = 1; i < kAllDataFiles.size(); ++i) {
        write(kAllDataFiles[i], i - 1 < tables.size() ? tables[i - 1] : Bytes{});
    }
}

fs::path ScratchDatabase::outside(std::string_view name) const {
    return m_root / name;
}

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property violated: %s\n", what);
        std::abort();
    }
}

std::u16string utf16Of(const Bytes& bytes) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return text;
}

}  // namespace ordavo::fuzz
