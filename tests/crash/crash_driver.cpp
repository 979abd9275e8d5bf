#include "crash_driver.h"

#include <cstring>
#include <fstream>

#include "storage/cover_files.h"
#include "storage/database.h"
#include "storage/film_table.h"
#include "storage/filter_state.h"
#include "storage/text_field.h"
#include "storage/unicode_text.h"
#include "tabs/detail_tables.h"

namespace ordavo::crash {

namespace fs = std::filesystem;

namespace {

template <class Row>
Bytes bytesOf(const Row& row) {
    const auto* data = reinterpret_cast<const unsigned char*>(&row);
    return Bytes(data, data + sizeof row);
}

template <class Row>
Rows rowsOf(const DetailEngine<Row>& engine) {
    Rows rows;
    for (const Row& row : engine.rows) {
        rows.push_back(bytesOf(row));
    }
    return rows;
}

Rows listRows(DetailTables& tables, DetailList list) {
    switch (list) {
        case DetailList::Reviews:
            return rowsOf(tables.reviews());
        case DetailList::Cast:
            return rowsOf(tables.cast());
        case DetailList::Distributors:
            return rowsOf(tables.distributors());
        case DetailList::Producers:
            return rowsOf(tables.producers());
        case DetailList::Locations:
            return rowsOf(tables.locations());
        case DetailList::LoansTo:
            return rowsOf(tables.loansTo());
        case DetailList::LoansFrom:
            return rowsOf(tables.loansFrom());
    }
    return {};
}

fs::path coverSource(const fs::path& work, const Operation& op) {
    return work / "sources" / std::to_string(op.cover_variant) / op.cover_name;
}

void require(bool condition, const Operation& op, std::string_view what) {
    if (!condition) {
        throw DriverError(op.describe() + ": " + std::string(what));
    }
}

}  // namespace

// What the window holds against the model's session.
std::vector<std::string> compareSession(FilmTable& film, DetailTables& tables,
                                        const Session& session) {
    std::vector<std::string> faults;
    if (std::memcmp(&film.current(), &session.buffer, sizeof session.buffer) != 0) {
        faults.push_back("the current-film buffer differs from the model (id " +
                         std::to_string(film.current().id) + ", model " +
                         std::to_string(session.buffer.id) + ")");
    }
    if (film.current_offset != session.current_offset) {
        faults.push_back("current_offset " + std::to_string(film.current_offset) + ", model " +
                         std::to_string(session.current_offset));
    }
    for (std::size_t l = 0; l < kDetailListCount; ++l) {
        const auto list = static_cast<DetailList>(l);
        const std::string name = tableName(tableOf(list));
        if (listRows(tables, list) != session.list(list).rows) {
            faults.push_back(name + ": the list's rows differ from the model");
        }
        if (tables.table(list).new_row_pending != session.list(list).new_row_pending) {
            faults.push_back(name + ": the pending flag differs from the model");
        }
    }
    return faults;
}

// Carries out one command through the core, as the window's handlers do.
void execute(const Operation& op, const fs::path& work, Database& database, FilmTable& film,
             DetailTables& tables) {
    DetailTable& table = tables.table(op.list);
    switch (op.kind) {
        case OpKind::Navigate:
            film.current_offset = static_cast<std::int64_t>(op.film * kFilmRowSize);
            require(film.readRow(false), op, "readRow refused");
            break;
        case OpKind::EditFilm:
            for (const FieldText& text : op.texts) {
                setFieldText(film.current(), kFilmFields[text.field], text.text);
            }
            break;
        case OpKind::ConfirmRow: {
            std::optional<std::vector<std::u16string>> texts = table.editRow(op.row);
            require(texts.has_value(), op, "editRow found no item");
            for (const FieldText& typed : op.texts) {
                (*texts)[typed.field] = typed.text;
            }
            require(table.confirmRow(*texts, op.row), op, "confirmRow stored nothing");
            break;
        }
        case OpKind::NewRow:
            table.newRow(film.current().id);
            break;
        case OpKind::SaveTable:
            table.saveRows();
            break;
        case OpKind::SaveFilm:
            require(film.updateRow(), op, "updateRow refused");
            film.readRow(false);
            break;
        case OpKind::DeleteRow:
            table.deleteRow(op.row, film.current().id);
            break;
        case OpKind::DeleteFilm:
            require(film.deleteRow(FilterState{}), op, "deleteRow refused");
            film.readRow(true);
            break;
        case OpKind::AppendFilm: {
            emptyFilmRecord(film.current());
            const bool empty = film.tableLength() == 0;
            require(film.appendRow(empty), op, "appendRow refused");
            film.readRow(false);
            break;
        }
        case OpKind::AttachCover: {
            const std::optional<fs::path> stored =
                importCover(database.paths().covers_folder, coverSource(work, op));
            require(stored.has_value(), op, "the cover path is too long");
            const std::u16string path = fromUtf8(stored->string()).value();
            storeText(op.front ? film.current().front_cover_path : film.current().back_cover_path,
                      path);
            require(film.updateRow(), op, "updateRow refused");
            film.readRow(false);
            break;
        }
        case OpKind::Export:
            runExport(database.paths(), exportPath(work, op.index), op, film.current().id);
            break;
    }
}

// Writes the image a cover command chooses, before the command starts.
void prepareCover(const Operation& op, const fs::path& work) {
    const fs::path source = coverSource(work, op);
    fs::create_directories(source.parent_path());
    const Bytes content = coverContent(op.cover_name, op.cover_variant);
    std::ofstream out(source, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
    if (!out) {
        throw DriverError("cannot write " + source.string());
    }
}

}  // namespace ordavo::crash
