#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <cstdlib>

#include "app/ckinokrat_dlg.h"
#include "ui_support/testing/fake_ui_service.h"

namespace ordavo::testing {
namespace {

// Saves a picture of the window with each of its six pages in front, as "page-N.png" in
// $ORDAVO_SCREENSHOT_DIR, then again as "page-N-smallest.png" in the smallest window, over the
// database of the working folder. Lists without rows get two new rows first, so that every list
// shows items, and each page's last list is being edited. Skipped unless the folder is given.
TEST(PageScreenshots, GrabsEveryPage) {
    const char* folder = std::getenv("ORDAVO_SCREENSHOT_DIR");
    if (folder == nullptr || *folder == '\0') {
        GTEST_SKIP() << "ORDAVO_SCREENSHOT_DIR not set";
    }
    FakeUiService ui;
    CKinokratDlg dialog(ui);
    ASSERT_FALSE(dialog.startupFailed());
    dialog.show();
    auto* tabs = dialog.findChild<QTabWidget*>("tabs");
    ASSERT_NE(tabs, nullptr);
    for (int page = 0; page < tabs->count(); ++page) {
        tabs->setCurrentIndex(page);
        for (QTableView* list : tabs->widget(page)->findChildren<QTableView*>()) {
            const QString role = list->objectName().chopped(4);
            if (list->model()->rowCount() == 0) {
                auto* add = dialog.findChild<QPushButton*>(role + "NewButton");
                QTest::mouseClick(add, Qt::LeftButton);
                QTest::mouseClick(add, Qt::LeftButton);
            }
            list->selectRow(0);
        }
        // The page's last list is shown in Editing.
        const QList<QTableView*> lists = tabs->widget(page)->findChildren<QTableView*>();
        if (!lists.isEmpty()) {
            QTest::mouseClick(dialog.findChild<QPushButton*>(lists.back()->objectName().chopped(4) +
                                                             "EditButton"),
                              Qt::LeftButton);
        }
        QTest::qWait(100);
        const QString path =
            QString::fromLocal8Bit(folder) + "/page-" + QString::number(page + 1) + ".png";
        EXPECT_TRUE(dialog.grab().save(path)) << path.toStdString();
    }
    // The same pages in the smallest window the layouts allow.
    dialog.resize(dialog.minimumSizeHint());
    for (int page = 0; page < tabs->count(); ++page) {
        tabs->setCurrentIndex(page);
        QTest::qWait(100);
        const QString path =
            QString::fromLocal8Bit(folder) + "/page-" + QString::number(page + 1) + "-smallest.png";
        EXPECT_TRUE(dialog.grab().save(path)) << path.toStdString();
    }
    EXPECT_TRUE(ui.messages.empty());
}

}  // namespace
}  // namespace ordavo::testing
