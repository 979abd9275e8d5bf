#include "import/ui/csv_import_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QVBoxLayout>

#include "export/text_encoder.h"
#include "storage/database.h"
#include "storage/file_error.h"
#include "ui_support/qt_text.h"
#include "ui_support/ui_service.h"

namespace ordavo {

namespace {

// The character sets offered; any other iconv name may be typed.
constexpr const char* kCharsets[] = {"UTF-8", "CP1250", "ISO-8859-2"};

}  // namespace

CsvImportDialog::CsvImportDialog(const DatabasePaths& database, std::filesystem::path file,
                                 QWidget* parent)
    : QDialog(parent), m_database(database), m_file(std::move(file)) {
    setObjectName(QStringLiteral("csvImportDialog"));
    setWindowTitle(QStringLiteral("Import z pliku CSV"));
    auto* layout = new QVBoxLayout(this);
    auto* file_label = new QLabel(QStringLiteral("Plik: ") + pathToQString(m_file), this);
    file_label->setWordWrap(true);
    file_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(file_label);

    auto* form = new QFormLayout;
    m_charset = new QComboBox(this);
    m_charset->setObjectName(QStringLiteral("charsetBox"));
    m_charset->setEditable(true);
    const QString locale = QString::fromStdString(localeCharset());
    m_charset->addItem(locale);
    for (const char* name : kCharsets) {
        if (QString::fromLatin1(name).compare(locale, Qt::CaseInsensitive) != 0) {
            m_charset->addItem(QString::fromLatin1(name));
        }
    }
    form->addRow(QStringLiteral("&Kodowanie znaków:"), m_charset);
    m_mode = new QComboBox(this);
    m_mode->setObjectName(QStringLiteral("modeBox"));
    m_mode->addItem(QStringLiteral("samoczynnie (odtworzenie do pustej bazy, inaczej dołączenie)"));
    m_mode->addItem(QStringLiteral("odtworzenie kopii (identyfikatory z pliku)"));
    m_mode->addItem(QStringLiteral("dołączenie do bazy (nowe identyfikatory)"));
    form->addRow(QStringLiteral("&Tryb:"), m_mode);
    m_duplicates = new QComboBox(this);
    m_duplicates->setObjectName(QStringLiteral("duplicatesBox"));
    m_duplicates->addItem(QStringLiteral("pomiń je"));
    m_duplicates->addItem(QStringLiteral("importuj je mimo to"));
    form->addRow(QStringLiteral("Filmy &podobne do zapisanych:"), m_duplicates);
    layout->addLayout(form);

    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("summaryText"));
    m_text->setReadOnly(true);
    m_text->setMinimumSize(720, 260);
    layout->addWidget(m_text, 1);

    auto* buttons = new QDialogButtonBox(this);
    m_import = buttons->addButton(QStringLiteral("&Importuj"), QDialogButtonBox::AcceptRole);
    m_import->setObjectName(QStringLiteral("importButton"));
    m_cancel = buttons->addButton(QStringLiteral("Anuluj"), QDialogButtonBox::RejectRole);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    for (QPushButton* button : {m_import, m_cancel}) {
        button->setAutoDefault(false);
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    const auto reanalyse = [this] { analyse(); };
    // A typed name is read when the typing ends, not at every key.
    connect(m_charset, &QComboBox::activated, this, reanalyse);
    connect(m_charset->lineEdit(), &QLineEdit::editingFinished, this, reanalyse);
    connect(m_mode, &QComboBox::currentIndexChanged, this, reanalyse);
    connect(m_duplicates, &QComboBox::currentIndexChanged, this, reanalyse);
    analyse();
}

void CsvImportDialog::keyPressEvent(QKeyEvent* event) {
    // Enter must not start an import the user has not read; only "Importuj" does.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CsvImportDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    m_import->setDefault(false);  // the button box makes its accepting button the default
    m_cancel->setFocus();
}

void CsvImportDialog::analyse() {
    m_options.charset = m_charset->currentText().trimmed().toStdString();
    m_options.mode = m_mode->currentIndex() == 1   ? ImportMode::Restore
                     : m_mode->currentIndex() == 2 ? ImportMode::Append
                                                   : ImportMode::Automatic;
    m_options.duplicates =
        m_duplicates->currentIndex() == 1 ? DuplicateFilms::Keep : DuplicateFilms::Skip;
    m_summary.reset();
    QString text;
    try {
        m_summary = analyseImport(m_database, m_file, m_options);
        text = utf8ToQString(m_summary->describe());
        if (m_summary->writesNothing()) {
            text += QStringLiteral("\nNie ma czego zaimportować.");
        }
    } catch (const ImportError& error) {
        text = utf8ToQString(error.what());
    } catch (const FileError& error) {
        text = fileErrorMessage(error);
    }
    m_text->setPlainText(text);
    m_import->setEnabled(m_summary && !m_summary->writesNothing());
    m_duplicates->setEnabled(m_summary && m_summary->duplicate_films > 0);
}

bool importCsvFile(QWidget* parent, Database& database, UiService& ui) {
    const QString chosen = ui.chooseFile(
        parent, QStringLiteral("Import z pliku CSV"),
        {QStringLiteral("Pliki CSV (*.csv *.txt)"), QStringLiteral("Wszystkie pliki (*)")});
    if (chosen.isEmpty()) {
        return false;
    }
    const std::filesystem::path file = qStringToPath(chosen);
    CsvImportDialog confirm(database.paths(), file, parent);
    if (ui.runDialog(confirm) != QDialog::Accepted || !confirm.summary()) {
        return false;
    }

    QProgressDialog progress(QStringLiteral("Import z pliku CSV…"), QStringLiteral("Anuluj"), 0,
                             1000, parent);
    progress.setObjectName(QStringLiteral("importProgress"));
    progress.setMinimumWidth(480);
    progress.setWindowTitle(utf8ToQString(kImportTitle));
    progress.setWindowModality(Qt::ApplicationModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setValue(0);
    const auto advance = [&progress](std::uint64_t done, std::uint64_t total) {
        progress.setValue(total == 0 ? 1000 : static_cast<int>(done * 1000 / total));
        // Only the progress dialog takes input meanwhile: it is modal to the whole application.
        QApplication::processEvents();
        return !progress.wasCanceled();
    };
    bool completed = false;
    ImportSummary done;
    try {
        done = runImport(database, file, confirm.options(), *confirm.summary(), advance, completed);
    } catch (const ImportError& error) {
        progress.close();
        ui.showMessage(parent, utf8ToQString(error.what()), utf8ToQString(kImportTitle));
        return false;
    }
    progress.close();
    if (!completed) {
        ui.showMessage(
            parent, QStringLiteral("Import został przerwany. Baza danych nie została zmieniona."),
            utf8ToQString(kImportTitle));
        return false;
    }
    ui.showMessage(parent, QStringLiteral("Zaimportowano.\n\n") + utf8ToQString(done.describe()),
                   utf8ToQString(kImportTitle));
    return true;
}

}  // namespace ordavo
