#pragma once

#include "tabs/ui/tab_page.h"

namespace ordavo {

// "Ocena": reviews and the user's own ratings.
class TAB_Oocena : public TabPage {
    Q_OBJECT
public:
    TAB_Oocena(const PageContext& context, QWidget* parent);
};

// "Obsada": the cast list and the four crew members.
class TAB_Obsada : public TabPage {
    Q_OBJECT
public:
    TAB_Obsada(const PageContext& context, QWidget* parent);
};

// "Produkcja": producers and distributors.
class TAB_Produkcja : public TabPage {
    Q_OBJECT
public:
    TAB_Produkcja(const PageContext& context, QWidget* parent);
};

// "Dane o egzemplarzu": the owner's copy.
class TAB_DOE : public TabPage {
    Q_OBJECT
public:
    TAB_DOE(const PageContext& context, QWidget* parent);
    // Offers the five medium types in the medium combo.
    void fillMediumTypes();
};

// "Info o filmie": technical information and filming locations.
class TAB_IOF : public TabPage {
    Q_OBJECT
public:
    TAB_IOF(const PageContext& context, QWidget* parent);
};

// "Bibliotekarz": loans to and from other people.
class TAB_BIBLIO : public TabPage {
    Q_OBJECT
public:
    TAB_BIBLIO(const PageContext& context, QWidget* parent);
};

}  // namespace ordavo
