#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "ui_support/ui_service.h"

namespace ordavo::testing {

// Records every message and question and answers file and folder dialogs from queues (empty =
// cancel) and questions from a queue (empty = "Nie").
class FakeUiService : public UiService {
public:
    void showMessage(QWidget*, const QString& text, const QString& title) override {
        messages.emplace_back(text, title);
    }
    Answer ask(QWidget*, const QString& text, const QString& title) override {
        questions.emplace_back(text, title);
        if (onAsk) {
            onAsk();  // what the real box does meanwhile, e.g. take the activation
        }
        if (answers.empty()) {
            return Answer::No;  // as if nobody had asked: what was not stored is dropped
        }
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    QString chooseFile(QWidget*, const QString&, const QStringList& filters) override {
        lastFilters = filters;
        return next(files);
    }
    QString chooseSaveFile(QWidget*, const QString&, const QStringList& filters) override {
        lastFilters = filters;
        return next(saveFiles);
    }
    QString chooseFolder(QWidget*, const QString& prompt) override {
        lastPrompt = prompt;
        return next(folders);
    }

    // Shows the dialog without a modal loop and lets `onDialog` act on it; its result is the
    // dialog's (Rejected when nothing is set).
    int runDialog(QDialog& dialog) override {
        ++dialogs;
        if (!onDialog) {
            return 0;
        }
        dialog.show();
        return onDialog(dialog);
    }

    std::vector<std::pair<QString, QString>> messages;
    std::function<int(QDialog&)> onDialog;
    int dialogs = 0;
    std::vector<std::pair<QString, QString>> questions;
    std::deque<Answer> answers;
    std::function<void()> onAsk;
    std::deque<QString> files;
    std::deque<QString> saveFiles;
    std::deque<QString> folders;
    QStringList lastFilters;
    QString lastPrompt;

private:
    static QString next(std::deque<QString>& queue) {
        if (queue.empty())
            return {};
        QString answer = queue.front();
        queue.pop_front();
        return answer;
    }
};

// Types text into a widget one character at a time, Polish letters included.
void typeText(QWidget* widget, const QString& text);

}  // namespace ordavo::testing
