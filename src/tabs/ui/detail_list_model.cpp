#include "tabs/ui/detail_list_model.h"

#include "ui_support/qt_text.h"

namespace ordavo {

DetailListModel::DetailListModel(DetailTable& table, QObject* parent)
    : QAbstractTableModel(parent), m_table(table) {
    m_table.setObserver(this);
}

DetailListModel::~DetailListModel() {
    m_table.setObserver(nullptr);
}

int DetailListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_table.listedRows());
}

int DetailListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(ordavo::columnCount(m_table.layout()));
}

QVariant DetailListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) {
        return {};
    }
    switch (role) {
        case Qt::DisplayRole:
            return toQString(m_table.cellText(static_cast<std::size_t>(index.row()),
                                              static_cast<std::size_t>(index.column())));
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        default:
            return {};
    }
}

QVariant DetailListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    const auto column = static_cast<std::size_t>(section);
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:  // the whole title also where the column is too narrow for it
            return utf8ToQString(columnTitle(m_table.layout(), column));
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        default:
            return {};
    }
}

Qt::ItemFlags DetailListModel::flags(const QModelIndex& index) const {
    // Items are only shown and selected; they are changed through the row editor.
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren
                           : Qt::NoItemFlags;
}

void DetailListModel::listAboutToChange() {
    beginResetModel();
}

void DetailListModel::listChanged() {
    endResetModel();
}

}  // namespace ordavo
