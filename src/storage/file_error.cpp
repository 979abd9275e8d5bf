#include "storage/file_error.h"

#include <cstring>

namespace ordavo {

namespace {

std::string describe(const std::filesystem::path& path, const std::string& operation,
                     int error_number) {
    return operation + " '" + path.string() + "': " + std::strerror(error_number);
}

}  // namespace

FileError::FileError(std::filesystem::path path, std::string operation, int error_number)
    : std::runtime_error(describe(path, operation, error_number)),
      m_path(std::move(path)),
      m_operation(std::move(operation)),
      m_errorNumber(error_number) {}

std::string FileError::systemReason() const {
    return std::strerror(m_errorNumber);
}

}  // namespace ordavo
