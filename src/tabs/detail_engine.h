#pragma once

#include <cstring>
#include <type_traits>
#include <vector>

#include "tabs/detail_rows.h"
#include "tabs/detail_table.h"

namespace ordavo {

// The layout of each row type.
template <class Row>
struct RowLayout;
template <>
struct RowLayout<Ocena> {
    static constexpr const DetailLayout& value = kOcenaLayout;
};
template <>
struct RowLayout<Obsada> {
    static constexpr const DetailLayout& value = kObsadaLayout;
};
template <>
struct RowLayout<Producent> {
    static constexpr const DetailLayout& value = kProducentLayout;
};
template <>
struct RowLayout<Dystrybutor> {
    static constexpr const DetailLayout& value = kDystrybutorLayout;
};
template <>
struct RowLayout<Lok_zdjeciowe> {
    static constexpr const DetailLayout& value = kLokLayout;
};
template <>
struct RowLayout<Wypozycz_Innym> {
    static constexpr const DetailLayout& value = kWypozyczInnymLayout;
};
template <>
struct RowLayout<Wypozycz_Od_Innych> {
    static constexpr const DetailLayout& value = kWypozyczOdInnychLayout;
};

// One detail table whose rows are plain records of `Row` in a growable array.
template <class Row>
class DetailEngine final : public DetailTable {
    static_assert(std::is_trivially_copyable_v<Row> && std::is_standard_layout_v<Row>);

public:
    explicit DetailEngine(Database& database) : DetailTable(RowLayout<Row>::value, database) {
        static_assert(sizeof(Row) > 0);
    }

    // The current film's rows in file order; a new row is appended at the end.
    std::vector<Row> rows;
    // The record behind the row editor.
    Row edit_row{};

    std::size_t rowCount() const override { return rows.size(); }

protected:
    const unsigned char* rowData(std::size_t row) const override {
        return reinterpret_cast<const unsigned char*>(&rows.at(row));
    }
    unsigned char* rowData(std::size_t row) override {
        return reinterpret_cast<unsigned char*>(&rows.at(row));
    }
    unsigned char* editRowData() override { return reinterpret_cast<unsigned char*>(&edit_row); }
    void assignRows(std::span<const unsigned char> bytes) override {
        std::vector<Row> loaded(bytes.size() / sizeof(Row));
        if (!loaded.empty()) {
            std::memcpy(loaded.data(), bytes.data(), loaded.size() * sizeof(Row));
        }
        rows = std::move(loaded);
    }
    void appendEditRow() override { rows.push_back(edit_row); }
};

}  // namespace ordavo
