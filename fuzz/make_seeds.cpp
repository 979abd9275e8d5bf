// ordavo-fuzz-seeds OUT: writes a seed corpus for each fuzz target into OUT/<target>/, taken
// from a small generated database (two films with cast and reviews) to which rows of the other
// five detail tables are added through the core, plus a few damaged variants.

#include <cstdio>
#include <exception>
#include <fstream>
#include <limits>
#include <string>
#include <tuple>

#include "database_generator.h"
#include "export/csv_export.h"
#include "fuzz_support.h"
#include "storage/database.h"
#include "storage/film_table.h"
#include "storage/posix_file.h"
#include "tabs/detail_tables.h"

namespace ordavo::fuzz {
namespace {

namespace fs = std::filesystem;

Bytes readFile(const fs::path& path) {
    PosixFile file(path, PosixFile::Mode::Read);
    Bytes bytes(file.size());
    file.readAt(bytes.data(), bytes.size(), 0);
    return bytes;
}

void writeSeed(const fs::path& out, std::string_view target, std::string_view name,
               const Bytes& bytes) {
    const fs::path folder = out / target;
    fs::create_directories(folder);
    std::ofstream file(folder / name, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

Bytes prefix(const Bytes& bytes, std::size_t n) {
    return Bytes(bytes.begin(),
                 bytes.begin() + static_cast<std::ptrdiff_t>(std::min(n, bytes.size())));
}

// Gives both films two rows in each table the generator leaves empty, with Polish text.
void addDetailRows(const fs::path& folder) {
    QuietSink sink;
    Database database(buildPaths(folder), sink);
    for (std::int32_t film : {2, 3}) {
        DetailTables lists(database);
        for (DetailList list :
             {DetailList::Producers, DetailList::Distributors, DetailList::Locations,
              DetailList::LoansTo, DetailList::LoansFrom}) {
            DetailTable& table = lists.table(list);
            table.loadRows(film);
            for (int n = 0; n < 2; ++n) {
                table.newRow(film);
                std::vector<std::u16string> texts(table.layout().fields.size(),
                                                  u"Łódź, ul. Żółta 5 \"B\"");
                texts[0] = n == 0 ? u"Zespół Filmowy „Kadr”" : u"12.05.2021";
                table.confirmRow(texts, table.rowCount() - 1);
            }
            table.saveRows();
        }
    }
}

void writeSeeds(const fs::path& out) {
    const fs::path folder = out / "database";
    fs::remove_all(folder);
    bench::GeneratorOptions options;
    options.films = 2;
    options.cast_per_film = 2;
    options.reviews_per_film = 1;
    bench::generateDatabase(folder, options);
    addDetailRows(folder);
    const DatabasePaths paths = buildPaths(folder);
    const Bytes header = readFile(paths.file(DataFile::Header));
    std::vector<Bytes> tables;
    for (std::size_t i = 1; i < kDataFileCount; ++i) {
        tables.push_back(readFile(paths.file(kAllDataFiles[i])));
    }
    const Bytes& films = tables[0];

    // header
    writeSeed(out, "header", "generated", header);
    writeSeed(out, "header", "short", prefix(header, 20));
    Bytes exhausted = header;
    const std::int32_t max = std::numeric_limits<std::int32_t>::max();
    std::memcpy(exhausted.data() + 32, &max, sizeof max);
    writeSeed(out, "header", "exhausted", exhausted);

    // film_rows: first row read, second row deleted, a partial second row deleted
    writeSeed(out, "film_rows", "read", InputWriter().byte(0).rest(films).bytes());
    writeSeed(out, "film_rows", "delete", InputWriter().byte(0x81).rest(films).bytes());
    writeSeed(out, "film_rows", "partial",
              InputWriter().byte(0x81).rest(prefix(films, kFilmRowSize + 5000)).bytes());

    // detail_layouts and detail_table: each layout's own table
    for (std::size_t l = 0; l < kDetailListCount; ++l) {
        const auto list = static_cast<DetailList>(l);
        const DetailLayout& layout = detailLayout(list);
        const Bytes& table = tables[static_cast<std::size_t>(layout.file) - 1];
        const std::string name = std::string(layout.row_type);
        writeSeed(out, "detail_layouts", name,
                  InputWriter().byte(static_cast<std::uint8_t>(l)).rest(table).bytes());
        for (std::uint8_t command : {0, 1, 2}) {
            writeSeed(out, "detail_table", name + "-" + std::to_string(command),
                      InputWriter()
                          .byte(static_cast<std::uint8_t>(l))
                          .int32(1)
                          .byte(command)
                          .rest(table)
                          .bytes());
        }
    }

    // search: a title word, a director's name, every row, no field
    const auto search = [&](std::string_view name, std::uint8_t field, std::u16string_view phrase) {
        Bytes units;
        for (char16_t unit : phrase) {
            units.push_back(static_cast<unsigned char>(unit & 0xFF));
            units.push_back(static_cast<unsigned char>(unit >> 8));
        }
        writeSeed(out, "search", name,
                  InputWriter().byte(field).segment(units).rest(films).bytes());
    };
    search("title", 0, u"Noc");
    search("director", 8, u"Nowak");
    search("empty", 3, u"");
    search("none", 49, u"a");

    // export and check: the whole database
    InputWriter whole;
    whole.byte(0x3F).byte(0).int32(2);
    for (const Bytes& table : tables) {
        whole.segment(table);
    }
    writeSeed(out, "export", "whole", whole.bytes());
    InputWriter current;
    current.byte(0x7F).byte(1).int32(3);
    for (const Bytes& table : tables) {
        current.segment(table);
    }
    writeSeed(out, "export", "current-cp1250", current.bytes());
    InputWriter check;
    check.byte(0).segment(header);
    for (const Bytes& table : tables) {
        check.segment(table);
    }
    writeSeed(out, "check", "whole", check.bytes());

    // import: the database's export in two character sets, a plain table of films, and a
    // semicolon-separated table as a spreadsheet saves one
    for (const auto& [name, charset, flags] :
         {std::tuple{"export-utf8", "UTF-8", 0x00}, std::tuple{"export-cp1250", "CP1250", 0x01},
          std::tuple{"export-append", "UTF-8", 0x14}}) {
        const fs::path csv = out / "export.csv";
        ExportCsv(paths, csv, ExportScope::WholeDatabase, 0, ExportSections{}, charset);
        writeSeed(out, "import", name,
                  InputWriter().byte(static_cast<std::uint8_t>(flags)).rest(readFile(csv)).bytes());
        fs::remove(csv);
    }
    const std::string plain =
        "\xEF\xBB\xBFTytu\xC5\x82;Gatunek;Rok produkcji;ID\r\n\"Noc; "
        "dzie\xC5\x84\";Dramat;1999;4\r\n"
        "Rejs;;1970;\r\n";
    writeSeed(out, "import", "plain",
              InputWriter().byte(0).rest(Bytes(plain.begin(), plain.end())).bytes());
    InputWriter damaged;
    damaged.byte(0x80 | 4).segment(prefix(header, 30));
    for (const Bytes& table : tables) {
        damaged.segment(prefix(table, table.size() - 3));
    }
    writeSeed(out, "check", "damaged", damaged.bytes());
    fs::remove_all(folder);
}

}  // namespace
}  // namespace ordavo::fuzz

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: ordavo-fuzz-seeds OUT\n", stderr);
        return 2;
    }
    try {
        ordavo::fuzz::writeSeeds(argv[1]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ordavo-fuzz-seeds: %s\n", error.what());
        return 1;
    }
    return 0;
}
