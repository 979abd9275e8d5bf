#pragma once

#include <QDialog>

namespace ordavo {

// The about box: "Kinokrat - O Programie".
class O_programie : public QDialog {
    Q_OBJECT
public:
    explicit O_programie(QWidget* parent = nullptr);
};

}  // namespace ordavo
