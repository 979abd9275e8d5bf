#include "app/ckinokrat_app.h"

#include <clocale>

#include "app/ckinokrat_dlg.h"
#include "storage/posix_file.h"
#include "ui_support/polish_translation.h"

namespace ordavo {

CKinokratApp::CKinokratApp(int& argc, char** argv) : QApplication(argc, argv) {
    ignoreFileSizeSignal();
    setApplicationName(QStringLiteral("Ordavo"));
    setWindowIcon(QIcon(QStringLiteral(":/ordavo/app_icon.png")));
    std::setlocale(LC_ALL, "");
    installPolishTranslation(*this);
}

CKinokratApp::~CKinokratApp() = default;

int CKinokratApp::run(UiService& ui) {
    CKinokratDlg dialog(ui);
    if (dialog.startupFailed()) {
        return 1;
    }
    dialog.show();
    dialog.exec();
    return 0;
}

}  // namespace ordavo
