#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "import/csv_reader.h"
#include "storage/unicode_text.h"

namespace ordavo {
namespace {

using Records = std::vector<std::vector<std::string>>;

struct Read {
    Records records;
    std::vector<std::uint64_t> lines;
    char16_t separator = 0;
};

Read readAll(CsvReader::Source source, const std::string& charset = "UTF-8") {
    CsvReader reader(std::move(source), charset);
    Read read;
    CsvRecord record;
    while (reader.next(record)) {
        std::vector<std::string> fields;
        for (const std::u16string& field : record.fields) {
            fields.push_back(toUtf8(field));
        }
        read.records.push_back(fields);
        read.lines.push_back(record.line);
    }
    read.separator = reader.separator();
    return read;
}

// A source that hands out one byte per call, so that every character is split between reads.
CsvReader::Source byteByByte(std::string bytes) {
    auto position = std::make_shared<std::size_t>(0);
    return [bytes = std::move(bytes), position](char* data, std::size_t size) -> std::size_t {
        if (size == 0 || *position == bytes.size()) {
            return 0;
        }
        data[0] = bytes[(*position)++];
        return 1;
    };
}

struct ReadCase {
    const char* name;
    std::string bytes;
    Records records;
    std::vector<std::uint64_t> lines;
    char16_t separator;
};

TEST(CsvReaderTest, ReadsWhatExportsAndSpreadsheetsWrite) {
    const std::vector<ReadCase> cases = {
        {"quoted fields hold separators, line ends and doubled quotes",
         "\"a,b\",\"say \"\"hi\"\"\",\"two\r\nlines\"\r\n\"x\",\"\",\"z\"\r\n",
         {{"a,b", "say \"hi\"", "two\r\nlines"}, {"x", "", "z"}},
         {1, 3},
         u','},
        {"LF, CR LF, lone CR and the old CR LF CR all end a line; empty lines are skipped",
         "a,b\nc,d\r\ne,f\r\n\rg,h\ri,j\n\n\nk,l",
         {{"a", "b"}, {"c", "d"}, {"e", "f"}, {"g", "h"}, {"i", "j"}, {"k", "l"}},
         {1, 2, 3, 4, 5, 8},
         u','},
        {"semicolons as a Polish spreadsheet writes them, with a byte-order mark",
         "\xEF\xBB\xBFTytu\xC5\x82;Rok;\n\"Noc; dzie\xC5\x84\";1999;\n",
         {{"Tytuł", "Rok", ""}, {"Noc; dzień", "1999", ""}},
         {1, 2},
         u';'},
        {"tabs", "a\tb\tc\n1\t2\t3\n", {{"a", "b", "c"}, {"1", "2", "3"}}, {1, 2}, u'\t'},
        {"U+FFFF in a value is a character like any other",
         "a\xEF\xBF\xBF,b\nc,d\n",
         {{"a\xEF\xBF\xBF", "b"}, {"c", "d"}},
         {1, 2},
         u','},
        {"a quote inside an unquoted field stands as it is",
         "a\"b,c\n",
         {{"a\"b", "c"}},
         {1},
         u','},
        {"a line of one title and trailing empty cells",
         "Tabela Ocena ,,,\n",
         {{"Tabela Ocena ", "", "", ""}},
         {1},
         u','},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool split : {false, true}) {
            Read read;
            try {
                read = readAll(split ? byteByByte(c.bytes) : memorySource(c.bytes));
            } catch (const CsvError& error) {
                ADD_FAILURE() << (split ? "byte by byte: " : "") << "line " << error.line()
                              << ", field " << error.column() << ": " << error.what();
                continue;
            }
            EXPECT_EQ(read.records, c.records);
            EXPECT_EQ(read.lines, c.lines);
            EXPECT_EQ(read.separator, c.separator);
        }
    }
}

TEST(CsvReaderTest, DecodesTheChosenCharacterSetAcrossReads) {
    const std::string cp1250 = "\"\xA3\xF3\x64\x9F\",\"\xBF\xF3\xB3w\"\n";  // Łódź, żółw
    for (bool split : {false, true}) {
        const Read read = readAll(split ? byteByByte(cp1250) : memorySource(cp1250), "CP1250");
        EXPECT_EQ(read.records, (Records{{"Łódź", "żółw"}}));
    }
    // UTF-16 as "Unicode text" is saved: little-endian with its byte-order mark.
    const std::string utf16le(
        "\xFF\xFE"
        "a\0,\0\x42\x01\n\0",
        10);
    EXPECT_EQ(readAll(memorySource(utf16le), "UTF-16LE").records, (Records{{"a", "ł"}}));
}

struct FaultCase {
    const char* name;
    std::string bytes;
    std::uint64_t line;
    std::size_t column;
    const char* says;
};

TEST(CsvReaderTest, NamesTheLineAndFieldOfEveryFault) {
    const std::vector<FaultCase> cases = {
        {"a quote never closed", "a,b\nc,\"open\nstill open\n", 2, 2, "nie został zamknięty"},
        {"text after the closing quote", "a,b\n\"x\" y,z\n", 2, 1, "po cudzysłowie"},
        {"bytes that are not UTF-8", "a,b\nc,\"d\xFF\"\n", 2, 2, "kodowaniu UTF-8"},
        {"a UTF-8 sequence cut off by the end", "a,b\nc,d\xC5", 2, 2, "kodowaniu UTF-8"},
        {"bad bytes in an unquoted field", "a\n\xC0\xAF,b\n", 2, 1, "kodowaniu UTF-8"},
        {"a quote never closed in a large file", "a\n\"" + std::string(3u << 20, 'x'), 2, 1,
         "dłuższy"},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool split : {false, true}) {
            try {
                readAll(split ? byteByByte(c.bytes) : memorySource(c.bytes));
                ADD_FAILURE() << "read without a fault";
            } catch (const CsvError& error) {
                EXPECT_EQ(error.line(), c.line);
                EXPECT_EQ(error.column(), c.column);
                EXPECT_NE(std::string(error.what()).find(c.says), std::string::npos)
                    << error.what();
            }
        }
    }
}

TEST(CsvReaderTest, AnUnknownCharacterSetOrAUtf8MarkInAnotherSetIsRefused) {
    EXPECT_THROW(CsvReader(memorySource("a"), "NO-SUCH-SET"), std::invalid_argument);
    try {
        readAll(memorySource("\xEF\xBB\xBFTytu\xC5\x82\n"), "CP1250");
        ADD_FAILURE() << "a UTF-8 file read as CP1250";
    } catch (const CsvError& error) {
        EXPECT_NE(std::string(error.what()).find("BOM"), std::string::npos) << error.what();
    }
}

}  // namespace
}  // namespace ordavo
