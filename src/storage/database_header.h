#pragma once

#include <cstdint>
#include <string_view>

namespace ordavo {

// "KR.kr": the version text and the last issued film id. Exactly 36 bytes.
struct DatabaseHeader {
    char16_t version[16];  // NUL-terminated; units after the NUL are ignored
    std::int32_t last_id;  // the last film id issued; a new database holds 1
};

inline constexpr std::size_t kHeaderSize = 36;
static_assert(sizeof(DatabaseHeader) == kHeaderSize);
static_assert(offsetof(DatabaseHeader, version) == 0);
static_assert(offsetof(DatabaseHeader, last_id) == 32);

// The only version this program writes to.
inline constexpr std::u16string_view kDatabaseVersion = u"1.0.2.0";

// A new header: kDatabaseVersion, last_id 1, the rest zero.
DatabaseHeader newDatabaseHeader();

}  // namespace ordavo
