#include "ui_support/testing/fake_ui_service.h"

#include <QTest>

namespace ordavo::testing {

void typeText(QWidget* widget, const QString& text) {
    for (QChar ch : text) {
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

}  // namespace ordavo::testing
