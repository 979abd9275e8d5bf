#pragma once

#include <QApplication>
#include <memory>

namespace ordavo {

class UiService;

// The application object: Polish texts for Qt's own dialogs, then the main window until it
// closes.
class CKinokratApp : public QApplication {
    Q_OBJECT
public:
    CKinokratApp(int& argc, char** argv);
    ~CKinokratApp() override;

    // Shows the main window and returns when it closes; returns at once after a start-up that
    // found a damaged database.
    int run(UiService& ui);
};

}  // namespace ordavo
