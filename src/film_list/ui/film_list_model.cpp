#include "film_list/ui/film_list_model.h"

#include <algorithm>

#include "ui_support/qt_text.h"

namespace ordavo {

FilmListModel::FilmListModel(FilmOverview& overview, QObject* parent)
    : QAbstractTableModel(parent), m_overview(overview) {}

int FilmListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_order.shown().size());
}

int FilmListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(kOverviewColumnCount);
}

QVariant FilmListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid)) {
        return {};
    }
    const auto column = static_cast<OverviewColumn>(index.column());
    if (role == Qt::TextAlignmentRole && sortsNumerically(column)) {
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) {
        return {};
    }
    const std::size_t row = m_order.shown()[static_cast<std::size_t>(index.row())];
    if (row >= m_overview.rows().size()) {
        return {};  // the overview was scanned again; refresh() follows
    }
    return toQString(m_overview.cellText(row, column));
}

QVariant FilmListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
        section >= static_cast<int>(kOverviewColumnCount)) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    return utf8ToQString(overviewColumnLabel(static_cast<OverviewColumn>(section)));
}

void FilmListModel::sort(int column, Qt::SortOrder order) {
    emit layoutAboutToBeChanged();
    m_order.sortBy(column < 0 ? std::nullopt : std::optional(static_cast<OverviewColumn>(column)),
                   order == Qt::AscendingOrder);
    const QModelIndexList before = persistentIndexList();
    std::vector<std::int64_t> offsets;
    for (const QModelIndex& index : before) {
        offsets.push_back(offsetAt(index.row()));
    }
    m_order.update(m_overview);
    QModelIndexList after;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        const int row = rowOf(offsets[i]);
        after.push_back(row < 0 ? QModelIndex()
                                : this->index(row, before[static_cast<int>(i)].column()));
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
}

void FilmListModel::refresh() {
    beginResetModel();
    m_order.update(m_overview);
    endResetModel();
}

std::int64_t FilmListModel::offsetAt(int row) const {
    return m_overview.rows()[m_order.shown()[static_cast<std::size_t>(row)]].offset;
}

std::int32_t FilmListModel::idAt(int row) const {
    return m_overview.rows()[m_order.shown()[static_cast<std::size_t>(row)]].id;
}

int FilmListModel::rowOf(std::int64_t offset) const {
    const std::vector<std::size_t>& shown = m_order.shown();
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (m_overview.rows()[shown[i]].offset == offset) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace ordavo
