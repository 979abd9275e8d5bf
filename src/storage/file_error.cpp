#include "storage/file_error.h"

#include <cerrno>

namespace ordavo {

namespace {

std::string summary(const std::filesystem::path& path, FileOperation operation, int error_number) {
    return std::string(polishOperation(operation)) + " '" + path.string() +
           "': " + polishReason(error_number);
}

}  // namespace

std::string_view polishOperation(FileOperation operation) {
    switch (operation) {
        case FileOperation::Open:
            return "otworzyć pliku";
        case FileOperation::Read:
            return "odczytać pliku";
        case FileOperation::Write:
            return "zapisać pliku";
        case FileOperation::Stat:
            return "sprawdzić pliku";
        case FileOperation::Truncate:
            return "skrócić pliku";
        case FileOperation::Sync:
            return "zapisać na dysk pliku";
        case FileOperation::Copy:
            return "skopiować pliku";
        case FileOperation::Rename:
            return "zastąpić pliku";
        case FileOperation::Delete:
            return "usunąć pliku";
        case FileOperation::CreateFolder:
            return "utworzyć katalogu";
        case FileOperation::DeleteFolder:
            return "usunąć katalogu";
        case FileOperation::OpenFolder:
            return "otworzyć katalogu";
        case FileOperation::SyncFolder:
            return "zapisać na dysk katalogu";
        case FileOperation::Lock:
            return "zablokować pliku";
        case FileOperation::GetWorkingFolder:
            return "ustalić bieżącego katalogu";
    }
    return "użyć pliku";  // not reached: every operation has its phrase above
}

std::string polishReason(int error_number) {
    switch (error_number) {
        case kNotARegularFile:
            return "To nie jest zwykły plik (lecz np. potok, gniazdo lub urządzenie)";
        case ENOENT:
            return "Nie ma takiego pliku ani katalogu";
        case EACCES:
        case EPERM:
            return "Brak uprawnień";
        case ENOSPC:
            return "Brak miejsca na dysku";
        case EFBIG:
            return "Plik jest za duży (przekroczony limit rozmiaru pliku)";
        case EROFS:
            return "System plików tylko do odczytu";
        case EISDIR:
            return "To jest katalog";
        case ENOTDIR:
            return "Ścieżka nie prowadzi do katalogu";
        case ENAMETOOLONG:
            return "Za długa nazwa pliku";
        case EIO:
            return "Błąd wejścia/wyjścia";
        case EDQUOT:
            return "Przekroczony przydział dyskowy";
        case EEXIST:
            return "Plik już istnieje";
        case ENOTEMPTY:
            return "Katalog nie jest pusty";
        case EBUSY:
            return "Plik lub katalog jest zajęty";
        case EMFILE:
        case ENFILE:
            return "Za dużo otwartych plików";
        case ENOMEM:
            return "Brak pamięci";
        case ELOOP:
            return "Za dużo dowiązań symbolicznych";
        case ETXTBSY:
            return "Plik jest używany";
        case EXDEV:
            return "Pliki leżą w różnych systemach plików";
        case ENXIO:
            return "Nie ma takiego urządzenia";
        case EINVAL:
            return "Nieprawidłowy argument";
        case ENOLCK:
            return "Brak wolnych blokad plików";
        case EWOULDBLOCK:
            return "Plik jest zablokowany przez inny program";
        default:
            return "Błąd systemu nr " + std::to_string(error_number);
    }
}

FileError::FileError(std::filesystem::path path, FileOperation operation, int error_number)
    : std::runtime_error(summary(path, operation, error_number)),
      m_path(std::move(path)),
      m_operation(operation),
      m_errorNumber(error_number) {}

std::string FileError::polishReason() const {
    return ordavo::polishReason(m_errorNumber);
}

std::string FileError::polishMessage() const {
    return "Nie można " + std::string(polishOperation(m_operation)) + ":\n" + m_path.string() +
           "\n\n" + polishReason() + ".";
}

}  // namespace ordavo
