#include "storage/film_record.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "storage/text_field.h"

namespace ordavo {

static_assert(std::endian::native == std::endian::little,
              "rows are stored little-endian and read by copying the bytes");

const FilmFieldInfo* findFilmField(std::string_view member) {
    for (const FilmFieldInfo& info : kFilmFields) {
        if (info.member == member) {
            return &info;
        }
    }
    return nullptr;
}

std::u16string_view fieldText(const FilmRecord& record, const FilmFieldInfo& info) {
    return readText(fieldData(record, info), info.capacity);
}

void setFieldText(FilmRecord& record, const FilmFieldInfo& info, std::u16string_view text) {
    storeText(fieldData(record, info), info.capacity, text);
}

FilmRecord zeroFilmRecord() {
    FilmRecord record;
    std::memset(&record, 0, sizeof record);
    return record;
}

void clearUnusedUnits(FilmRecord& record) {
    for (const FilmFieldInfo& info : kFilmFields) {
        char16_t* units = fieldData(record, info);
        const std::size_t end = readText(units, info.capacity).size();
        std::fill(units + end, units + info.capacity, u'\0');
    }
}

void emptyFilmRecord(FilmRecord& record) {
    for (const FilmFieldInfo& info : kFilmFields) {
        fieldData(record, info)[0] = u'\0';
    }
    record.id = 0;
}

}  // namespace ordavo
