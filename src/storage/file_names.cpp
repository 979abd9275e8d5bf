#include "storage/file_names.h"

#include <sys/random.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>

namespace ordavo {

namespace {

// The longest name a folder entry can have, in bytes.
constexpr std::size_t kNameMax = 255;
constexpr std::string_view kTemporarySuffix = ".ordavo-";

std::filesystem::path withSuffix(const std::filesystem::path& path, std::string_view suffix) {
    std::filesystem::path named = path;
    named += std::string(suffix);
    return named;
}

}  // namespace

std::string_view fileName(DataFile file) {
    switch (file) {
        case DataFile::Header:
            return "KR.kr";
        case DataFile::Films:
            return "KR_PDB.kr";
        case DataFile::Reviews:
            return "KR_OC.kr";
        case DataFile::Cast:
            return "KR_OB.kr";
        case DataFile::Producers:
            return "KR_PRB.kr";
        case DataFile::Distributors:
            return "KR_PRD.kr";
        case DataFile::Locations:
            return "KR_LZ.kr";
        case DataFile::LoansTo:
            return "KR_WI.kr";
        case DataFile::LoansFrom:
            return "KR_WO.kr";
    }
    return {};
}

std::filesystem::path replacementNameOf(const std::filesystem::path& table) {
    return withSuffix(table, "0");
}

std::filesystem::path redoPathOf(const std::filesystem::path& table) {
    return withSuffix(table, ".redo");
}

std::filesystem::path importStagingFolderOf(const std::filesystem::path& database_folder) {
    return withSuffix(database_folder.parent_path(), ".import");  // the separator dropped
}

std::string uniqueTemporaryPrefix(const std::filesystem::path& name) {
    std::string base = name.native();
    const std::size_t room = kNameMax - 1 - kTemporarySuffix.size() - kRandomNameLetters;
    if (base.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) {
            --cut;  // not inside a UTF-8 sequence
        }
        base.resize(cut);
    }
    return "." + base + std::string(kTemporarySuffix);
}

std::string randomNameLetters() {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[kRandomNameLetters] = {};
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // Without the system's randomness any varying value will do: such a name is always
        // created exclusively, so a clash only costs another attempt.
        const auto seed = static_cast<unsigned long>(std::time(nullptr)) ^
                          static_cast<unsigned long>(::getpid()) ^
                          reinterpret_cast<std::uintptr_t>(&bytes);
        for (std::size_t i = 0; i < sizeof bytes; ++i) {
            bytes[i] = static_cast<unsigned char>(seed >> (i * 5));
        }
    }
    std::string letters;
    for (unsigned char byte : bytes) {
        letters += kLetters[byte % (sizeof kLetters - 1)];
    }
    return letters;
}

std::filesystem::path uniqueTemporaryNameOf(const std::filesystem::path& target) {
    return target.parent_path() / (uniqueTemporaryPrefix(target.filename()) + randomNameLetters());
}

bool isFileSetName(const std::filesystem::path& name) {
    for (DataFile file : kAllDataFiles) {
        const std::filesystem::path table(std::string(fileName(file)));
        if (name == table || name == redoPathOf(table) || name == replacementNameOf(table)) {
            return true;
        }
    }
    return name == std::filesystem::path(std::string(kRedoRecordName)) ||
           name == std::filesystem::path(std::string(kBulkAppendJournalName));
}

std::vector<std::filesystem::path> fileSetPaths(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> paths;
    for (DataFile file : kAllDataFiles) {
        const std::filesystem::path table = folder / std::string(fileName(file));
        paths.push_back(table);
        paths.push_back(redoPathOf(table));
        paths.push_back(replacementNameOf(table));
    }
    paths.push_back(folder / std::string(kRedoRecordName));
    paths.push_back(folder / std::string(kBulkAppendJournalName));
    return paths;
}

}  // namespace ordavo
