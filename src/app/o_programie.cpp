#include "app/o_programie.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ckinokrat_dlg.h"
#include "ui_support/qt_text.h"

namespace ordavo {

O_programie::O_programie(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("aboutBox"));
    setWindowTitle(QStringLiteral("Kinokrat - O Programie"));
    auto* layout = new QHBoxLayout(this);
    auto* icon = new QLabel(this);
    icon->setPixmap(QPixmap(QStringLiteral(":/ordavo/app_icon.png")));
    icon->setAlignment(Qt::AlignTop);
    layout->addWidget(icon);

    auto* text = new QVBoxLayout;
    auto* name = new QLabel(QStringLiteral("Ordavo - dawniej Kinokrat"), this);
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    text->addWidget(name);
    text->addWidget(new QLabel(QStringLiteral("Autor: zespół projektu Ordavo"), this));
    text->addWidget(new QLabel(QStringLiteral("Strona WWW: strona projektu Ordavo"), this));
    text->addWidget(
        new QLabel(QStringLiteral("© 2026 projekt Ordavo. Wszelkie prawa zastrzeżone."), this));
    // The folder of the open database: where a start from the menu or a terminal keeps it.
    if (auto* window = qobject_cast<CKinokratDlg*>(parent)) {
        const QString folder = pathToQString(window->database().paths().database_folder);
        auto* label = new QLabel(
            QStringLiteral("Folder bazy danych: %1").arg(QDir::toNativeSeparators(folder)), this);
        label->setObjectName(QStringLiteral("databaseFolderLabel"));
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        text->addWidget(label);
    }
    text->addStretch(1);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    text->addWidget(buttons);
    layout->addLayout(text);
}

}  // namespace ordavo
