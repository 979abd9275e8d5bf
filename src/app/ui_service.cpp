#include "app/ui_service.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include "app/qt_text.h"
#include "storage/file_error.h"

namespace ordavo {

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

QString fileErrorMessage(const FileError& error) {
    return utf8ToQString(error.polishMessage());
}

}  // namespace ordavo
