#pragma once

#include <QDialog>
#include <filesystem>
#include <optional>

#include "import/csv_import.h"

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace ordavo {

class Database;
class UiService;

// The summary of an import to confirm: what the file holds and what will be written or skipped,
// with the character set, the mode and what becomes of lookalike films to choose. Each choice
// reads the file again; "Importuj" is on only while the file can be imported.
class CsvImportDialog : public QDialog {
    Q_OBJECT
public:
    CsvImportDialog(const DatabasePaths& database, std::filesystem::path file, QWidget* parent);

    const ImportOptions& options() const { return m_options; }
    // The summary of the file with the options chosen, or nullopt when it cannot be imported.
    const std::optional<ImportSummary>& summary() const { return m_summary; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void analyse();

    const DatabasePaths& m_database;
    std::filesystem::path m_file;
    ImportOptions m_options;
    std::optional<ImportSummary> m_summary;
    QComboBox* m_charset = nullptr;
    QComboBox* m_mode = nullptr;
    QComboBox* m_duplicates = nullptr;
    QPlainTextEdit* m_text = nullptr;
    QPushButton* m_import = nullptr;
    QPushButton* m_cancel = nullptr;
};

// "Import z pliku CSV…": a file dialog, the summary to confirm, then the import with a progress
// dialog that can cancel it. Every message goes through `ui`; a file error is thrown to the
// caller's command. Returns whether anything was written.
bool importCsvFile(QWidget* parent, Database& database, UiService& ui);

}  // namespace ordavo
