#include "app/ckinokrat_app.h"
#include "app/ui_service.h"

int main(int argc, char** argv) {
    ordavo::CKinokratApp app(argc, argv);
    ordavo::QtUiService ui;
    return app.run(ui);
}
