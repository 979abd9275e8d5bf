#pragma once

#include <cstdint>
#include <filesystem>

namespace ordavo::bench {

struct GeneratorOptions {
    int films = 1000;
    int cast_per_film = 10;
    int reviews_per_film = 2;
    std::uint32_t seed = 2026;
    // Every text field of every film filled to its capacity (the worst case for reading texts).
    bool full_text = false;
};

// Builds a complete database in `folder` (created when missing, tables replaced): films with ids
// 2, 3, ... and realistic Polish text (titles of 10-40 characters with diacritics, names,
// countries), and for each film its cast rows and reviews, stored film after film. The other
// detail tables are empty. The header's last issued id is the last film's.
void generateDatabase(const std::filesystem::path& folder, const GeneratorOptions& options);

// A generated database of `films` films under `cache_root`, made once and reused afterwards.
std::filesystem::path cachedDatabase(const std::filesystem::path& cache_root, int films,
                                     bool full_text = false);

}  // namespace ordavo::bench
