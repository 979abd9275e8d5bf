#include "storage/row_redo.h"

#include <fcntl.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <limits>
#include <optional>
#include <vector>

#include "storage/posix_file.h"

namespace ordavo {

// The record's integers are stored as the machine holds them, like the tables' own.
static_assert(std::endian::native == std::endian::little);

namespace {

// The layout of a record:
//   magic "ORDREDO" NUL (8 bytes), version (u32), number of writes (u32), record length (u64);
//   per write: offset (u64), size (u64), the bytes;
//   checksum (u64) over everything before it.
constexpr unsigned char kMagic[8] = {'O', 'R', 'D', 'R', 'E', 'D', 'O', '\0'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeadSize = 8 + 4 + 4 + 8;
constexpr std::size_t kWriteHeadSize = 8 + 8;
constexpr std::size_t kChecksumSize = 8;

// A 64-bit FNV-1a hash taken eight bytes at a time, with a fold after each step so that the
// high bits of every word reach the low bits of the result: a record is about a row in size, and
// a byte-at-a-time hash would cost a film save several times what its writes do.
}  // namespace

std::uint64_t redoChecksum(const unsigned char* data, std::size_t size) {
    constexpr std::uint64_t kPrime = 0x100000001B3ull;
    std::uint64_t hash = 0xCBF29CE484222325ull;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, data + i, sizeof word);
        hash = (hash ^ word) * kPrime;
        hash ^= hash >> 29;
    }
    for (; i < size; ++i) {
        hash = (hash ^ data[i]) * kPrime;
    }
    return hash;
}

namespace {

template <class T>
void put(std::vector<unsigned char>& out, T value) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof value);
}

template <class T>
T get(const unsigned char* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// The writes a record holds, pointing into `record`; nothing when it is torn or not a record.
std::optional<std::vector<RowWrite>> parseRecord(const std::vector<unsigned char>& record) {
    const std::size_t size = record.size();
    if (size < kHeadSize + kChecksumSize || std::memcmp(record.data(), kMagic, 8) != 0 ||
        get<std::uint32_t>(record.data() + 8) != kVersion ||
        get<std::uint64_t>(record.data() + 16) != size) {
        return std::nullopt;
    }
    const std::size_t body = size - kChecksumSize;
    if (get<std::uint64_t>(record.data() + body) != redoChecksum(record.data(), body)) {
        return std::nullopt;
    }
    const std::uint32_t count = get<std::uint32_t>(record.data() + 12);
    std::vector<RowWrite> writes;
    std::size_t at = kHeadSize;
    for (std::uint32_t k = 0; k < count; ++k) {
        if (body - at < kWriteHeadSize) {
            return std::nullopt;
        }
        const auto offset = get<std::uint64_t>(record.data() + at);
        const auto length = get<std::uint64_t>(record.data() + at + 8);
        at += kWriteHeadSize;
        constexpr auto kMaxOffset =
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
        if (length > body - at || offset > kMaxOffset - length) {
            return std::nullopt;
        }
        writes.push_back({offset, record.data() + at, static_cast<std::size_t>(length)});
        at += static_cast<std::size_t>(length);
    }
    if (at != body) {
        return std::nullopt;
    }
    return writes;
}

}  // namespace

void writeRowRedo(const std::filesystem::path& table, std::span<const RowWrite> writes) {
    std::size_t length = kHeadSize + kChecksumSize;
    for (const RowWrite& write : writes) {
        length += kWriteHeadSize + write.size;
    }
    std::vector<unsigned char> record;
    record.reserve(length);
    record.insert(record.end(), std::begin(kMagic), std::end(kMagic));
    put(record, kVersion);
    put(record, static_cast<std::uint32_t>(writes.size()));
    put(record, static_cast<std::uint64_t>(length));
    for (const RowWrite& write : writes) {
        put(record, write.offset);
        put(record, static_cast<std::uint64_t>(write.size));
        const auto* bytes = static_cast<const unsigned char*>(write.data);
        record.insert(record.end(), bytes, bytes + write.size);
    }
    put(record, redoChecksum(record.data(), record.size()));
    PosixFile file(redoPathOf(table), PosixFile::Mode::CreateTruncate);
    file.writeAt(record.data(), record.size(), 0);
}

bool hasRowRedo(const std::filesystem::path& table) {
    return pathExists(redoPathOf(table));
}

bool replayRowRedo(const std::filesystem::path& table) {
    const std::filesystem::path redo = redoPathOf(table);
    if (!pathExists(redo)) {
        return false;
    }
    std::vector<unsigned char> record;
    {
        const PosixFile file(redo, PosixFile::Mode::Read);
        record.resize(file.size());
        record.resize(file.readAt(record.data(), record.size(), 0));
    }
    const std::optional<std::vector<RowWrite>> writes = parseRecord(record);
    if (writes) {
        PosixFile target(table, PosixFile::Mode::ReadWrite);
        for (const RowWrite& write : *writes) {
            target.writeAt(write.data, write.size, write.offset);
        }
    }
    removeFile(redo);
    return writes.has_value();
}

}  // namespace ordavo
