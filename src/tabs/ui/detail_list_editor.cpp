#include "tabs/ui/detail_list_editor.h"

#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "storage/file_error.h"
#include "tabs/detail_tables.h"
#include "tabs/ui/detail_list_model.h"
#include "ui_support/film_form.h"
#include "ui_support/qt_text.h"
#include "ui_support/ui_service.h"

namespace ordavo {

namespace {

QPushButton* makeButton(const QString& text, const QString& name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    // Enter in the main window must not press a list's button.
    button->setAutoDefault(false);
    return button;
}

QString capitalised(QString text) {
    if (!text.isEmpty()) {
        text[0] = text[0].toUpper();
    }
    return text;
}

}  // namespace

QString DetailListEditor::roleName(DetailList list) {
    switch (list) {
        case DetailList::Reviews:
            return QStringLiteral("reviews");
        case DetailList::Cast:
            return QStringLiteral("cast");
        case DetailList::Distributors:
            return QStringLiteral("distributors");
        case DetailList::Producers:
            return QStringLiteral("producers");
        case DetailList::Locations:
            return QStringLiteral("locations");
        case DetailList::LoansTo:
            return QStringLiteral("loansTo");
        case DetailList::LoansFrom:
            return QStringLiteral("loansFrom");
    }
    return {};
}

DetailListEditor::DetailListEditor(DetailList list, const RowEditorStyle& style,
                                   const PageContext& context, QWidget* parent)
    : QWidget(parent),
      m_table(context.details.table(list)),
      m_context(context),
      m_role(roleName(list)) {
    setObjectName(m_role + QStringLiteral("Editor"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    m_model = new DetailListModel(m_table, this);
    m_view = new QTableView(this);
    m_view->setObjectName(m_role + QStringLiteral("List"));
    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(style.single_selection ? QAbstractItemView::SingleSelection
                                                    : QAbstractItemView::ExtendedSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->setSortingEnabled(false);
    m_view->setShowGrid(true);
    m_view->setWordWrap(false);
    m_view->setTabKeyNavigation(false);
    m_view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 6);
    QHeaderView* header = m_view->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setHighlightSections(false);
    header->setSectionsMovable(false);
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::Interactive);
    // Room for the header and about three items.
    m_view->setMinimumHeight(header->sizeHint().height() +
                             3 * (m_view->fontMetrics().height() + 6));
    // A double-click anywhere in the list, on an item or not, is caught on its viewport.
    m_view->viewport()->installEventFilter(this);
    layout->addWidget(m_view, 1);

    layout->addWidget(buildButtons());
    layout->addWidget(buildRowEditor(style));
    connect(m_model, &DetailListModel::rowsOfAnotherFilm, this, [this] { resetEditor(); });
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { reselectEditedRow(); });
}

QWidget* DetailListEditor::buildButtons() {
    auto* row = new QWidget(this);
    auto* buttons = new QHBoxLayout(row);
    buttons->setContentsMargins(0, 0, 0, 0);
    m_newButton = makeButton(QStringLiteral("Nowy"), m_role + QStringLiteral("NewButton"), row);
    m_editButton = makeButton(QStringLiteral("Edytuj"), m_role + QStringLiteral("EditButton"), row);
    m_saveButton = makeButton(QStringLiteral("Zapisz"), m_role + QStringLiteral("SaveButton"), row);
    m_deleteButton =
        makeButton(QStringLiteral("Usuń"), m_role + QStringLiteral("DeleteButton"), row);
    // Three buttons right of the middle, "Usuń" apart from them at the right end.
    buttons->addStretch(3);
    buttons->addWidget(m_newButton);
    buttons->addWidget(m_editButton);
    buttons->addWidget(m_saveButton);
    buttons->addStretch(1);
    buttons->addWidget(m_deleteButton);
    connect(m_newButton, &QPushButton::clicked, this, [this] { newRow(); });
    connect(m_editButton, &QPushButton::clicked, this, [this] { editRow(); });
    connect(m_saveButton, &QPushButton::clicked, this, [this] { saveRows(); });
    connect(m_deleteButton, &QPushButton::clicked, this, [this] { deleteRow(); });
    return row;
}

QWidget* DetailListEditor::buildRowEditor(const RowEditorStyle& style) {
    auto* group = new QGroupBox(style.caption, this);
    group->setObjectName(m_role + QStringLiteral("RowEditor"));
    auto* grid = new QGridLayout(group);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(3);
    grid->setContentsMargins(6, 4, 6, 4);

    const DetailLayout& layout = m_table.layout();
    const int lines = std::max(style.lines, 1);
    m_boxes.assign(layout.fields.size(), nullptr);
    int pairs = 0;
    // Created in column order, so the tab order follows the list columns.
    for (std::size_t column = 0; column < layout.fields.size(); ++column) {
        const DetailField* field = columnField(layout, column);
        const auto index = static_cast<std::size_t>(field - layout.fields.data());
        auto* box = new QLineEdit(group);
        // Room for a short text even in the smallest window.
        box->setMinimumWidth(box->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 10);
        box->setObjectName(m_role + capitalised(FilmForm::camelCase(field->member)) +
                           QStringLiteral("Edit"));
        // Enter in a box confirms the row, as "Zatwierdź" does.
        connect(box, &QLineEdit::returnPressed, this, [this] {
            if (m_editing) {
                confirmRow();
            }
        });
        connect(box, &QLineEdit::textEdited, this, [this] { m_typed = true; });
        auto* label = new QLabel(utf8ToQString(field->editor_label), group);
        label->setBuddy(box);
        const int line = static_cast<int>(column) % lines;
        const int pair = static_cast<int>(column) / lines;
        grid->addWidget(label, line, pair * 2);
        grid->addWidget(box, line, pair * 2 + 1);
        grid->setColumnStretch(pair * 2 + 1, 1);
        pairs = std::max(pairs, pair + 1);
        m_boxes[index] = box;
    }

    m_confirmButton =
        makeButton(QStringLiteral("Zatwierdź"), m_role + QStringLiteral("ConfirmButton"), group);
    // Wider and taller than the row buttons, as in the dialog templates.
    const QSize normal = m_confirmButton->sizeHint();
    m_confirmButton->setMinimumSize(normal.width() * 3 / 2, normal.height() * 4 / 3);
    grid->addWidget(m_confirmButton, 0, pairs * 2, lines, 1, Qt::AlignVCenter);
    grid->setColumnMinimumWidth(pairs * 2, normal.width() * 3 / 2 + 12);
    connect(m_confirmButton, &QPushButton::clicked, this, [this] { confirmRow(); });
    return group;
}

void DetailListEditor::setUpList() {
    const DetailLayout& layout = m_table.layout();
    for (std::size_t column = 0; column < ordavo::columnCount(layout); ++column) {
        m_view->horizontalHeader()->resizeSection(static_cast<int>(column),
                                                  columnWidth(layout, column));
    }
    setEditing(false);
}

void DetailListEditor::setRowControlsEnabled(bool enabled) {
    m_rowControlsEnabled = enabled;
    m_editButton->setEnabled(enabled);
    m_newButton->setEnabled(enabled && !m_editing);
    m_deleteButton->setEnabled(enabled && !m_editing);
    m_saveButton->setEnabled(enabled && !m_editing);
    if (!enabled) {
        m_confirmButton->setEnabled(false);
    }
}

void DetailListEditor::resetEditor() {
    for (QLineEdit* box : m_boxes) {
        box->clear();
    }
    m_editedId.reset();
    setEditing(false);
}

void DetailListEditor::reselectEditedRow() {
    if (!m_editing || !m_editedId) {
        return;
    }
    for (std::size_t row = 0; row < m_table.listedRows(); ++row) {
        if (m_table.rowId(row) == *m_editedId) {
            m_view->selectRow(static_cast<int>(row));
            return;
        }
    }
}

void DetailListEditor::confirmIfOpen() {
    if (m_editing) {
        confirmRow();
    }
}

void DetailListEditor::setEditing(bool editing) {
    m_editing = editing;
    m_typed = false;
    m_view->setEnabled(!editing);
    // The buttons stay off while the window keeps the row controls off (no film, or nothing
    // can be stored).
    m_newButton->setEnabled(!editing && m_rowControlsEnabled);
    m_saveButton->setEnabled(!editing && m_rowControlsEnabled);
    m_deleteButton->setEnabled(!editing && m_rowControlsEnabled);
    for (QLineEdit* box : m_boxes) {
        box->setEnabled(editing);
    }
    m_confirmButton->setEnabled(editing);
}

std::optional<std::size_t> DetailListEditor::firstSelectedRow() const {
    std::optional<std::size_t> first;
    for (const QModelIndex& index : m_view->selectionModel()->selectedIndexes()) {
        const auto row = static_cast<std::size_t>(index.row());
        if (!first || row < *first) {
            first = row;
        }
    }
    return first;
}

void DetailListEditor::runCommand(const std::function<void()>& command) {
    ordavo::runCommand(m_context.ui, window(), command);
}

void DetailListEditor::newRow() {
    runCommand([this] {
        if (!m_table.newRow(m_context.film_id())) {
            m_context.write_refused();
        }
    });
}

void DetailListEditor::editRow() {
    if (!m_rowControlsEnabled) {
        return;  // no film, or nothing can be stored: nothing to edit
    }
    setEditing(true);
    const std::optional<std::size_t> row = firstSelectedRow();
    if (!row) {
        return;  // Editing with the boxes as they were
    }
    if (const auto texts = m_table.editRow(*row)) {
        for (std::size_t k = 0; k < m_boxes.size(); ++k) {
            m_boxes[k]->setText(toQString((*texts)[k]));
            m_boxes[k]->setCursorPosition(0);  // show a long text from its start
        }
        m_editedId = m_table.rowId(*row);
        m_typed = false;
    }
}

void DetailListEditor::confirmRow() {
    std::vector<std::u16string> texts;
    texts.reserve(m_boxes.size());
    for (const QLineEdit* box : m_boxes) {
        texts.push_back(toU16(box->text()));
    }
    // With no item selected (none was, or the list was rebuilt for another film) nothing is
    // stored.
    m_editedId.reset();
    m_table.confirmRow(texts, firstSelectedRow());
    setEditing(false);
}

void DetailListEditor::saveRows() {
    runCommand([this] {
        if (!m_table.saveRows()) {
            m_context.write_refused();
        }
    });
}

void DetailListEditor::deleteRow() {
    const std::optional<std::size_t> row = firstSelectedRow();
    if (!row) {
        return;
    }
    runCommand([&] { m_table.deleteRow(*row, m_context.film_id()); });
}

bool DetailListEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_view->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        if (m_table.rowCount() > 0 && m_rowControlsEnabled) {
            editRow();
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace ordavo
