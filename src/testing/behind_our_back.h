#pragma once

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <span>
#include <thread>
#include <vector>

#include "testing/temp_folder.h"

namespace ordavo::testing {

// A table is trusted only once it has settled: its time is put a minute back and the racy
// margin let pass, as for a user's table written long ago.
inline void settle(const std::filesystem::path& path) {
    std::filesystem::last_write_time(
        path, std::filesystem::file_time_type::clock::now() - std::chrono::minutes(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
}

// Writes `bytes` at `offset` as another program would, keeping the file's size and putting its
// modification time back: only the status change time tells.
inline void writeBehindOurBack(const std::filesystem::path& path, std::size_t offset,
                               std::span<const unsigned char> bytes) {
    const auto time = std::filesystem::last_write_time(path);
    std::vector<unsigned char> all = readBytes(path);
    std::copy(bytes.begin(), bytes.end(), all.begin() + static_cast<std::ptrdiff_t>(offset));
    writeBytes(path, all);
    std::filesystem::last_write_time(path, time);
}

}  // namespace ordavo::testing
