#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string_view>

class QGridLayout;
class QGroupBox;
class QVBoxLayout;

namespace ordavo {

class DetailTables;
class FilmForm;
class UiService;

// What every page gets from the main window: the film-record boxes it creates, the detail tables
// of the shown film, the `id` of the shown film (the IDPDB of new rows), and the dialogs service.
struct PageContext {
    FilmForm& form;
    DetailTables& details;
    std::function<std::int32_t()> film_id;
    UiService& ui;
};

// Where a film-record box stands in a page's grid: its row, and the pair of grid columns
// (label, box) it takes.
struct FieldPlace {
    std::string_view member;
    int row;
    int column;          // 0 for the first label/box pair, 1 for the second, ...
    QString label = {};  // the field table's label when empty
};

// What every tab page has: a vertical layout of sections, and the page operations the main
// dialog calls on the pages that hold detail lists.
class TabPage : public QWidget {
    Q_OBJECT
public:
    TabPage(const PageContext& context, QWidget* parent);

    // Lists and their row editors; pages without lists leave these empty.
    virtual void setUpLists() {}
    virtual void setRowControlsEnabled(bool) {}

protected:
    // A grid of labelled film-record boxes, each box stretching with the page.
    QGridLayout* fieldGrid(QWidget* parent, std::initializer_list<FieldPlace> places);
    // The same grid inside a group box captioned `title`.
    QGroupBox* fieldGroup(const QString& title, std::initializer_list<FieldPlace> places);
    // A caption and an area under it that the page's detail list fills.
    QWidget* listArea(const QString& caption, const QString& name);

    PageContext m_context;
    FilmForm& m_form;
    QVBoxLayout* m_layout;
};

}  // namespace ordavo
