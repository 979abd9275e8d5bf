// Entry point of the GUI tests: Qt's offscreen platform unless a display is asked for.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "ui_support/polish_translation.h"

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr || *std::getenv("QT_QPA_PLATFORM") == '\0') {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    ordavo::installPolishTranslation(app);
    return RUN_ALL_TESTS();
}
