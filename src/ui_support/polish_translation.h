#pragma once

class QCoreApplication;

namespace ordavo {

// Loads Qt's Polish translation into `app`, so that Qt's own dialogs and buttons speak Polish.
void installPolishTranslation(QCoreApplication& app);

}  // namespace ordavo
