#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "storage/database_paths.h"
#include "storage/film_record.h"
#include "storage/message_sink.h"
#include "storage/page_handover.h"

namespace ordavo::testing {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(std::string_view name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// Makes `folder` the process's working folder until the end of the scope.
class WorkingFolderScope {
public:
    explicit WorkingFolderScope(const std::filesystem::path& folder);
    ~WorkingFolderScope();

private:
    std::filesystem::path m_previous;
};

// Lets no file grow beyond `bytes` until the end of the scope, as a full disk would: a write
// past it fails with EFBIG (SIGXFSZ is ignored from then on, as the programs ignore it).
class FileSizeLimit {
public:
    explicit FileSizeLimit(std::uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    std::uint64_t m_old_current = 0;
    std::uint64_t m_old_maximum = 0;
};

// Remembers every message instead of showing it.
class RecordingSink : public MessageSink {
public:
    void showMessage(std::string_view text, std::string_view title) override {
        messages.emplace_back(std::string(text), std::string(title));
    }
    std::vector<std::pair<std::string, std::string>> messages;
};

// Remembers the hand-over calls as "clear Reviews", "load Cast 7", "save Producers 7".
class RecordingHandover : public PageHandover {
public:
    void clearList(DetailList list) override;
    void forgetRows(DetailList list) override;
    void loadRows(DetailList list, std::int32_t film_id) override;
    void saveRows(DetailList list, std::int32_t film_id, WriteBatch& batch) override;
    std::int32_t largestFilmId() override { return largest_film_id; }
    std::vector<std::string> calls;
    std::int32_t largest_film_id = 0;
};

std::string_view listName(DetailList list);

std::vector<unsigned char> readBytes(const std::filesystem::path& path);
void writeBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes);
void writeText(const std::filesystem::path& path, std::string_view text);
void truncateFile(const std::filesystem::path& path, std::uint64_t size);

// A zero-filled film row with `id` and a title.
FilmRecord makeFilm(std::int32_t id, std::u16string_view title);
// Appends raw film rows to a film table.
void appendFilms(const std::filesystem::path& table, const std::vector<FilmRecord>& films);
// The ids of the rows of a film table, a trailing partial row included.
std::vector<std::int32_t> filmIds(const std::filesystem::path& table);

// Leaves `table` as a process killed inside the write of `row` at `offset` leaves it: the
// command's redo record whole in the database, and only the first `written` bytes of the row in
// the table.
void leaveKilledRowWrite(const std::filesystem::path& table, std::uint64_t offset,
                         const std::vector<unsigned char>& row, std::size_t written);
// Opens the database at `paths` in another process, as the program opens one (finishing any
// command a kill or power cut left in the redo record), and waits for it to end.
void openInAnotherProgram(const DatabasePaths& paths);

// The bytes of a film row.
std::vector<unsigned char> filmBytes(const FilmRecord& film);

}  // namespace ordavo::testing
