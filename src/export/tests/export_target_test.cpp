#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "export/tests/csv_export_fixture.h"

namespace ordavo {
namespace {

using namespace export_testing;

class ExportTargetTest : public CsvExportTest {
protected:
    std::string reference(const ExportSections& sections = {}) {
        const std::filesystem::path file = reference_folder / "wzor.csv";
        ExportCsv(paths(), file, ExportScope::WholeDatabase, 0, sections, "UTF-8");
        const std::vector<unsigned char> bytes = testing::readBytes(file);
        return {bytes.begin(), bytes.end()};
    }
    // Exports the whole database to `target`; returns the error's kind and message, if any.
    std::optional<std::pair<ExportError::Kind, std::string>> exportTo(
        const std::filesystem::path& target, const ExportSections& sections = {},
        std::string_view charset = "UTF-8") {
        try {
            ExportCsv(paths(), target, ExportScope::WholeDatabase, 0, sections, charset);
            return std::nullopt;
        } catch (const ExportError& error) {
            return std::pair(error.kind(), std::string(error.what()));
        }
    }

    testing::TempFolder reference_folder;
};

bool contains(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

// A film with every text field filled up: one line of about 16,000 characters.
FilmRecord fullFilm(std::int32_t id) {
    FilmRecord film = makeFilm(id, u"");
    for (const FilmFieldInfo& field : kFilmFields) {
        setFieldText(film, field, std::u16string(field.capacity - 1, u'x'));
    }
    return film;
}

TEST_F(ExportTargetTest, AFailedExportLeavesTheTargetExactlyAsItWas) {
    addFilms({makeFilm(2, u"Rejs"), makeFilm(3, u"Cena 5 € za bilet")});
    addRows<Obsada>(DataFile::Cast, {makeRow<Obsada>(kObsadaLayout, 1, 2, {u"Jan", u"\xDC00"})});
    std::filesystem::remove(paths().file(DataFile::LoansTo));
    std::filesystem::remove(paths().file(DataFile::Locations));
    std::filesystem::create_directory(paths().file(DataFile::Locations));
    // The name an older export used for its temporary file belongs to someone else here.
    std::filesystem::path neighbour = output;
    neighbour += "0";
    testing::writeText(neighbour, "cudzy plik");

    constexpr ExportSections kFilms{true, false, false, false, false, false};
    struct Case {
        std::string what;
        ExportSections sections;
        std::string_view charset;
        rlim_t size_limit;  // 0: none
        ExportError::Kind kind;
    };
    for (const Case& c : {
             Case{"a character ISO-8859-2 lacks", kFilms, "ISO-8859-2", 0,
                  ExportError::Kind::Unrepresentable},
             Case{"half a surrogate pair",
                  {false, false, true, false, false, false},
                  "UTF-8",
                  0,
                  ExportError::Kind::Unrepresentable},
             Case{"a missing table",
                  {false, false, false, false, false, true},
                  "UTF-8",
                  0,
                  ExportError::Kind::CannotRead},
             Case{"a table that is a folder",
                  {false, false, false, false, true, false},
                  "UTF-8",
                  0,
                  ExportError::Kind::CannotRead},
             Case{"a full disk", kFilms, "UTF-8", 1000, ExportError::Kind::CannotWrite},
         }) {
        for (const bool existed : {false, true}) {
            SCOPED_TRACE(c.what + (existed ? ", over an existing file" : ", no file before"));
            if (existed) {
                testing::writeText(output, "stara zawartość\r\n");
            }
            const Snapshot before = snapshot(root.path());
            std::optional<std::pair<ExportError::Kind, std::string>> failure;
            {
                std::optional<FileSizeLimit> limit;
                if (c.size_limit != 0) {
                    limit.emplace(c.size_limit);
                }
                failure = exportTo(output, c.sections, c.charset);
            }
            ASSERT_TRUE(failure.has_value());
            EXPECT_EQ(failure->first, c.kind) << failure->second;
            EXPECT_TRUE(contains(failure->second, existed ? "Plik pozostał bez zmian."
                                                          : "Plik nie został utworzony."))
                << failure->second;
            EXPECT_EQ(snapshot(root.path()), before) << "no temporary file, no other file";
            std::filesystem::remove(output);
        }
    }
}

TEST_F(ExportTargetTest, AnExistingFileIsReplacedWholeAndKeepsItsPermissionBits) {
    addFilms({makeFilm(2, u"Rejs")});
    testing::writeText(output, std::string(100000, 'x'));
    ::chmod(output.c_str(), 0604);
    std::filesystem::path neighbour = output;
    neighbour += "0";
    testing::writeText(neighbour, "cudzy plik");
    const ino_t old_inode = statOf(output).st_ino;

    EXPECT_EQ(exportTo(output), std::nullopt);
    EXPECT_EQ(fileText(), reference());
    const struct stat replaced = statOf(output);
    EXPECT_EQ(replaced.st_mode & 07777, 0604u);
    EXPECT_NE(replaced.st_ino, old_inode) << "a new file renamed into place, not a rewrite";
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(root.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"db", "eksport.csv", "eksport.csv0"}))
        << "no temporary file left";
    const std::vector<unsigned char> kept = testing::readBytes(neighbour);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "cudzy plik");
}

TEST_F(ExportTargetTest, AnExportThroughASymbolicLinkWritesTheFileItPointsToAndKeepsTheLink) {
    addFilms({makeFilm(2, u"Rejs")});
    const std::string expected = reference();
    std::filesystem::create_directories(root / "pliki" / "glebiej");
    testing::writeText(root / "pliki" / "stary.csv", "stara zawartość");
    ::chmod((root / "pliki" / "stary.csv").c_str(), 0640);
    std::filesystem::create_symlink("pliki/stary.csv", root / "do-starego.csv");
    std::filesystem::create_symlink("do-starego.csv", root / "do-dowiazania.csv");
    std::filesystem::create_symlink("pliki/nowy.csv", root / "do-nowego.csv");  // dangling
    std::filesystem::create_symlink(root / "pliki" / "glebiej", root / "do-glebiej");
    struct Case {
        std::filesystem::path target;
        std::filesystem::path written;
    };
    for (const Case& c : {
             Case{root / "do-starego.csv", root / "pliki" / "stary.csv"},
             Case{root / "do-dowiazania.csv", root / "pliki" / "stary.csv"},
             Case{root / "do-nowego.csv", root / "pliki" / "nowy.csv"},
             // ".." after a link leads out of the folder the link points to.
             Case{root / "do-glebiej" / ".." / "obok.csv", root / "pliki" / "obok.csv"},
         }) {
        SCOPED_TRACE(c.target);
        const Snapshot links_before = [&] {
            Snapshot links;
            for (const auto& [name, what] : snapshot(root.path())) {
                if (what.rfind("-> ", 0) == 0) {
                    links[name] = what;
                }
            }
            return links;
        }();
        EXPECT_EQ(exportTo(c.target), std::nullopt);
        const std::vector<unsigned char> bytes = testing::readBytes(c.written);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), expected);
        for (const auto& [name, what] : links_before) {
            EXPECT_EQ(snapshot(root.path())[name], what) << "the link " << name << " is kept";
        }
    }
    EXPECT_EQ(statOf(root / "pliki" / "stary.csv").st_mode & 07777, 0640u);
    EXPECT_FALSE(std::filesystem::exists(root / "obok.csv"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root / "pliki"), {}), 4)
        << "glebiej, stary.csv, nowy.csv, obok.csv and no temporary file";
}

TEST_F(ExportTargetTest, AReadOnlyFileIsRefusedBeforeAnythingIsWritten) {
    addFilms({makeFilm(2, u"Rejs")});
    testing::writeText(output, "zostaje");
    ::chmod(output.c_str(), 0444);
    const Snapshot before = snapshot(root.path());
    const auto failure = exportTo(output);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->first, ExportError::Kind::Refused);
    EXPECT_TRUE(contains(failure->second, "„" + output.string() + "”: plik jest tylko do odczytu"))
        << failure->second;
    EXPECT_EQ(snapshot(root.path()), before);
    EXPECT_EQ(statOf(output).st_mode & 07777, 0444u);
}

TEST_F(ExportTargetTest, AFileThatARenameWouldChangeIsWrittenInPlace) {
    addFilms({makeFilm(2, u"Rejs")});
    const std::string expected = reference();
    struct Case {
        std::string what;
        std::function<bool()> prepare;  // false: the case cannot be set up here
    };
    const std::filesystem::path second_name = root / "druga-nazwa.csv";
    for (const Case& c : {
             Case{"a file with a second name",
                  [&] {
                      std::filesystem::create_hard_link(output, second_name);
                      return true;
                  }},
             Case{"a file of another user",
                  [&] { return ::chown(output.c_str(), kNobody, kNobody) == 0; }},
         }) {
        SCOPED_TRACE(c.what);
        testing::writeText(output, "stara zawartość");
        if (!c.prepare()) {
            continue;  // only root gives a file to someone else
        }
        const struct stat before = statOf(output);
        EXPECT_EQ(exportTo(output), std::nullopt);
        EXPECT_EQ(fileText(), expected);
        const struct stat after = statOf(output);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_nlink, before.st_nlink);
        std::filesystem::remove(second_name);
        std::filesystem::remove(output);
    }
}

TEST_F(ExportTargetTest, AnExportWrittenInPlaceThatCannotFitLeavesTheFileAsItWas) {
    addFilms({fullFilm(2), fullFilm(3)});
    const std::filesystem::path second_name = root / "druga-nazwa.csv";
    testing::writeText(output, "wczorajszy kompletny eksport");
    std::filesystem::create_hard_link(output, second_name);  // so it is written in place
    {
        testing::FileSizeLimit limit(20000);  // less than the export
        const auto failure = exportTo(output);
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->first, ExportError::Kind::CannotWrite) << failure->second;
    }
    EXPECT_EQ(fileText(), "wczorajszy kompletny eksport");
    EXPECT_EQ(statOf(output).st_nlink, 2u);
}

TEST_F(ExportTargetTest, WhatAKilledExportLeftBesideTheTargetGoesLater) {
    addFilms({makeFilm(2, u"Rejs")});
    const std::string name = "." + output.filename().string() + ".ordavo-";
    const std::filesystem::path stale = root / (name + "abcdef");
    const std::filesystem::path recent = root / (name + "ghijkl");
    const std::filesystem::path other = root / ".inny.csv.ordavo-abcdef";
    for (const auto& path : {stale, recent, other}) {
        testing::writeText(path, "część");
    }
    const auto hour_ago = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    std::filesystem::last_write_time(stale, hour_ago);
    std::filesystem::last_write_time(other, hour_ago);
    EXPECT_EQ(exportTo(output), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(recent));  // may be another export running now
    EXPECT_TRUE(std::filesystem::exists(other));   // another target's
}

TEST_F(ExportTargetTest, AFileInAFolderThatTakesNoNewFileIsWrittenInPlace) {
    addFilms({makeFilm(2, u"Rejs"), makeFilm(3, u"Cena 5 € za bilet")});
    const std::string expected = reference();
    const std::filesystem::path folder = root / "zamkniety";
    const std::filesystem::path target = folder / "eksport.csv";
    std::filesystem::create_directory(folder);
    // The child without root's rights has to reach the database and the target.
    ::chmod(root.path().c_str(), 0755);
    struct Case {
        std::string what;
        std::string_view charset;
        rlim_t size_limit;
        int result;  // 0: exported; otherwise 10 + the error's kind
    };
    const auto code = [](ExportError::Kind kind) { return 10 + static_cast<int>(kind); };
    for (const Case& c : {
             Case{"an export that succeeds", "UTF-8", 0, 0},
             Case{"a character the code page lacks", "ISO-8859-2", 0,
                  code(ExportError::Kind::Unrepresentable)},
             Case{"a full disk", "UTF-8", 1000, code(ExportError::Kind::CannotWrite)},
         }) {
        SCOPED_TRACE(c.what);
        ::chmod(folder.c_str(), 0755);
        testing::writeText(target, "stara zawartość");
        if (::geteuid() == 0) {
            ASSERT_EQ(::chown(target.c_str(), kNobody, kNobody), 0);  // the folder stays root's
        } else {
            ::chmod(folder.c_str(), 0555);
        }
        const struct stat before = statOf(target);
        const int result = runWithoutRoot([&] {
            std::optional<FileSizeLimit> limit;
            if (c.size_limit != 0) {
                limit.emplace(c.size_limit);
            }
            try {
                ExportCsv(paths(), target, ExportScope::WholeDatabase, 0, {}, c.charset);
                return 0;
            } catch (const ExportError& error) {
                return code(error.kind());
            }
        });
        EXPECT_EQ(result, c.result);
        const std::vector<unsigned char> bytes = testing::readBytes(target);
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
                  c.result == 0 ? expected : "stara zawartość");
        EXPECT_EQ(statOf(target).st_ino, before.st_ino);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1);
    }
}

TEST_F(ExportTargetTest, AFifoIsWrittenInPlaceAndStaysAFifo) {
    addFilms({makeFilm(3, u"Cena 5 € za bilet")});
    for (std::int32_t id = 10; id < 20; ++id) {
        addFilms({fullFilm(id)});  // more than a pipe holds
    }
    const std::string large = reference();
    ASSERT_GT(large.size(), std::size_t{1} << 17);
    const std::filesystem::path fifo = root / "potok";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    struct Case {
        std::string what;
        std::string_view charset;
        bool reader_hangs_up;
        std::optional<ExportError::Kind> kind;
        std::string received;
    };
    for (const Case& c : {
             Case{"a whole export", "UTF-8", false, std::nullopt, large},
             Case{"a character the code page lacks", "ISO-8859-2", false,
                  ExportError::Kind::Unrepresentable, ""},
             Case{"a reader that leaves early", "UTF-8", true, ExportError::Kind::WrittenInPart,
                  ""},
         }) {
        SCOPED_TRACE(c.what);
        FifoReader reader(fifo, c.reader_hangs_up);
        const auto failure = exportTo(fifo, {}, c.charset);
        EXPECT_EQ(reader.finish(), c.received);
        EXPECT_EQ(failure.has_value() ? std::optional(failure->first) : std::nullopt, c.kind)
            << (failure ? failure->second : "");
        if (c.kind == ExportError::Kind::WrittenInPart) {
            EXPECT_TRUE(contains(failure->second, "może być niekompletny")) << failure->second;
            EXPECT_TRUE(contains(failure->second, "zamknął potok")) << failure->second;
        }
        EXPECT_TRUE(S_ISFIFO(statOf(fifo).st_mode));
    }
}

TEST_F(ExportTargetTest, NoFileOfADatabaseIsEverATarget) {
    addFilms({makeFilm(2, u"Rejs")});
    const std::filesystem::path db = paths().database_folder;
    testing::writeText(db / "covers" / "przod.jpg", "okładka");
    std::filesystem::create_hard_link(db / "KR_OC.kr", root / "oceny.csv");
    std::filesystem::create_hard_link(db / "covers" / "przod.jpg", root / "okladka.csv");
    std::filesystem::create_symlink(db / "covers", root / "do-okladek");
    std::filesystem::create_symlink(db / "KR_PDB.kr", root / "do-filmow.csv");
    std::filesystem::create_directory(root / "inna");
    testing::writeText(root / "inna" / "KR.kr", "");

    std::vector<std::filesystem::path> targets;
    for (DataFile file : kAllDataFiles) {
        targets.push_back(paths().file(file));
    }
    for (const char* name : {"KR_PDB.kr.redo", "KR_OB.kr0", "covers/eksport.csv",
                             "covers/przod.jpg", "../db/KR_WO.kr", "./KR.kr"}) {
        targets.push_back(db / name);
    }
    for (const char* name : {"do-okladek/eksport.csv", "do-okladek/../KR_PDB.kr", "do-filmow.csv",
                             "oceny.csv", "okladka.csv", "inna/KR_OB.kr"}) {
        targets.push_back(root / name);
    }
    for (const std::filesystem::path& target : targets) {
        SCOPED_TRACE(target);
        const Snapshot before = snapshot(root.path());
        const auto failure = exportTo(target);
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->first, ExportError::Kind::Refused);
        EXPECT_TRUE(contains(failure->second, "„" + target.string() + "”")) << failure->second;
        EXPECT_TRUE(contains(failure->second, "bazy danych")) << failure->second;
        EXPECT_EQ(snapshot(root.path()), before);
    }
    for (const std::filesystem::path& beside :
         {db / "eksport.csv", root / "inna" / "eksport.csv"}) {
        EXPECT_EQ(exportTo(beside), std::nullopt) << "any other name is fine: " << beside;
    }
}

TEST_F(ExportTargetTest, AnExportToADescriptorGoesInAtItsPositionOnlyWhenWhole) {
    addFilms({makeFilm(2, u"Rejs")});
    const std::string expected = reference();
    testing::writeText(output, "przed\n");
    const int fd = ::open(output.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ExportCsvToDescriptor(paths(), fd, "„-”", ExportScope::WholeDatabase, 0, {}, "UTF-8");
    EXPECT_EQ(fileText(), "przed\n" + expected);

    addFilms({makeFilm(3, u"Cena 5 € za bilet")});
    EXPECT_THROW(
        ExportCsvToDescriptor(paths(), fd, "„-”", ExportScope::WholeDatabase, 0, {}, "ISO-8859-2"),
        ExportError);
    EXPECT_EQ(fileText(), "przed\n" + expected) << "nothing of a failed export";
    ::close(fd);

    const std::vector<unsigned char> films = testing::readBytes(paths().file(DataFile::Films));
    const int table = ::open(paths().file(DataFile::Films).c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(table, 0);
    try {
        ExportCsvToDescriptor(paths(), table, "„-”", ExportScope::WholeDatabase, 0, {}, "UTF-8");
        ADD_FAILURE() << "exported into the film table";
    } catch (const ExportError& error) {
        EXPECT_EQ(error.kind(), ExportError::Kind::Refused);
    }
    ::close(table);
    EXPECT_EQ(testing::readBytes(paths().file(DataFile::Films)), films);
}

}  // namespace
}  // namespace ordavo
