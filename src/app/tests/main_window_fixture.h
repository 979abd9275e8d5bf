#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cstring>
#include <memory>

#include "app/ckinokrat_dlg.h"
#include "ui_support/qt_text.h"
#include "ui_support/testing/fake_ui_service.h"
#include "storage/text_field.h"
#include "testing/temp_folder.h"

namespace ordavo {

using testing::FakeUiService;

// The main window on a database in "default_db" of a fresh working folder, with its dialogs
// answered by a fake.
class MainWindowTest : public ::testing::Test {
protected:
    std::filesystem::path db() const { return root.path() / "default_db"; }

    // A database in default_db holding films with the given titles (ids 2, 3, ...).
    void makeDatabase(std::vector<std::u16string> titles) {
        RecordingSink sink_;
        Database database(buildPaths(), sink_);
        database.createMissing(true);
        std::vector<FilmRecord> films;
        for (const auto& title : titles) {
            films.push_back(testing::makeFilm(*database.issueFilmId(), title));
        }
        testing::appendFilms(db() / "KR_PDB.kr", films);
    }
    CKinokratDlg& open(bool show = true) {
        dialog = std::make_unique<CKinokratDlg>(ui);
        if (show && !dialog->startupFailed()) {
            dialog->show();
        }
        return *dialog;
    }
    template <typename T = QWidget>
    T* find(const char* name) {
        T* widget = dialog->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void click(const char* name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
    QString text(const char* name) { return find<QLineEdit>(name)->text(); }
    std::pair<QString, QString> counter() { return {text("positionEdit"), text("countEdit")}; }
    void deactivate() {
        QEvent event(QEvent::WindowDeactivate);
        QApplication::sendEvent(dialog.get(), &event);
    }
    void activate() {
        QEvent event(QEvent::WindowActivate);
        QApplication::sendEvent(dialog.get(), &event);
    }
    std::u16string storedTitle(std::size_t row) {
        const auto bytes = testing::readBytes(db() / "KR_PDB.kr");
        FilmRecord film;
        std::memcpy(&film, bytes.data() + row * kFilmRowSize, sizeof film);
        return std::u16string(readText(film.title));
    }

    using RecordingSink = testing::RecordingSink;
    testing::TempFolder root;
    testing::WorkingFolderScope cwd{root.path()};
    FakeUiService ui;
    std::unique_ptr<CKinokratDlg> dialog;
};

using Counter = std::pair<QString, QString>;

}  // namespace ordavo
