#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "storage/film_record.h"
#include "storage/page_handover.h"

class QGridLayout;
class QGroupBox;
class QVBoxLayout;

namespace ordavo {

class DetailListEditor;
class DetailTables;
class FilmForm;
struct RowEditorStyle;
class UiService;

// What every page gets from the main window: the film-record boxes it creates, the detail tables
// of the shown film, the `id` of the shown film (the IDPDB of new rows), and the dialogs service.
struct PageContext {
    FilmForm& form;
    DetailTables& details;
    std::function<std::int32_t()> film_id;
    UiService& ui;
    // Told when a list's write was refused without a word (the database cannot be written now).
    std::function<void()> write_refused = [] {};
};

// Where a film-record box stands in a page's grid: its row, and the pair of grid columns
// (label, box) it takes.
struct FieldPlace {
    FilmFieldId field;
    int row;
    int column;          // 0 for the first label/box pair, 1 for the second, ...
    QString label = {};  // the field table's label when empty
};

// What every tab page has: a vertical layout of sections, and the page operations the main
// dialog calls on the pages that hold detail lists. Loading, saving and clearing the lists go
// through the detail tables themselves, whose lists follow them on screen.
class TabPage : public QWidget {
    Q_OBJECT
public:
    TabPage(const PageContext& context, QWidget* parent);

    // Once at start-up: every list gets its columns and its row editor starts Browsing.
    virtual void setUpLists();
    // The buttons of every list: all five disabled, or all but "Zatwierdź" enabled.
    virtual void setRowControlsEnabled(bool enabled);
    // Whether a row editor of the page is open with typing that no "Zatwierdź" took yet.
    bool hasOpenRowChanges() const;
    // "Zatwierdź" on every open row editor of the page.
    void confirmOpenRows();

protected:
    // A grid of labelled film-record boxes, each box stretching with the page.
    QGridLayout* fieldGrid(QWidget* parent, std::initializer_list<FieldPlace> places);
    // The same grid inside a group box captioned with the fields' group, as the field table
    // names it (every place is of that group).
    QGroupBox* fieldGroup(std::initializer_list<FieldPlace> places);
    // A caption and an area under it that the page's detail list fills; `stretch` shares the
    // page's spare height between its lists.
    QWidget* listArea(const QString& caption, const QString& name, int stretch = 1);
    // A detail list with its row editor in a new list area.
    DetailListEditor* addList(DetailList list, const QString& caption, const QString& area_name,
                              const RowEditorStyle& style, int stretch = 1);

    PageContext m_context;
    FilmForm& m_form;
    QVBoxLayout* m_layout;
    std::vector<DetailListEditor*> m_lists;  // top to bottom
};

}  // namespace ordavo
