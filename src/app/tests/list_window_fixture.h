#pragma once

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/ckinokrat_dlg.h"
#include "ui_support/film_form.h"
#include "ui_support/qt_text.h"
#include "ui_support/testing/fake_ui_service.h"
#include "storage/database.h"
#include "storage/text_field.h"
#include "tabs/tests/detail_test_support.h"
#include "tabs/ui/detail_list_editor.h"
#include "tabs/ui/detail_list_model.h"
#include "testing/temp_folder.h"

namespace ordavo::testing {

// The main window over a database in a temporary working folder, with named helpers to drive
// one detail list by its role ("cast", "loansTo", ...) through the real widgets. Every list
// model is checked by QAbstractItemModelTester for as long as the window lives.
class ListWindowTest : public ::testing::Test {
protected:
    std::filesystem::path db() const { return root.path() / "default_db"; }
    std::filesystem::path tablePath(const DetailLayout& layout) const {
        return dialog ? dialog->database().paths().file(layout.file)
                      : buildPaths().file(layout.file);
    }

    // A database holding films with ids 2, 3, ... (`count` of them) and empty detail tables.
    void makeDatabase(int count) {
        RecordingSink sink;
        Database database(buildPaths(), sink);
        database.createMissing(true);
        std::vector<FilmRecord> films;
        for (int k = 0; k < count; ++k) {
            films.push_back(makeFilm(*database.issueFilmId(), u"Film"));
        }
        appendFilms(db() / "KR_PDB.kr", films);
    }

    // A row whose field k holds `tag` + "." + k.
    static Bytes taggedRow(const DetailLayout& layout, std::int32_t id, std::int32_t film,
                           const std::u16string& tag) {
        Bytes row(layout.row_size, 0);
        std::memcpy(row.data(), &id, 4);
        std::memcpy(row.data() + 4, &film, 4);
        for (std::size_t k = 0; k < layout.fields.size(); ++k) {
            storeText(reinterpret_cast<char16_t*>(row.data() + layout.fields[k].offset),
                      layout.fields[k].width, taggedText(tag, k));
        }
        return row;
    }
    static std::u16string taggedText(const std::u16string& tag, std::size_t field) {
        return tag + u"." + static_cast<char16_t>(u'0' + field);
    }

    CKinokratDlg& open() {
        dialog = std::make_unique<CKinokratDlg>(ui);
        EXPECT_FALSE(dialog->startupFailed());
        dialog->show();
        for (auto* model : dialog->findChildren<DetailListModel*>()) {
            new QAbstractItemModelTester(
                model, QAbstractItemModelTester::FailureReportingMode::Fatal, model);
        }
        return *dialog;
    }

    template <typename T = QWidget>
    T* find(const QString& name) {
        T* widget = dialog->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }
    DetailListEditor* editor(const QString& role) {
        return find<DetailListEditor>(role + QStringLiteral("Editor"));
    }
    QTableView* view(const QString& role) {
        return find<QTableView>(role + QStringLiteral("List"));
    }
    QPushButton* button(const QString& role, const char* which) {
        return find<QPushButton>(role + QString::fromLatin1(which) + QStringLiteral("Button"));
    }
    QLineEdit* box(const QString& role, std::string_view member) {
        QString name = FilmForm::camelCase(member);
        name[0] = name[0].toUpper();
        return find<QLineEdit>(role + name + QStringLiteral("Edit"));
    }

    // Brings the list's page to the front, so that its items can be clicked.
    void showPage(const QString& role) {
        QWidget* page = editor(role);
        while (page && !qobject_cast<TabPage*>(page)) {
            page = page->parentWidget();
        }
        find<QTabWidget>(QStringLiteral("tabs"))->setCurrentWidget(page);
        QCoreApplication::processEvents();
    }
    void click(const QString& role, const char* which) {
        QTest::mouseClick(button(role, which), Qt::LeftButton);
    }
    QPoint itemPoint(const QString& role, int row) {
        QTableView* list = view(role);
        return list->visualRect(list->model()->index(row, 0)).center();
    }
    void clickItem(const QString& role, int row, Qt::KeyboardModifiers keys = Qt::NoModifier) {
        showPage(role);
        QTest::mouseClick(view(role)->viewport(), Qt::LeftButton, keys, itemPoint(role, row));
    }
    // A double-click as the user makes it: the first click selects what it hits.
    void doubleClickAt(const QString& role, QPoint point) {
        showPage(role);
        QTest::mouseClick(view(role)->viewport(), Qt::LeftButton, Qt::NoModifier, point);
        QTest::mouseDClick(view(role)->viewport(), Qt::LeftButton, Qt::NoModifier, point);
    }

    int itemCount(const QString& role) { return view(role)->model()->rowCount(); }
    QString cell(const QString& role, int row, std::size_t column) {
        return view(role)->model()->index(row, static_cast<int>(column)).data().toString();
    }
    std::vector<int> selectedRows(const QString& role) {
        std::vector<int> rows;
        for (const QModelIndex& index : view(role)->selectionModel()->selectedRows()) {
            rows.push_back(index.row());
        }
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    // Browsing: list and buttons usable, boxes and "Zatwierdź" not. Editing: the reverse, but
    // "Edytuj" stays usable.
    void expectEditing(const QString& role, bool editing) {
        SCOPED_TRACE(role.toStdString() + (editing ? " editing" : " browsing"));
        EXPECT_EQ(view(role)->isEnabled(), !editing);
        EXPECT_EQ(button(role, "New")->isEnabled(), !editing);
        EXPECT_TRUE(button(role, "Edit")->isEnabled());
        EXPECT_EQ(button(role, "Save")->isEnabled(), !editing);
        EXPECT_EQ(button(role, "Delete")->isEnabled(), !editing);
        EXPECT_EQ(button(role, "Confirm")->isEnabled(), editing);
        for (QLineEdit* edit : editor(role)->findChildren<QLineEdit*>()) {
            EXPECT_EQ(edit->isEnabled(), editing) << edit->objectName().toStdString();
        }
    }

    // The text of `field` in the file row with `ID` id.
    std::u16string storedText(const DetailLayout& layout, std::int32_t id,
                              const DetailField& field) {
        const Bytes bytes = readBytes(tablePath(layout));
        for (std::size_t offset = 0; offset + layout.row_size <= bytes.size();
             offset += layout.row_size) {
            if (detail_file::rowId(bytes.data() + offset) == id) {
                return std::u16string(readText(
                    reinterpret_cast<const char16_t*>(bytes.data() + offset + field.offset),
                    field.width));
            }
        }
        ADD_FAILURE() << "no row " << id;
        return {};
    }

    void deactivate() {
        QEvent event(QEvent::WindowDeactivate);
        QApplication::sendEvent(dialog.get(), &event);
    }
    void activate() {
        QEvent event(QEvent::WindowActivate);
        QApplication::sendEvent(dialog.get(), &event);
    }

    TempFolder root;
    WorkingFolderScope cwd{root.path()};
    FakeUiService ui;
    std::unique_ptr<CKinokratDlg> dialog;
};

}  // namespace ordavo::testing
