#pragma once

// Carrying out the commands of the crash model through the core, as the window's handlers do:
// shared by the kill driver and the power-cut simulator.

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "crash_model.h"
#include "storage/message_sink.h"

namespace ordavo {
class Database;
class DetailTables;
class FilmTable;
}  // namespace ordavo

namespace ordavo::crash {

class DriverError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// No command of the plan shows a message; one that does is a fault.
class FailingSink : public MessageSink {
public:
    void showMessage(std::string_view text, std::string_view) override {
        throw DriverError("unexpected message: " + std::string(text));
    }
};

// What the window holds against the model's session; empty when they agree.
std::vector<std::string> compareSession(FilmTable& film, DetailTables& tables,
                                        const Session& session);

// Writes the image a cover command chooses, before the command starts.
void prepareCover(const Operation& op, const std::filesystem::path& work);

// Carries out one command through the core. Throws DriverError when the core refuses.
void execute(const Operation& op, const std::filesystem::path& work, Database& database,
             FilmTable& film, DetailTables& tables);

}  // namespace ordavo::crash
