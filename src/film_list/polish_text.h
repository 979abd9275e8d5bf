#pragma once

#include <string>
#include <string_view>

namespace ordavo {

// Text as the film list's quick filter compares it: lower case, without diacritics, "ł" as "l"
// (which has no decomposition in Unicode), so that "lodz", "ŁÓDŹ" and "Łódź" are alike. One
// UTF-16 unit in, one out: positions stay where they were.
std::u16string foldForMatch(std::u16string_view text);
void appendFolded(std::u16string& out, std::u16string_view text);

// The bytes that order texts as Polish does (ICU's Polish collation: "Ł" after "L", "Ż" last,
// case only where the letters are alike); comparing two keys bytewise compares their texts.
// Safe to call from several threads.
std::string polishSortKey(std::u16string_view text);

}  // namespace ordavo
