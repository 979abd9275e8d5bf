#include "export/ui/eksport_wizard.h"

#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QProgressDialog>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui_support/qt_text.h"
#include "ui_support/ui_service.h"
#include "export/csv_export.h"
#include "storage/database_paths.h"
#include "storage/file_error.h"

namespace ordavo {

namespace {

// Above this many bytes of tables an export shows a progress window while it runs.
constexpr std::uintmax_t kLargeExportBytes = std::uintmax_t{64} << 20;

// Whether something other than a regular file (a folder, a FIFO, a device, a socket) stands at
// `path`, links followed. Only looks, so a FIFO never makes the window wait for a reader.
bool isNotARegularFile(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
}

std::uintmax_t databaseBytes(const DatabasePaths& paths) {
    std::uintmax_t total = 0;
    for (DataFile file : kAllDataFiles) {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(paths.file(file), error);
        total += error ? 0 : size;
    }
    return total;
}

}  // namespace

Eksport_Wizard::Eksport_Wizard(std::function<const DatabasePaths&()> paths,
                               std::function<std::int32_t()> shown_film_id, UiService& ui,
                               QWidget* parent)
    : QDialog(parent),
      m_paths(std::move(paths)),
      m_shownFilmId(std::move(shown_film_id)),
      m_ui(ui) {
    setObjectName(QStringLiteral("exportWizard"));
    setWindowTitle(QStringLiteral("Ordavo - Kreator Eksportu"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    auto* layout = new QVBoxLayout(this);

    auto* scope = new QGroupBox(QStringLiteral("Ile rekordów eksportować ?"), this);
    auto* scope_layout = new QVBoxLayout(scope);
    m_whole = addBox(QStringLiteral("Całą bazę danych"), QStringLiteral("wholeDatabaseBox"), scope);
    scope_layout->addWidget(m_whole);
    layout->addWidget(scope);

    auto* tables =
        new QGroupBox(QStringLiteral("Zakres eksportu (wybierz jedną lub więcej opcji)"), this);
    auto* tables_layout = new QVBoxLayout(tables);
    m_films = addBox(QStringLiteral("Podstawowe dane filmu"), QStringLiteral("filmsBox"), tables);
    m_cast = addBox(QStringLiteral("Tabela Obsada"), QStringLiteral("castBox"), tables);
    m_ratings = addBox(QStringLiteral("Tabela Ocena"), QStringLiteral("ratingsBox"), tables);
    m_locations = addBox(QStringLiteral("Tabela Lokalizacje Zdjęciowe"),
                         QStringLiteral("locationsBox"), tables);
    m_production = addBox(QStringLiteral("Tabele Produkcja i Dystrybucja"),
                          QStringLiteral("productionBox"), tables);
    m_loans = addBox(QStringLiteral("Tabele Wypożyczeń"), QStringLiteral("loansBox"), tables);
    for (QCheckBox* box : {m_films, m_cast, m_ratings, m_locations, m_production, m_loans}) {
        tables_layout->addWidget(box);
    }
    layout->addWidget(tables);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* run = new QPushButton(QStringLiteral("&Eksportuj"), this);
    run->setObjectName(QStringLiteral("exportButton"));
    auto* cancel = new QPushButton(QStringLiteral("Anuluj"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    for (QPushButton* button : {run, cancel}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);
    connect(run, &QPushButton::clicked, this, &Eksport_Wizard::exportToChosenFile);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QCheckBox* Eksport_Wizard::addBox(const QString& text, const QString& name, QWidget* group) {
    auto* box = new QCheckBox(text, group);
    box->setObjectName(name);
    return box;
}

void Eksport_Wizard::exportToChosenFile() {
    const QString path = m_ui.chooseSaveFile(this, QStringLiteral("Eksportuj"),
                                             {QStringLiteral("Pliki csv (*.csv)")});
    if (!path.isEmpty()) {
        exportTo(path);
    }
}

bool Eksport_Wizard::exportTo(const QString& path) {
    ExportSections sections;
    sections.films = m_films->isChecked();
    sections.ratings = m_ratings->isChecked();
    sections.cast = m_cast->isChecked();
    sections.production = m_production->isChecked();
    sections.locations = m_locations->isChecked();
    sections.loans = m_loans->isChecked();
    const ExportScope scope =
        m_whole->isChecked() ? ExportScope::WholeDatabase : ExportScope::CurrentFilm;
    const DatabasePaths& paths = m_paths();
    const std::int32_t film_id = m_shownFilmId();
    if (isNotARegularFile(qStringToPath(path))) {
        m_ui.showMessage(this,
                         QStringLiteral("Nie można eksportować do „%1”: to nie jest zwykły plik "
                                        "(lecz np. katalog, potok lub urządzenie). Wybierz plik "
                                        "CSV albo nazwę nowego pliku.")
                             .arg(path),
                         utf8ToQString(kExportErrorTitle));
        return false;
    }

    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    std::unique_ptr<QProgressDialog> progress;
    if (databaseBytes(paths) > kLargeExportBytes) {
        // The export runs to its end before the window takes input again; this says so.
        progress = std::make_unique<QProgressDialog>(QStringLiteral("Trwa eksport danych…"),
                                                     QString(), 0, 0, this);
        progress->setWindowTitle(windowTitle());
        progress->setWindowModality(Qt::ApplicationModal);
        progress->setMinimumDuration(0);
        progress->show();
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    QString failure;
    try {
        ExportCsv(paths, qStringToPath(path), scope, film_id, sections);
    } catch (const ExportError& error) {
        failure = QString::fromUtf8(error.what());
    } catch (const FileError& error) {
        failure = fileErrorMessage(error);
    }
    progress.reset();
    QGuiApplication::restoreOverrideCursor();
    if (!failure.isEmpty()) {
        m_ui.showMessage(this, failure, utf8ToQString(kExportErrorTitle));
        return false;
    }
    return true;
}

void Eksport_Wizard::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
            button->click();
        } else {
            reject();  // Enter with no button focused closes without exporting
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace ordavo
