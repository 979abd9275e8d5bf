#include "search/film_search.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>

#include "storage/file_stamp.h"
#include "storage/posix_file.h"
#include "storage/row_chunks.h"
#include "storage/text_field.h"

namespace ordavo {

namespace {

// The search list resolved to indices of the film field table once, at compile time.
constexpr std::array<std::size_t, kSearchFieldCount> resolveSearchFields() {
    std::array<std::size_t, kSearchFieldCount> indices{};
    for (std::size_t i = 0; i < kSearchFieldCount; ++i) {
        indices[i] = filmFieldIndex(kSearchFieldOrder[i]);
    }
    return indices;
}

constexpr std::array<std::size_t, kSearchFieldCount> kSearchFieldIndices = resolveSearchFields();

// Every searchable field of the record appears in the list exactly once, and nothing else does.
constexpr bool searchListIsComplete() {
    std::array<int, kFilmTextFieldCount> seen{};
    for (std::size_t index : kSearchFieldIndices) {
        if (index >= kFilmTextFieldCount || !kFilmFields[index].searchable()) {
            return false;
        }
        ++seen[index];
    }
    for (std::size_t i = 0; i < kFilmTextFieldCount; ++i) {
        if (seen[i] != (kFilmFields[i].searchable() ? 1 : 0)) {
            return false;
        }
    }
    return true;
}

static_assert(searchListIsComplete(),
              "the search list names each searchable film field exactly once");

using FieldTexts = FilmSearch::FieldTexts;

// The most a kept field may hold, in UTF-16 units (32 MiB): a larger one is read for its search
// and dropped, so that what stays between searches is bounded whatever the table's size.
constexpr std::size_t kKeptUnits = std::size_t{16} << 20;

// The text of `field` in row `row` of a table `length` bytes long; false if it shrank.
bool readField(const PosixFile& table, std::uint64_t length, std::size_t row,
               const FilmFieldInfo& field, std::u16string& text) {
    std::vector<char16_t> units(field.capacity, u'\0');
    const std::uint64_t start = row * kFilmRowSize + field.offset;
    if (start < length) {
        const std::size_t wanted = static_cast<std::size_t>(
            std::min<std::uint64_t>(field.capacity * sizeof(char16_t), length - start));
        if (table.readAt(units.data(), wanted, start) != wanted) {
            return false;
        }
    }
    text = readText(units.data(), field.capacity);
    return true;
}

// False when `cancelled` was set before the scan ended (`texts` then means nothing).
bool scan(const PosixFile& table, const FilmFieldInfo& field, FieldTexts& texts,
          const std::atomic<bool>* cancelled) {
    RowChunks chunks(table, kFilmRowSize);
    texts.ends.reserve(static_cast<std::size_t>(chunks.totalRows()));
    bool whole = true;
    forEachRow(chunks, [&](const unsigned char* row, std::uint64_t) {
        if (cancelled && cancelled->load(std::memory_order_relaxed)) {
            whole = false;
            return false;
        }
        texts.units += rowText(row, field.offset, field.capacity);
        texts.ends.push_back(texts.units.size());
        return true;
    });
    texts.units.shrink_to_fit();
    return whole;
}

// Texts read and let go (tens of megabytes on a large table, freed on the thread that read them)
// go back to the system instead of staying with the allocator.
void returnFreedMemory() {
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}

}  // namespace

const FilmFieldInfo& searchField(std::size_t field_number) {
    if (field_number >= kSearchFieldCount) {
        throw std::out_of_range("search field number " + std::to_string(field_number));
    }
    return kFilmFields[kSearchFieldIndices[field_number]];
}

FilmSearch::FilmSearch(TableKeeper& films) : m_keeper(films) {
    m_keeper.attach(*this);
}

FilmSearch::~FilmSearch() {
    m_keeper.detach(*this);
}

void FilmSearch::drop() {
    const std::lock_guard lock(m_keeper.mutex());
    m_field = nullptr;
    m_texts = {};
}

std::size_t FilmSearch::keptUnits() const {
    const std::lock_guard lock(m_keeper.mutex());
    return m_field ? m_texts.units.size() : 0;
}

void FilmSearch::rowsWritten(const PosixFile& table, std::span<const std::uint64_t> rows) {
    if (!m_field) {
        return;
    }
    const auto length = static_cast<std::uint64_t>(table.size());
    const auto total = static_cast<std::size_t>(rowCount(length, kFilmRowSize));
    const std::size_t kept_rows = m_texts.ends.size();
    std::map<std::size_t, std::u16string> changed;
    for (const std::uint64_t row : rows) {
        if (row >= total || !readField(table, length, row, *m_field, changed[row])) {
            drop();
            return;
        }
    }
    // Rows the table grew by were all written now; anything else is not this program's doing.
    bool grown_by_writes = total >= kept_rows;
    for (std::size_t row = kept_rows; grown_by_writes && row < total; ++row) {
        grown_by_writes = changed.contains(row);
    }
    if (!grown_by_writes) {
        drop();
        return;
    }
    FieldTexts updated;
    updated.units.reserve(m_texts.units.size());
    updated.ends.reserve(total);
    for (std::size_t row = 0; row < total; ++row) {
        const auto it = changed.find(row);
        updated.units += it != changed.end() ? std::u16string_view(it->second) : m_texts.text(row);
        updated.ends.push_back(updated.units.size());
    }
    if (updated.units.size() > kKeptUnits) {
        drop();
        return;
    }
    m_texts = std::move(updated);
}

const FieldTexts* FilmSearch::textsOf(const PosixFile& table, const FilmFieldInfo& field,
                                      FieldTexts& scratch, const std::atomic<bool>* cancelled,
                                      std::unique_lock<std::recursive_mutex>& keeper_lock) {
    keeper_lock = std::unique_lock(m_keeper.mutex());
    if (m_keeper.validate(table) && m_field == &field) {
        return &m_texts;
    }
    // The field kept so far goes before another is read: two large fields are never held. The
    // table is read without the keeper's lock, so that the program's writes do not wait for it;
    // a write during the read shows in the stamps.
    m_field = nullptr;
    m_texts = {};
    keeper_lock.unlock();
    const TableKeeper::ReadStart start = m_keeper.startRead(table);
    if (!scan(table, field, scratch, cancelled)) {
        return nullptr;
    }
    keeper_lock.lock();
    if (scratch.units.size() > kKeptUnits || !m_keeper.recordRead(start, stampOf(table), this)) {
        // Too large to keep, or written while being read: it stands for this search only.
        return &scratch;
    }
    m_field = &field;
    m_texts = std::move(scratch);
    return &m_texts;
}

std::vector<std::int64_t> FilmSearch::search(std::optional<std::size_t> field_number,
                                             std::u16string_view phrase) {
    std::vector<std::int64_t> offsets;
    if (!field_number) {
        return offsets;
    }
    const FilmFieldInfo& field = searchField(*field_number);
    phrase = phrase.substr(0, kMaxSearchPhraseLength);

    const std::lock_guard serial(m_serial);
    const PosixFile table(m_keeper.path(), PosixFile::Mode::Read);
    if (phrase.empty()) {
        // Occurs in every text: every row matches and no row needs reading.
        const std::uint64_t rows = rowCount(table.size(), kFilmRowSize);
        offsets.reserve(static_cast<std::size_t>(rows));
        for (std::uint64_t row = 0; row < rows; ++row) {
            offsets.push_back(static_cast<std::int64_t>(row * kFilmRowSize));
        }
        return offsets;
    }
    bool read_for_this_search_only = false;
    {
        FieldTexts scratch;
        std::unique_lock<std::recursive_mutex> keeper_lock;
        const FieldTexts& texts = *textsOf(table, field, scratch, nullptr, keeper_lock);
        read_for_this_search_only = &texts == &scratch;
        // The texts are walked in order, each starting where the one before ended.
        const std::u16string_view all(texts.units);
        std::size_t begin = 0;
        for (std::size_t row = 0; row < texts.ends.size(); ++row) {
            const std::size_t end = texts.ends[row];
            if (all.substr(begin, end - begin).find(phrase) != std::u16string_view::npos) {
                offsets.push_back(static_cast<std::int64_t>(row * kFilmRowSize));
            }
            begin = end;
        }
    }
    if (read_for_this_search_only) {
        returnFreedMemory();
    }
    return offsets;
}

void FilmSearch::prepare(std::size_t field_number, const std::atomic<bool>* cancelled) {
    const FilmFieldInfo& field = searchField(field_number);
    const std::lock_guard serial(m_serial);
    const PosixFile table(m_keeper.path(), PosixFile::Mode::Read);
    if (cancelled && cancelled->load()) {
        return;
    }
    {
        FieldTexts scratch;
        std::unique_lock<std::recursive_mutex> keeper_lock;
        textsOf(table, field, scratch, cancelled, keeper_lock);
    }
    returnFreedMemory();
}

}  // namespace ordavo
