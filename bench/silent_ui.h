#pragma once

#include "ui_support/ui_service.h"

namespace ordavo::bench {

// Dialogs that answer at once, as if cancelled, and message boxes nobody sees.
class SilentUi : public UiService {
public:
    void showMessage(QWidget*, const QString&, const QString&) override {}
    Answer ask(QWidget*, const QString&, const QString&) override { return Answer::No; }
    QString chooseFile(QWidget*, const QString&, const QStringList&) override { return {}; }
    QString chooseSaveFile(QWidget*, const QString&, const QStringList&) override { return {}; }
    QString chooseFolder(QWidget*, const QString&) override { return {}; }
};

}  // namespace ordavo::bench
