#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>

#include "database_generator.h"
#include "storage/posix_file.h"

namespace ordavo::bench {

std::filesystem::path cacheRoot() {
    const char* configured = std::getenv("ORDAVO_BENCH_CACHE");
    return configured && *configured ? std::filesystem::path(configured)
                                     : std::filesystem::current_path() / "bench-data";
}

std::filesystem::path scratchDatabase(int films) {
    static std::map<int, std::filesystem::path> made;
    if (auto it = made.find(films); it != made.end()) {
        return it->second;
    }
    const std::filesystem::path source = cachedDatabase(cacheRoot() / "cache", films);
    const std::filesystem::path scratch = cacheRoot() / ("scratch-" + std::to_string(films));
    std::filesystem::remove_all(scratch);
    std::filesystem::create_directories(scratch / "covers");
    for (const auto& entry : std::filesystem::directory_iterator(source)) {
        if (entry.is_regular_file()) {
            copyFileAtomically(entry.path(), scratch / entry.path().filename());
        }
    }
    made[films] = scratch;
    return scratch;
}

void copyWithCp(benchmark::State& state, const std::filesystem::path& table, bool flush) {
    const std::string source = table.string();
    const std::string target = (cacheRoot() / "cp-copy").string();
    const std::string command = "cp '" + source + "' '" + target + "'" +
                                (flush ? " && sync '" + target + "'" : std::string());
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("cp failed");
        }
    }
    std::filesystem::remove(target);
}

}  // namespace ordavo::bench
