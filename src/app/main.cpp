#include <QDir>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "app/ckinokrat_app.h"
#include "storage/file_error.h"
#include "ui_support/qt_text.h"
#include "ui_support/ui_service.h"

namespace {

// "--data-home", given by the applications menu's entry: the working folder becomes the user's
// data folder, so that the database is its default_db and no default_db lands in the home
// folder. Without it a start keeps the folder it was started in.
constexpr std::string_view kDataHomeOption = "--data-home";

bool hasOption(int argc, char** argv, std::string_view option) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == option) {
            return true;
        }
    }
    return false;
}

// $XDG_DATA_HOME/ordavo, or ~/.local/share/ordavo when that is unset or not absolute.
std::filesystem::path dataHomeFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    std::filesystem::path base = xdg != nullptr ? std::filesystem::path(xdg) : "";
    if (!base.is_absolute()) {
        base = ordavo::qStringToPath(QDir::homePath()) / ".local" / "share";
    }
    return base / "ordavo";
}

// Where a start from the menu works: the data folder, unless it holds no database yet while the
// home folder does (a collection kept there by starts from the home folder before the menu entry
// existed), which then stays the one opened instead of an empty new one beside it.
std::filesystem::path menuStartFolder() {
    const std::filesystem::path data = dataHomeFolder();
    const std::filesystem::path home = ordavo::qStringToPath(QDir::homePath());
    std::error_code error;
    if (!std::filesystem::exists(data / "default_db" / "KR.kr", error) &&
        std::filesystem::is_regular_file(home / "default_db" / "KR.kr", error)) {
        return home;
    }
    return data;
}

// Creates `folder` when missing and makes it the working folder; throws FileError.
void enterFolder(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        throw ordavo::FileError(folder, ordavo::FileOperation::CreateFolder, error.value());
    }
    std::filesystem::current_path(folder, error);
    if (error) {
        throw ordavo::FileError(folder, ordavo::FileOperation::OpenFolder, error.value());
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bool data_home = hasOption(argc, argv, kDataHomeOption);
    ordavo::CKinokratApp app(argc, argv);
    // The menu entry the windows belong to, for docks and task bars.
    app.setDesktopFileName(QStringLiteral("io.github.ordavo.Ordavo"));
    ordavo::QtUiService ui;
    if (data_home) {
        // The dialogs start in the home folder, not in the hidden data folder.
        ui.setStartFolder(QDir::homePath());
        try {
            enterFolder(menuStartFolder());
        } catch (const ordavo::FileError& error) {
            ordavo::showFileError(ui, nullptr, error);
            return 1;
        }
    }
    return app.run(ui);
}
