#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "export/csv_export.h"
#include "import/csv_import.h"
#include "storage/database.h"
#include "storage/text_field.h"
#include "tabs/detail_rows.h"
#include "testing/temp_folder.h"

// What the import tests share: databases to fill, export and import into, and their bytes.
namespace ordavo::import_testing {

using testing::makeFilm;
using Snapshot = std::map<std::string, std::vector<unsigned char>>;

// Every file of a database folder, by name.
inline Snapshot snapshot(const DatabasePaths& paths) {
    Snapshot files;
    for (const auto& entry : std::filesystem::directory_iterator(paths.database_folder)) {
        if (entry.is_regular_file()) {
            files[entry.path().filename().string()] = testing::readBytes(entry.path());
        }
    }
    return files;
}

// A detail row of `list` with its ID, its film and the first texts of its fields.
inline std::vector<unsigned char> detailRow(DetailList list, std::int32_t id, std::int32_t film,
                                            const std::vector<std::u16string>& texts = {}) {
    const DetailLayout& layout = detailLayout(list);
    std::vector<unsigned char> row(layout.row_size, 0);
    std::memcpy(row.data() + kRowIdOffset, &id, sizeof id);
    std::memcpy(row.data() + kRowFilmIdOffset, &film, sizeof film);
    for (std::size_t i = 0; i < texts.size() && i < layout.fields.size(); ++i) {
        const DetailField& field = layout.fields[i];
        storeText(reinterpret_cast<char16_t*>(row.data() + field.offset), field.width, texts[i]);
    }
    return row;
}

class ImportTest : public ::testing::Test {
protected:
    // A new, empty database in a folder of that name.
    DatabasePaths makeDatabase(const std::string& name) {
        std::filesystem::create_directory(m_temp / name);
        DatabasePaths paths = buildPaths(m_temp / name);
        Database database(paths, m_sink);
        database.createMissing(false);
        return paths;
    }

    void addFilm(const DatabasePaths& paths, const FilmRecord& film) {
        testing::appendFilms(paths.file(DataFile::Films), {film});
    }
    void addRow(const DatabasePaths& paths, DetailList list,
                const std::vector<unsigned char>& row) {
        const std::filesystem::path& table = paths.file(detailLayout(list).file);
        std::vector<unsigned char> bytes = testing::readBytes(table);
        bytes.insert(bytes.end(), row.begin(), row.end());
        testing::writeBytes(table, bytes);
    }

    // The whole-database export, in `charset`.
    std::string exportOf(const DatabasePaths& paths, const std::string& charset = "UTF-8") {
        const std::filesystem::path file =
            m_temp / ("export-" + std::to_string(++m_exports) + ".csv");
        ExportCsv(paths, file, ExportScope::WholeDatabase, 0, ExportSections{}, charset);
        const std::vector<unsigned char> bytes = testing::readBytes(file);
        return std::string(bytes.begin(), bytes.end());
    }

    std::filesystem::path writeFile(const std::string& bytes) {
        const std::filesystem::path file =
            m_temp / ("input-" + std::to_string(++m_inputs) + ".csv");
        testing::writeText(file, bytes);
        return file;
    }

    // Analyses and runs an import of `file` into `paths`, as the window and the tool do.
    ImportSummary import(const DatabasePaths& paths, const std::filesystem::path& file,
                         const ImportOptions& options = {}) {
        const ImportSummary analysed = analyseImport(paths, file, options);
        Database database(paths, m_sink);
        bool completed = false;
        ImportSummary done = runImport(
            database, file, options, analysed, [](std::uint64_t, std::uint64_t) { return true; },
            completed);
        EXPECT_TRUE(completed);
        return done;
    }

    // Runs an import of `file` as `analysed` said; whether it completed. Exceptions go through.
    bool runAgreed(
        const DatabasePaths& paths, const std::filesystem::path& file,
        const ImportSummary& analysed,
        const ImportProgress& progress = [](std::uint64_t, std::uint64_t) { return true; }) {
        Database database(paths, m_sink);
        bool completed = false;
        runImport(database, file, {}, analysed, progress, completed);
        return completed;
    }

    // The message of the ImportError an import of `bytes` throws ("" when it throws none).
    std::string refusal(const DatabasePaths& paths, const std::string& bytes,
                        const ImportOptions& options = {}) {
        try {
            import(paths, writeFile(bytes), options);
        } catch (const ImportError& error) {
            return error.what();
        }
        return {};
    }

    testing::TempFolder m_temp;
    testing::RecordingSink m_sink;
    int m_exports = 0;
    int m_inputs = 0;
};

}  // namespace ordavo::import_testing
