// The check command of ordavo-cli on an arbitrary database folder: any header, any tables, and
// now and then one of the nine files missing or a folder in its place. The command reports;
// it never crashes and never writes.
//
// Input: a byte choosing what is absent, then the header and the eight tables as segments.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli/cli_support.h"
#include "cli/commands.h"
#include "fuzz_support.h"
#include "storage/file_error.h"

using namespace ordavo;
using namespace ordavo::fuzz;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The report goes to stdout; the fuzzer's own output is on stderr.
    return std::freopen("/dev/null", "w", stdout) == nullptr ? 1 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InputReader input(data, size);
    const std::uint8_t absent = input.byte();
    const Bytes header = input.segment();
    std::vector<Bytes> tables;
    for (std::size_t i = 1; i < kDataFileCount; ++i) {
        tables.push_back(input.segment());
    }
    ScratchDatabase& scratch = ScratchDatabase::instance();
    scratch.writeAll(header, tables);
    if (absent & 0x80) {
        const DataFile file = kAllDataFiles[(absent & 0x7F) % kDataFileCount];
        scratch.write(file, {}, false);
        if (absent & 0x40) {
            std::filesystem::create_directory(scratch.paths().file(file));
        }
    }

    const std::string folder = scratch.paths().database_folder.string();
    const std::string_view args[] = {folder};
    try {
        const int code = cli::runCheck(args);
        require(code == cli::kExitOk || code == cli::kExitNegative, "check ends with 0 or 1");
    } catch (const cli::CliError&) {
    } catch (const FileError&) {
        // A folder in place of a file cannot be read; main reports it.
    }
    std::fflush(stdout);
    return 0;
}
