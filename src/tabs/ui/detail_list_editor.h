#pragma once

#include <QString>
#include <QWidget>
#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "storage/page_handover.h"
#include "tabs/ui/tab_page.h"

class QLineEdit;
class QPushButton;
class QTableView;

namespace ordavo {

class DetailListModel;
class DetailTable;

// How a page sets out one list's row editor. Everything else (columns, titles, widths, the boxes
// and their labels) comes from the table's row layout.
struct RowEditorStyle {
    QString caption;  // the group box: "Edytuj Kolumny" or "Edytuj kolumny"
    // The boxes stand in this many lines, filled column by column in the order of the list
    // columns: with two lines the first column holds list columns 0 and 1, the next 2 and 3, ...
    int lines = 1;
    bool single_selection = false;
};

// One detail list with its row editor: the list of the shown film's rows, the buttons "Nowy",
// "Edytuj", "Zapisz" and "Usuń" under it, and the group of one box per field with "Zatwierdź".
//
// The editor is Browsing (list and buttons usable, boxes and "Zatwierdź" disabled) or Editing
// (list, "Nowy", "Zapisz" and "Usuń" disabled, boxes and "Zatwierdź" enabled, "Edytuj" as it
// was). Every command acts on the first selected item. Controls are named after the list, e.g.
// "castList", "castNewButton", "castConfirmButton", "castRoleEdit".
class DetailListEditor : public QWidget {
    Q_OBJECT
public:
    DetailListEditor(DetailList list, const RowEditorStyle& style, const PageContext& context,
                     QWidget* parent);

    // Once at start-up: the column widths of the layout, and Browsing.
    void setUpList();
    // Enables or disables the five buttons; "Zatwierdź" is only ever enabled by Edit.
    void setRowControlsEnabled(bool enabled);

    // The commands of the buttons and of a double-click on the list.
    void newRow();
    void editRow();
    void confirmRow();
    void saveRows();
    void deleteRow();

    bool isEditing() const { return m_editing; }
    // Whether the row editor is open with typing in it that no "Zatwierdź" took yet.
    bool hasOpenChanges() const { return m_editing && m_typed; }
    // "Zatwierdź" when the row editor is open.
    void confirmIfOpen();
    // The lowest selected item, if any.
    std::optional<std::size_t> firstSelectedRow() const;
    QTableView* view() const { return m_view; }
    DetailListModel* model() const { return m_model; }

    // The prefix of the controls' names, e.g. "loansTo".
    static QString roleName(DetailList list);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildButtons();
    QWidget* buildRowEditor(const RowEditorStyle& style);
    void setEditing(bool editing);
    // Back to Browsing with empty boxes: the rows being edited belong to no shown film now.
    void resetEditor();
    // After the list was rebuilt for the same film, the row being edited is selected again.
    void reselectEditedRow();
    // Runs a command; a failed file operation ends it with one message box.
    void runCommand(const std::function<void()>& command);

    DetailTable& m_table;
    PageContext m_context;
    QString m_role;
    DetailListModel* m_model = nullptr;
    QTableView* m_view = nullptr;
    QPushButton* m_newButton = nullptr;
    QPushButton* m_editButton = nullptr;
    QPushButton* m_saveButton = nullptr;
    QPushButton* m_deleteButton = nullptr;
    QPushButton* m_confirmButton = nullptr;
    std::vector<QLineEdit*> m_boxes;  // one per field, in the layout's file order
    bool m_editing = false;
    bool m_typed = false;
    bool m_rowControlsEnabled = true;
    std::optional<std::int32_t> m_editedId;  // the `ID` of the row in the editor
};

}  // namespace ordavo
