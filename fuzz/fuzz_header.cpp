// The header reader: the file-set check, the version check, reading the header and issuing a
// film id, on arbitrary bytes in "KR.kr". An issued id is always the stored one plus 1 and
// positive; a refusal happens only for a counter that cannot grow.

#include <cstdint>
#include <limits>

#include "fuzz_support.h"
#include "storage/database.h"
#include "storage/text_field.h"
#include "storage/unicode_text.h"

using namespace ordavo;
using namespace ordavo::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ScratchDatabase& scratch = ScratchDatabase::instance();
    static const bool ready = [&] {
        scratch.writeAll({}, {});
        return true;
    }();
    (void)ready;
    scratch.write(DataFile::Header, Bytes(data, data + size));

    QuietSink sink;
    Database database(scratch.paths(), sink);
    require(database.checkFileSet() == DatabaseState::Intact, "a complete file set is Intact");
    (void)database.versionMatches();
    const DatabaseHeader before = database.readHeader();
    (void)toUtf8(readText(before.version));

    const std::optional<std::int32_t> id = database.issueFilmId();
    const DatabaseHeader after = database.readHeader();
    if (id) {
        require(before.last_id >= 0 && before.last_id < std::numeric_limits<std::int32_t>::max(),
                "an id is issued only from a counter that can grow");
        require(*id == before.last_id + 1 && *id > 0, "the issued id is the counter plus 1");
        require(after.last_id == *id, "the header keeps the issued id");
    } else {
        require(after.last_id == before.last_id, "a refused issue leaves the counter alone");
    }
    return 0;
}
