// A film search over an arbitrary film table, compared with a plain scan: the offsets of the rows,
// in order, whose chosen field (its text up to the first NUL, at most capacity - 1 units)
// contains the phrase's first 500 units; an empty phrase matches every row, no field none.
//
// Input: the field byte (past the list: no field), the phrase as a segment of UTF-16LE units,
// then the table.

#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "search/film_search.h"
#include "storage/text_field.h"

using namespace ordavo;
using namespace ordavo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InputReader input(data, size);
    const std::uint8_t field_byte = input.byte();
    std::u16string phrase = utf16Of(input.segment());
    phrase = phrase.substr(0, phrase.find(u'\0'));  // a typed phrase holds no NUL
    const Bytes table = input.rest();
    ScratchDatabase& scratch = ScratchDatabase::instance();
    scratch.write(DataFile::Films, table);

    const std::size_t field_number = field_byte % (kSearchFieldCount + 1);
    const std::optional<std::size_t> field =
        field_number < kSearchFieldCount ? std::optional(field_number) : std::nullopt;
    TableKeeper films(scratch.paths().file(DataFile::Films));
    const std::vector<std::int64_t> found = FilmSearch(films).search(field, phrase);

    std::vector<std::int64_t> expected;
    if (field) {
        const FilmFieldInfo& info = searchField(*field);
        const std::u16string_view wanted =
            std::u16string_view(phrase).substr(0, kMaxSearchPhraseLength);
        for (std::size_t offset = 0; offset < table.size(); offset += kFilmRowSize) {
            std::vector<char16_t> units(info.capacity, u'\0');
            const std::size_t start = offset + info.offset;
            if (start < table.size()) {
                std::memcpy(units.data(), table.data() + start,
                            std::min(info.capacity * 2, table.size() - start));
            }
            if (readText(units.data(), info.capacity).find(wanted) != std::u16string_view::npos) {
                expected.push_back(static_cast<std::int64_t>(offset));
            }
        }
    }
    require(found == expected, "a search finds exactly the rows whose field holds the phrase");
    return 0;
}
