#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace ordavo {

struct DatabasePaths;
class FileReplacement;

// Where an export goes, and the file it is made in first. The target is checked before anything
// is written; the export is then made whole in a temporary file, and only commit() brings it to
// the target, so a failure before that leaves the target exactly as it was (or absent).
//
// A path is taken as the system resolves it: symbolic links are followed, also dangling ones
// (an export to a link writes the file it points to and keeps the link), and ".." applies after
// the links before it. Refused before anything is written, with an ExportError:
//   - a file of a database's file set: the nine files of the open database and their redo
//     records and temporary names, anything in its covers folder, the same files under another
//     name (hard links), and the nine files' names in any folder that holds a database header;
//   - a folder, a missing folder, a read-only file (also one with no write bit for anyone, which
//     root could still write).
// Then, by what is there:
//   - nothing, or a file of this user with one link in a folder that takes a new file: the export
//     is made in a new file ".<name>.ordavo-XXXXXX" beside the target (created exclusively, so
//     no other file is ever touched), flushed, given the old file's permission bits and group,
//     and renamed over the target; the folder is flushed after. A power cut leaves the old file
//     or the whole new one.
//   - a file of another user or with several links (a rename would change its owner or split
//     the link), a file in a folder that takes no new file, a FIFO, a device, an open
//     descriptor: the export is made in an anonymous file in the temporary-files folder ($TMPDIR
//     or /tmp) and then copied into the target as it is. Only a failure in that copy can leave
//     the target incomplete, and its message says so.
class ExportTarget {
public:
    // The file at `path`, as the user chose it. Throws ExportError (Refused, CannotCreate).
    ExportTarget(const DatabasePaths& database, const std::filesystem::path& path);
    // An open descriptor such as standard output, written at its position and never closed;
    // `label` names it in messages. Throws ExportError (Refused, CannotCreate).
    ExportTarget(const DatabasePaths& database, int descriptor, std::string label);
    // Removes a temporary file that did not become the target.
    ~ExportTarget();
    ExportTarget(const ExportTarget&) = delete;
    ExportTarget& operator=(const ExportTarget&) = delete;

    // Adds bytes to the export being made. Throws ExportError (CannotWrite).
    void append(const void* data, std::size_t size);
    // Brings the whole export to the target. Throws ExportError: CannotWrite while the target is
    // still as it was, WrittenInPart when the copy into the target failed part way.
    void commit();

    // The target in messages, e.g. "„/home/ala/eksport.csv”".
    const std::string& label() const { return m_label; }
    // What a failure before commit() leaves, as a sentence: "Plik pozostał bez zmian." etc.
    std::string untouchedNote() const;

private:
    enum class Way {
        Replace,     // made beside the target and renamed over it
        InPlace,     // made in an anonymous file and copied into the target path
        Descriptor,  // made in an anonymous file and copied into the open descriptor
    };

    void createBuildFile();
    // Makes sure the whole export fits into the regular file `out` (file-size limit, free
    // space) before anything of it is changed; throws ExportError, with the file untouched.
    void reserveRoom(int out);
    // Copies the finished export into `out` from its position; `over_a_file` (written from its
    // start) cuts the file to the export's length afterwards.
    void copyInto(int out, bool regular_file, bool over_a_file);
    void copyIntoTargetPath();
    void replaceTarget();

    Way m_way = Way::Replace;
    std::string m_label;
    std::filesystem::path m_target;  // resolved: the real folder and the name in it
    bool m_exists = false;
    struct stat m_old {};   // the target as it was, when it exists
    int m_descriptor = -1;  // the descriptor target, not owned
    int m_build = -1;  // the file the export is made in: the replacement's, or an anonymous one
    std::unique_ptr<FileReplacement> m_replacement;  // of the target, made beside it
    std::filesystem::path m_buildFolder;  // the temporary-files folder of an anonymous file
    std::uint64_t m_size = 0;
};

}  // namespace ordavo
