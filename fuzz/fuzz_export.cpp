// ExportCsv over arbitrary tables, in each scope, with any choice of sections and three
// character sets. An export either completes, ending in CR LF, or stops with an ExportError.
//
// Input: a flags byte (sections, scope, character set), the current film's id, then the film
// table and the seven detail tables as segments, in file-set order.

#include <cstdint>
#include <fstream>
#include <iterator>

#include "export/csv_export.h"
#include "fuzz_support.h"
#include "storage/database.h"

using namespace ordavo;
using namespace ordavo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InputReader input(data, size);
    const std::uint8_t flags = input.byte();
    const std::uint8_t more = input.byte();
    const std::int32_t film_id = input.int32();
    std::vector<Bytes> tables;
    for (std::size_t i = 1; i < kDataFileCount; ++i) {
        tables.push_back(input.segment());
    }
    ScratchDatabase& scratch = ScratchDatabase::instance();
    const DatabaseHeader header = newDatabaseHeader();
    const auto* header_bytes = reinterpret_cast<const unsigned char*>(&header);
    scratch.writeAll(Bytes(header_bytes, header_bytes + sizeof header), tables);

    ExportSections sections;
    sections.films = flags & 0x01;
    sections.ratings = flags & 0x02;
    sections.cast = flags & 0x04;
    sections.production = flags & 0x08;
    sections.locations = flags & 0x10;
    sections.loans = flags & 0x20;
    const ExportScope scope =
        (flags & 0x40) ? ExportScope::CurrentFilm : ExportScope::WholeDatabase;
    constexpr std::string_view kCharsets[] = {"UTF-8", "CP1250", "ISO-8859-2"};
    const std::string_view charset = kCharsets[more % 3];

    const std::filesystem::path out = scratch.outside("eksport.csv");
    try {
        ExportCsv(scratch.paths(), out, scope, film_id, sections, charset);
        std::ifstream in(out, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        require(text.size() >= 2 && text.ends_with("\r\n"), "a complete export ends in CR LF");
    } catch (const ExportError& error) {
        require(error.kind() == ExportError::Kind::Unrepresentable,
                "only an unrepresentable character stops an export of readable tables");
    }
    return 0;
}
