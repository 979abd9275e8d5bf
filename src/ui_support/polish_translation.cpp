#include "ui_support/polish_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace ordavo {

void installPolishTranslation(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(QLocale::Polish, QLocale::Poland), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    }
}

}  // namespace ordavo
