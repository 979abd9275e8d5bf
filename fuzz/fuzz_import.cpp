// The CSV import over arbitrary files: the reader alone, then a whole import into an empty
// database (restore) or one holding a film (append). An import either completes, leaving whole
// rows, no journal and a counter past every film id, or stops with an ImportError and leaves the
// database byte for byte as it was.
//
// Input: a flags byte (character set, mode, lookalike films, target), then the file's bytes.

#include <cstdint>
#include <cstring>

#include "export/csv_export.h"
#include "fuzz_support.h"
#include "import/csv_import.h"
#include "import/csv_reader.h"
#include "storage/database.h"
#include "storage/film_record.h"
#include "storage/posix_file.h"
#include "tabs/detail_rows.h"

using namespace ordavo;
using namespace ordavo::fuzz;

namespace {

Bytes readAll(const std::filesystem::path& path) {
    PosixFile file(path, PosixFile::Mode::Read);
    Bytes bytes(file.size());
    file.readAt(bytes.data(), bytes.size(), 0);
    return bytes;
}

std::vector<Bytes> snapshot(const DatabasePaths& paths) {
    std::vector<Bytes> files;
    for (DataFile file : kAllDataFiles) {
        files.push_back(readAll(paths.file(file)));
    }
    return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InputReader input(data, size);
    const std::uint8_t flags = input.byte();
    const Bytes text = input.rest();
    constexpr std::string_view kCharsets[] = {"UTF-8", "CP1250", "ISO-8859-2", "UTF-16"};
    const std::string charset(kCharsets[flags & 0x03]);

    // The reader alone: records, or a fault with its place.
    try {
        CsvReader reader(
            memorySource(std::string_view(reinterpret_cast<const char*>(text.data()), text.size())),
            charset);
        CsvRecord record;
        std::uint64_t line = 0;
        while (reader.next(record)) {
            require(record.line > line || line == 0, "records come in line order");
            require(!record.fields.empty(), "a record has a field");
            line = record.line;
        }
    } catch (const CsvError& error) {
        require(error.line() >= 1, "a fault names its line");
    }

    ScratchDatabase& scratch = ScratchDatabase::instance();
    const DatabaseHeader header = newDatabaseHeader();
    const auto* header_bytes = reinterpret_cast<const unsigned char*>(&header);
    std::vector<Bytes> tables(kDataFileCount - 1);
    const bool append = flags & 0x04;
    if (append) {
        FilmRecord film = zeroFilmRecord();
        film.id = 1;
        setFieldText(film, FilmFieldId("title").info(), u"Noc");
        const auto* bytes = reinterpret_cast<const unsigned char*>(&film);
        tables[0].assign(bytes, bytes + sizeof film);
    }
    scratch.writeAll(Bytes(header_bytes, header_bytes + sizeof header), tables);
    const std::filesystem::path file = scratch.outside("import.csv");
    {
        PosixFile out(file, PosixFile::Mode::CreateTruncate);
        out.writeAt(text.data(), text.size(), 0);
    }

    ImportOptions options;
    options.charset = charset;
    options.mode = (flags & 0x08) ? ImportMode::Automatic
                                  : (append ? ImportMode::Append : ImportMode::Restore);
    options.duplicates = (flags & 0x10) ? DuplicateFilms::Keep : DuplicateFilms::Skip;
    const std::vector<Bytes> before = snapshot(scratch.paths());
    QuietSink sink;
    Database database(scratch.paths(), sink);
    try {
        const ImportSummary analysed = analyseImport(scratch.paths(), file, options);
        bool completed = false;
        runImport(
            database, file, options, analysed, [](std::uint64_t, std::uint64_t) { return true; },
            completed);
        require(completed, "an import that is not cancelled completes or throws");
    } catch (const ImportError&) {
        require(snapshot(scratch.paths()) == before, "a refused import changes nothing");
        return 0;
    }
    require(!pathExists(scratch.paths().database_folder / std::string(kBulkAppendJournalName)),
            "a completed import leaves no journal");
    const std::vector<Bytes> after = snapshot(scratch.paths());
    const std::int32_t last_id = database.readHeader().last_id;
    for (std::size_t i = 1; i < kDataFileCount; ++i) {
        const DataFile table = kAllDataFiles[i];
        std::size_t row_size = kFilmRowSize;
        if (table != DataFile::Films) {
            for (std::size_t l = 0; l < kDetailListCount; ++l) {
                const DetailLayout& layout = detailLayout(static_cast<DetailList>(l));
                row_size = layout.file == table ? layout.row_size : row_size;
            }
        }
        require(after[i].size() % row_size == 0, "an import appends whole rows");
        require(std::equal(before[i].begin(), before[i].end(), after[i].begin()),
                "an import never changes a stored row");
        if (table == DataFile::Films) {
            for (std::size_t at = 0; at < after[i].size(); at += row_size) {
                std::int32_t id = 0;
                std::memcpy(&id, after[i].data() + at, sizeof id);
                require(id > 0 && id <= last_id, "every film id is positive and issued");
            }
        }
    }
    return 0;
}
