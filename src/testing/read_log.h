#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "storage/posix_file.h"

namespace ordavo::testing {

// Every byte range the program reads from a file while it is installed.
class ReadLog : public FileEvents {
public:
    ReadLog() { setFileEvents(this); }
    ~ReadLog() override { setFileEvents(nullptr); }
    ReadLog(const ReadLog&) = delete;
    ReadLog& operator=(const ReadLog&) = delete;

    // Whether any read of `file` touched bytes [begin, end).
    bool touched(const std::filesystem::path& file, std::uint64_t begin, std::uint64_t end) const {
        return std::any_of(m_reads.begin(), m_reads.end(), [&](const Read& read) {
            return read.file == file && read.offset < end && read.offset + read.size > begin;
        });
    }
    // How many bytes of `file` were read.
    std::uint64_t bytesRead(const std::filesystem::path& file) const {
        std::uint64_t bytes = 0;
        for (const Read& read : m_reads) {
            bytes += read.file == file ? read.size : 0;
        }
        return bytes;
    }

    void read(const std::filesystem::path& file, std::uint64_t offset, std::size_t size) override {
        m_reads.push_back({file, offset, size});
    }
    void created(const std::filesystem::path&) override {}
    void wrote(const std::filesystem::path&, std::uint64_t, const void*, std::size_t) override {}
    void truncated(const std::filesystem::path&, std::uint64_t) override {}
    void synced(const std::filesystem::path&) override {}
    void renamed(const std::filesystem::path&, const std::filesystem::path&) override {}
    void removed(const std::filesystem::path&) override {}
    void madeFolder(const std::filesystem::path&) override {}
    void removedFolder(const std::filesystem::path&) override {}
    void syncedFolder(const std::filesystem::path&) override {}

private:
    struct Read {
        std::filesystem::path file;
        std::uint64_t offset;
        std::size_t size;
    };
    std::vector<Read> m_reads;
};

}  // namespace ordavo::testing
