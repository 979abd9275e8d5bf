#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "storage/page_handover.h"
#include "storage/posix_file.h"
#include "tabs/detail_rows.h"

namespace ordavo::bench {

// A simplified CSV writer for the yardstick exports: every field in double quotes with inner
// quotes doubled, CR LF line ends, text in CP1250 for the Polish letters (any other non-ASCII
// unit becomes '?'). It writes as many bytes as Ordavo's export of the generated databases but
// skips its checks (unrepresentable characters, broken surrogates). Bytes gather in a buffer
// that goes to the file in 4 MiB writes.
class CsvLines {
public:
    explicit CsvLines(const std::filesystem::path& target);
    ~CsvLines();
    CsvLines(const CsvLines&) = delete;
    CsvLines& operator=(const CsvLines&) = delete;

    // Text without quotes: the banner and the section titles (UTF-8).
    void bare(std::string_view utf8);
    void quotedUtf8(std::string_view utf8);
    void quoted(std::u16string_view text);
    void number(std::int32_t value);
    void endLine();
    // Writes what is left in the buffer.
    void flush();

private:
    void beginField();
    void unit(char16_t unit);

    PosixFile m_file;
    std::string m_bytes;
    std::uint64_t m_written = 0;
    bool m_lineStarted = false;
};

// The detail sections of the export in the file's order: ratings, cast, producers, distributors,
// locations, loans to others, loans from others.
inline constexpr std::array<DetailList, kDetailListCount> kExportOrder = {
    DetailList::Reviews,   DetailList::Cast,    DetailList::Producers, DetailList::Distributors,
    DetailList::Locations, DetailList::LoansTo, DetailList::LoansFrom,
};

inline constexpr std::string_view kExportBanner = "Ordavo - wyeksportowane dane";
inline constexpr std::string_view kFilmSectionTitle = "Tabela główna - Film";

// The title and header lines of a section.
void writeFilmHead(CsvLines& out);
void writeDetailHead(CsvLines& out, const DetailLayout& layout);
// One data line from a whole row as the table file stores it.
void writeFilmLine(CsvLines& out, const unsigned char* row);
void writeDetailLine(CsvLines& out, const DetailLayout& layout, const unsigned char* row);

}  // namespace ordavo::bench
