#include "app/ckinokrat_app.h"
#include "ui_support/ui_service.h"

int main(int argc, char** argv) {
    ordavo::CKinokratApp app(argc, argv);
    ordavo::QtUiService ui;
    return app.run(ui);
}
