#include "tabs/ui/tab_page.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <algorithm>

#include "tabs/ui/detail_list_editor.h"
#include "ui_support/film_form.h"

namespace ordavo {

TabPage::TabPage(const PageContext& context, QWidget* parent)
    : QWidget(parent), m_context(context), m_form(context.form), m_layout(new QVBoxLayout(this)) {
    m_layout->setContentsMargins(6, 6, 6, 6);
    m_layout->setSpacing(4);
}

QGridLayout* TabPage::fieldGrid(QWidget* parent, std::initializer_list<FieldPlace> places) {
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(3);
    int columns = 0;
    for (const FieldPlace& place : places) {
        QLineEdit* edit = m_form.addEdit(place.field, parent);
        auto* label =
            new QLabel(place.label.isEmpty() ? FilmForm::label(place.field) : place.label, parent);
        label->setBuddy(edit);
        grid->addWidget(label, place.row, place.column * 2);
        grid->addWidget(edit, place.row, place.column * 2 + 1);
        columns = std::max(columns, place.column + 1);
    }
    for (int c = 0; c < columns; ++c) {
        grid->setColumnStretch(c * 2 + 1, 1);
    }
    return grid;
}

QGroupBox* TabPage::fieldGroup(std::initializer_list<FieldPlace> places) {
    const QString title = FilmForm::group(places.begin()->field);
    Q_ASSERT(std::all_of(places.begin(), places.end(), [&](const FieldPlace& place) {
        return FilmForm::group(place.field) == title;
    }));
    auto* group = new QGroupBox(title, this);
    group->setLayout(fieldGrid(group, places));
    return group;
}

void TabPage::setUpLists() {
    for (DetailListEditor* list : m_lists) {
        list->setUpList();
    }
}

void TabPage::setRowControlsEnabled(bool enabled) {
    for (DetailListEditor* list : m_lists) {
        list->setRowControlsEnabled(enabled);
    }
}

bool TabPage::hasOpenRowChanges() const {
    return std::any_of(m_lists.begin(), m_lists.end(),
                       [](const DetailListEditor* list) { return list->hasOpenChanges(); });
}

void TabPage::confirmOpenRows() {
    for (DetailListEditor* list : m_lists) {
        list->confirmIfOpen();
    }
}

QWidget* TabPage::listArea(const QString& caption, const QString& name, int stretch) {
    auto* label = new QLabel(caption, this);
    label->setObjectName(name + QStringLiteral("Caption"));
    m_layout->addWidget(label);
    auto* area = new QWidget(this);
    area->setObjectName(name);
    auto* layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    area->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_layout->addWidget(area, stretch);
    return area;
}

DetailListEditor* TabPage::addList(DetailList list, const QString& caption,
                                   const QString& area_name, const RowEditorStyle& style,
                                   int stretch) {
    QWidget* area = listArea(caption, area_name, stretch);
    auto* editor = new DetailListEditor(list, style, m_context, area);
    area->layout()->addWidget(editor);
    m_lists.push_back(editor);
    return editor;
}

}  // namespace ordavo
