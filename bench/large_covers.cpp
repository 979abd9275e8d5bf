#include "large_covers.h"

#include <QImage>
#include <cstddef>

#include "ui_support/qt_text.h"
#include "storage/film_record.h"
#include "storage/posix_file.h"
#include "storage/text_field.h"

namespace ordavo::bench {

void attachLargeCovers(const std::filesystem::path& folder) {
    const std::filesystem::path marker = folder / "covers" / "attached";
    if (std::filesystem::exists(marker)) {
        return;
    }
    for (const char* name : {"front.jpg", "back.jpg"}) {
        QImage image(3000, 4000, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                line[x] = qRgb(x * 255 / 3000, y * 255 / 4000, (x ^ y) & 0xFF);
            }
        }
        image.save(pathToQString(folder / "covers" / name), "JPEG", 85);
    }
    FilmRecord row{};
    storeText(row.front_cover_path, toU16(pathToQString(folder / "covers" / "front.jpg")));
    storeText(row.back_cover_path, toU16(pathToQString(folder / "covers" / "back.jpg")));
    // The two paths lie next to each other in the row and are written together.
    static_assert(offsetof(FilmRecord, back_cover_path) ==
                  offsetof(FilmRecord, front_cover_path) + sizeof row.front_cover_path);
    constexpr std::size_t kBothPaths = sizeof row.front_cover_path + sizeof row.back_cover_path;
    PosixFile films(folder / "KR_PDB.kr", PosixFile::Mode::ReadWrite);
    const std::uint64_t length = films.size();
    for (std::uint64_t offset = 0; offset < length; offset += kFilmRowSize) {
        films.writeAt(row.front_cover_path, kBothPaths,
                      offset + offsetof(FilmRecord, front_cover_path));
    }
    PosixFile(marker, PosixFile::Mode::CreateTruncate);
}

}  // namespace ordavo::bench
