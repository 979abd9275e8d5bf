#include "app/ui_service.h"

#include <QFileDialog>
#include <QMessageBox>
#include <cstring>

#include "app/qt_text.h"
#include "storage/file_error.h"

namespace ordavo {

void QtUiService::showMessage(QWidget* parent, const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

QString QtUiService::chooseFile(QWidget* parent, const QString& caption,
                                const QStringList& filters) {
    QString selected = filters.value(0);
    return QFileDialog::getOpenFileName(parent, caption, QString(), filters.join(";;"), &selected);
}

QString QtUiService::chooseSaveFile(QWidget* parent, const QString& caption,
                                    const QStringList& filters) {
    QString selected = filters.value(0);
    return QFileDialog::getSaveFileName(parent, caption, QString(), filters.join(";;"), &selected,
                                        QFileDialog::DontConfirmOverwrite);
}

QString QtUiService::chooseFolder(QWidget* parent, const QString& prompt) {
    return QFileDialog::getExistingDirectory(parent, prompt, QString(), QFileDialog::ShowDirsOnly);
}

void UiMessageSink::showMessage(std::string_view text, std::string_view title) {
    m_ui.showMessage(m_parent, utf8ToQString(text), utf8ToQString(title));
}

namespace {

QString operationInPolish(const std::string& operation) {
    if (operation == "open")
        return QStringLiteral("otworzyć");
    if (operation == "read")
        return QStringLiteral("odczytać");
    if (operation == "write")
        return QStringLiteral("zapisać");
    if (operation == "truncate")
        return QStringLiteral("skrócić");
    if (operation == "sync")
        return QStringLiteral("zapisać na dysk");
    if (operation == "copy")
        return QStringLiteral("skopiować");
    if (operation == "rename")
        return QStringLiteral("zastąpić");
    if (operation == "delete")
        return QStringLiteral("usunąć");
    if (operation == "create folder")
        return QStringLiteral("utworzyć katalogu");
    if (operation == "stat")
        return QStringLiteral("sprawdzić");
    return QStringLiteral("użyć");
}

// glibc's Polish texts need a Polish locale; these are the ones a user meets in practice.
QString reasonInPolish(int error_number) {
    switch (error_number) {
        case ENOENT:
            return QStringLiteral("Nie ma takiego pliku ani katalogu");
        case EACCES:
        case EPERM:
            return QStringLiteral("Brak uprawnień");
        case ENOSPC:
            return QStringLiteral("Brak miejsca na dysku");
        case EFBIG:
            return QStringLiteral("Plik jest za duży");
        case EROFS:
            return QStringLiteral("System plików tylko do odczytu");
        case EISDIR:
            return QStringLiteral("To jest katalog");
        case ENOTDIR:
            return QStringLiteral("Ścieżka nie prowadzi do katalogu");
        case ENAMETOOLONG:
            return QStringLiteral("Za długa nazwa pliku");
        case EIO:
            return QStringLiteral("Błąd wejścia/wyjścia");
        case EDQUOT:
            return QStringLiteral("Przekroczony przydział dyskowy");
        default:
            return QString::fromLocal8Bit(std::strerror(error_number));
    }
}

}  // namespace

QString fileErrorMessage(const FileError& error) {
    const QString operation = operationInPolish(error.operation());
    const QString what = error.operation() == "create folder"
                             ? QStringLiteral("Nie można utworzyć katalogu:")
                             : QStringLiteral("Nie można %1 pliku:").arg(operation);
    return QStringLiteral("%1\n%2\n\n%3 (%4).")
        .arg(what, pathToQString(error.path()), reasonInPolish(error.errorNumber()),
             QString::number(error.errorNumber()));
}

}  // namespace ordavo
