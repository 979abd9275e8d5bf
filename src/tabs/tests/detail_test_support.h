#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <vector>

#include "storage/text_field.h"
#include "tabs/detail_file.h"
#include "tabs/detail_rows.h"
#include "testing/temp_folder.h"

namespace ordavo::testing {

using Bytes = std::vector<unsigned char>;

// A zero-filled row of `layout` with its ids and `text` in every text field.
inline Bytes makeRowBytes(const DetailLayout& layout, std::int32_t id, std::int32_t film,
                          std::u16string_view text = u"") {
    Bytes row(layout.row_size, 0);
    std::memcpy(row.data(), &id, 4);
    std::memcpy(row.data() + 4, &film, 4);
    for (const DetailField& field : layout.fields) {
        storeText(reinterpret_cast<char16_t*>(row.data() + field.offset), field.width, text);
    }
    return row;
}

// A zero-filled typed row with its ids.
template <class Row>
Row makeRow(std::int32_t id, std::int32_t film) {
    Row row{};
    row.ID = id;
    row.IDPDB = film;
    return row;
}

template <class Row>
Bytes bytesOf(const Row& row) {
    Bytes bytes(sizeof row);
    std::memcpy(bytes.data(), &row, sizeof row);
    return bytes;
}

// Appends raw rows to a table file.
inline void appendRowBytes(const std::filesystem::path& table, const std::vector<Bytes>& rows) {
    Bytes bytes = readBytes(table);
    for (const Bytes& row : rows) {
        bytes.insert(bytes.end(), row.begin(), row.end());
    }
    writeBytes(table, bytes);
}

template <class Row>
void appendRows(const std::filesystem::path& table, const std::vector<Row>& rows) {
    std::vector<Bytes> raw;
    for (const Row& row : rows) {
        raw.push_back(bytesOf(row));
    }
    appendRowBytes(table, raw);
}

// The `ID`s of a table file's rows, a trailing partial row read as padded with zeros.
inline std::vector<std::int32_t> fileIds(const std::filesystem::path& table, std::size_t row_size) {
    const Bytes bytes = readBytes(table);
    std::vector<std::int32_t> ids;
    for (std::size_t offset = 0; offset < bytes.size(); offset += row_size) {
        unsigned char id[4] = {};
        std::memcpy(id, bytes.data() + offset, std::min<std::size_t>(4, bytes.size() - offset));
        ids.push_back(detail_file::rowId(id));
    }
    return ids;
}

}  // namespace ordavo::testing
