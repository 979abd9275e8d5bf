// Generates a database for trying Ordavo on a large collection:
//   ordavo-make-database FOLDER FILMS [SEED]
#include <cstdlib>
#include <iostream>
#include <string>

#include "database_generator.h"
#include "storage/file_error.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::cerr << "użycie: ordavo-make-database FOLDER LICZBA_FILMÓW [ZIARNO]\n";
        return 2;
    }
    ordavo::bench::GeneratorOptions options;
    options.films = std::atoi(argv[2]);
    if (argc == 4) {
        options.seed = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
    }
    if (options.films < 0) {
        std::cerr << "błąd: liczba filmów nie może być ujemna\n";
        return 2;
    }
    try {
        ordavo::bench::generateDatabase(argv[1], options);
    } catch (const ordavo::FileError& error) {
        std::cerr << "błąd: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
