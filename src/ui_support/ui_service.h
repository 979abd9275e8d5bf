#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "storage/message_sink.h"

class QDialog;
class QWidget;

namespace ordavo {

class FileError;

// The answer to a question with "Tak", "Nie" and "Anuluj".
enum class Answer { Yes, No, Cancel };

// Every message box and file or folder dialog of the application goes through this service, so
// tests can answer them without a modal loop.
class UiService {
public:
    virtual ~UiService() = default;
    // A message box with only an OK button.
    virtual void showMessage(QWidget* parent, const QString& text, const QString& title) = 0;
    // A question with "Tak" (the default, taken by Enter), "Nie" and "Anuluj" (also Esc and the
    // close box).
    virtual Answer ask(QWidget* parent, const QString& text, const QString& title) = 0;
    // An open-file dialog over `filters` (first one selected); empty when cancelled.
    virtual QString chooseFile(QWidget* parent, const QString& caption,
                               const QStringList& filters) = 0;
    // A save-file dialog; the name is used as typed; empty when cancelled.
    virtual QString chooseSaveFile(QWidget* parent, const QString& caption,
                                   const QStringList& filters) = 0;
    // A folder dialog with `prompt` as its caption and a new-folder button; empty when cancelled.
    virtual QString chooseFolder(QWidget* parent, const QString& prompt) = 0;
    // A dialog of the program's own, modal; returns its result (QDialog::Accepted or Rejected).
    virtual int runDialog(QDialog& dialog);
};

// The real dialogs.
class QtUiService : public UiService {
public:
    // The folder the file and folder dialogs open in; empty: the working folder.
    void setStartFolder(const QString& folder) { m_startFolder = folder; }

    void showMessage(QWidget* parent, const QString& text, const QString& title) override;
    Answer ask(QWidget* parent, const QString& text, const QString& title) override;
    QString chooseFile(QWidget* parent, const QString& caption,
                       const QStringList& filters) override;
    QString chooseSaveFile(QWidget* parent, const QString& caption,
                           const QStringList& filters) override;
    QString chooseFolder(QWidget* parent, const QString& prompt) override;

private:
    QString m_startFolder;
};

// The core's messages shown through the service.
class UiMessageSink : public MessageSink {
public:
    UiMessageSink(UiService& ui, QWidget* parent) : m_ui(ui), m_parent(parent) {}
    void showMessage(std::string_view text, std::string_view title) override;

private:
    UiService& m_ui;
    QWidget* m_parent;
};

// The one Polish message for a failed file operation: the file and the system's reason.
QString fileErrorMessage(const FileError& error);
inline const QString kFileErrorTitle = QStringLiteral("Kinokrat - Błąd pliku");

// The message box of a failed file operation over `parent`, with `note` after the message.
void showFileError(UiService& ui, QWidget* parent, const FileError& error,
                   const QString& note = {});
// Runs one command of `parent`: a FileError it throws becomes that message box, and what the
// user typed stays where it is. False when the command failed so.
bool runCommand(UiService& ui, QWidget* parent, const std::function<void()>& command);

}  // namespace ordavo
