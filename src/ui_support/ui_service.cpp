#include "ui_support/ui_service.h"

#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "storage/file_error.h"
#include "ui_support/qt_text.h"

namespace ordavo {

int UiService::runDialog(QDialog& dialog) {
    return dialog.exec();
}

void QtUiService::showMessage(QWidget* parent, const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
}

Answer QtUiService::ask(QWidget* parent, const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    QPushButton* yes = box.addButton(QStringLiteral("&Tak"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&Nie"), QMessageBox::NoRole);
    QPushButton* cancel = box.addButton(QStringLiteral("&Anuluj"), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == yes) {
        return Answer::Yes;
    }
    return box.clickedButton() == no ? Answer::No : Answer::Cancel;
}

QString QtUiService::chooseFile(QWidget* parent, const QString& caption,
                                const QStringList& filters) {
    QString selected = filters.value(0);
    return QFileDialog::getOpenFileName(parent, caption, m_startFolder, filters.join(";;"),
                                        &selected);
}

QString QtUiService::chooseSaveFile(QWidget* parent, const QString& caption,
                                    const QStringList& filters) {
    QString selected = filters.value(0);
    return QFileDialog::getSaveFileName(parent, caption, m_startFolder, filters.join(";;"),
                                        &selected, QFileDialog::DontConfirmOverwrite);
}

QString QtUiService::chooseFolder(QWidget* parent, const QString& prompt) {
    // The prompt is a sentence: as a window title it would be cut off, so it stands whole above
    // the folder chooser, which lives inside a dialog of our own.
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("folderDialog"));
    dialog.setWindowTitle(QStringLiteral("Otwórz / Utwórz bazę danych"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(prompt, &dialog);
    label->setObjectName(QStringLiteral("folderPrompt"));
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* chooser = new QFileDialog(&dialog);
    chooser->setWindowFlags(Qt::Widget);
    chooser->setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::ShowDirsOnly);
    chooser->setFileMode(QFileDialog::Directory);
    if (!m_startFolder.isEmpty()) {
        chooser->setDirectory(m_startFolder);
    }
    layout->addWidget(chooser, 1);
    QObject::connect(chooser, &QFileDialog::finished, &dialog, &QDialog::done);
    dialog.resize(dialog.sizeHint().expandedTo(QSize(640, 420)));
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return chooser->selectedFiles().value(0);
}

void UiMessageSink::showMessage(std::string_view text, std::string_view title) {
    m_ui.showMessage(m_parent, utf8ToQString(text), utf8ToQString(title));
}

QString fileErrorMessage(const FileError& error) {
    return utf8ToQString(error.polishMessage());
}

void showFileError(UiService& ui, QWidget* parent, const FileError& error, const QString& note) {
    ui.showMessage(parent,
                   note.isEmpty() ? fileErrorMessage(error) : fileErrorMessage(error) + note,
                   kFileErrorTitle);
}

bool runCommand(UiService& ui, QWidget* parent, const std::function<void()>& command) {
    try {
        command();
        return true;
    } catch (const FileError& error) {
        showFileError(ui, parent, error);
        return false;
    }
}

}  // namespace ordavo
