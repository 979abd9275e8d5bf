#include "database_generator.h"

#include <array>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "storage/database_header.h"
#include "storage/database_paths.h"
#include "storage/film_record.h"
#include "storage/posix_file.h"
#include "storage/text_field.h"
#include "tabs/detail_rows.h"

namespace ordavo::bench {

namespace {

constexpr std::array<std::u16string_view, 40> kTitleWords = {
    u"Noc",        u"nad",       u"Wisłą",  u"Pożegnanie", u"jesieni",  u"Ziemia",     u"obiecana",
    u"Człowiek",   u"z",         u"żelaza", u"marmuru",    u"Rękopis",  u"znaleziony", u"w",
    u"Saragossie", u"Popiół",    u"i",      u"diament",    u"Krótki",   u"film",       u"o",
    u"miłości",    u"Niebieski", u"Biały",  u"Czerwony",   u"Dźwięki",  u"Księżyc",    u"nad",
    u"Łodzią",     u"Gorączka",  u"Śnieg",  u"na",         u"Żuławach", u"Cień",       u"Mazurach",
    u"Ślepy",      u"Zaklęty",   u"dwór",   u"Pościg",     u"Ćma"};
constexpr std::array<std::u16string_view, 16> kFirstNames = {
    u"Zbigniew", u"Małgorzata", u"Łukasz",    u"Żaneta", u"Grzegorz", u"Agnieszka",
    u"Bożena",   u"Jędrzej",    u"Krzysztof", u"Ewa",    u"Maciej",   u"Urszula",
    u"Wojciech", u"Halina",     u"Tomasz",    u"Jadwiga"};
constexpr std::array<std::u16string_view, 16> kLastNames = {
    u"Wójcik", u"Kowalczyk", u"Szczęsny",  u"Żuławski", u"Pająk", u"Łęcki",
    u"Nowak",  u"Zieliński", u"Dąbrowska", u"Kamińska", u"Mróz",  u"Gołębiowski",
    u"Sójka",  u"Wieczorek", u"Kaczmarek", u"Jabłońska"};
constexpr std::array<std::u16string_view, 10> kCountries = {
    u"Polska",  u"Czechy",          u"Francja",           u"Niemcy",
    u"Włochy",  u"Wielka Brytania", u"Stany Zjednoczone", u"Węgry",
    u"Szwecja", u"Hiszpania"};
constexpr std::array<std::u16string_view, 9> kGenres = {u"Dramat",    u"Komedia",  u"Thriller",
                                                        u"Horror",    u"Sensacja", u"Przygodowy",
                                                        u"Familijny", u"Romans",   u"Dokumentalny"};
constexpr std::array<std::u16string_view, 8> kRoles = {
    u"Główna rola", u"Ksiądz", u"Żołnierz", u"Matka", u"Sąsiad", u"Listonosz", u"Łowczy", u"Córka"};

class TextMaker {
public:
    explicit TextMaker(std::uint32_t seed) : m_random(seed) {}

    template <std::size_t N>
    std::u16string_view pick(const std::array<std::u16string_view, N>& pool) {
        return pool[m_random() % N];
    }
    std::u16string title() {
        const std::size_t target = 10 + m_random() % 31;
        std::u16string text(pick(kTitleWords));
        while (text.size() < target) {
            text += u' ';
            text += pick(kTitleWords);
        }
        return text.substr(0, target);
    }
    std::u16string person() {
        std::u16string text(pick(kFirstNames));
        text += u' ';
        text += pick(kLastNames);
        return text;
    }
    std::u16string number(int from, int to) {
        const int value =
            from + static_cast<int>(m_random() % static_cast<unsigned>(to - from + 1));
        std::u16string text;
        for (char c : std::to_string(value)) {
            text += static_cast<char16_t>(c);
        }
        return text;
    }

private:
    std::mt19937 m_random;
};

// Writes rows to a file in large blocks.
class RowWriter {
public:
    explicit RowWriter(const std::filesystem::path& path)
        : m_file(path, PosixFile::Mode::CreateTruncate) {}
    ~RowWriter() { flush(); }
    template <typename Row>
    void add(const Row& row) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(&row);
        m_buffer.insert(m_buffer.end(), bytes, bytes + sizeof row);
        if (m_buffer.size() >= (std::size_t{8} << 20)) {
            flush();
        }
    }
    void flush() {
        m_file.writeAt(m_buffer.data(), m_buffer.size(), m_written);
        m_written += m_buffer.size();
        m_buffer.clear();
    }

private:
    PosixFile m_file;
    std::vector<unsigned char> m_buffer;
    std::uint64_t m_written = 0;
};

void setFilmText(FilmRecord& film, std::string_view member, std::u16string_view text) {
    setFieldText(film, *findFilmField(member), text);
}

}  // namespace

void generateDatabase(const std::filesystem::path& folder, const GeneratorOptions& options) {
    std::filesystem::create_directories(folder / "covers");
    const DatabasePaths paths = buildPaths(folder);
    TextMaker text(options.seed);

    RowWriter films(paths.file(DataFile::Films));
    RowWriter cast(paths.file(DataFile::Cast));
    RowWriter reviews(paths.file(DataFile::Reviews));
    for (DataFile other : {DataFile::Producers, DataFile::Distributors, DataFile::Locations,
                           DataFile::LoansTo, DataFile::LoansFrom}) {
        PosixFile empty(paths.file(other), PosixFile::Mode::CreateTruncate);
    }

    std::int32_t cast_id = 0;
    std::int32_t review_id = 0;
    for (int i = 0; i < options.films; ++i) {
        const std::int32_t id = 2 + i;
        FilmRecord film = zeroFilmRecord();
        film.id = id;
        setFilmText(film, "title", text.title());
        setFilmText(film, "original_title", text.title());
        setFilmText(film, "genre", text.pick(kGenres));
        setFilmText(film, "director_name", text.person());
        setFilmText(film, "director_nationality", u"polska");
        setFilmText(film, "composer_name", text.person());
        setFilmText(film, "production_countries", text.pick(kCountries));
        setFilmText(film, "production_year", text.number(1950, 2026));
        setFilmText(film, "running_time", text.number(70, 200) + u" min");
        setFilmText(film, "price", text.number(10, 150) + u",99 zł");
        setFilmText(film, "owner_first_name", text.pick(kFirstNames));
        setFilmText(film, "owner_last_name", text.pick(kLastNames));
        setFilmText(film, "medium_type", u"DVD");
        setFilmText(film, "own_rating_overall", text.number(1, 10));
        if (options.full_text) {
            for (const FilmFieldInfo& field : kFilmFields) {
                std::u16string full;
                while (full.size() + 1 < field.capacity) {
                    full += text.title() + u" ";
                }
                setFieldText(film, field, full);
            }
        }
        films.add(film);

        for (int c = 0; c < options.cast_per_film; ++c) {
            Obsada row{};
            row.ID = ++cast_id;
            row.IDPDB = id;
            storeText(row.full_name, text.person());
            storeText(row.role, text.pick(kRoles));
            cast.add(row);
        }
        for (int r = 0; r < options.reviews_per_film; ++r) {
            Ocena row{};
            row.ID = ++review_id;
            row.IDPDB = id;
            storeText(row.source_name, u"Kino - miesięcznik");
            storeText(row.text_title, text.title());
            storeText(row.text_author, text.person());
            storeText(row.web_page, u"https://kino.example/recenzje/" + text.number(1, 99999));
            storeText(row.critic_rating, text.number(1, 6) + u"/6");
            reviews.add(row);
        }
    }

    DatabaseHeader header = newDatabaseHeader();
    header.last_id = 1 + options.films;
    PosixFile header_file(paths.file(DataFile::Header), PosixFile::Mode::CreateTruncate);
    header_file.writeAt(&header, sizeof header, 0);
}

std::filesystem::path cachedDatabase(const std::filesystem::path& cache_root, int films,
                                     bool full_text) {
    const std::filesystem::path folder =
        cache_root / ("films-" + std::to_string(films) + (full_text ? "-full" : ""));
    const std::filesystem::path marker = folder / "complete";
    if (!std::filesystem::exists(marker)) {
        GeneratorOptions options;
        options.films = films;
        options.full_text = full_text;
        generateDatabase(folder, options);
        std::ofstream(marker) << films << '\n';
    }
    return folder;
}

}  // namespace ordavo::bench
