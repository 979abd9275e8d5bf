#pragma once

#include <QAbstractTableModel>

#include "film_list/film_overview.h"
#include "film_list/overview_order.h"

namespace ordavo {

// The film list's rows for a QTableView: the films an OverviewOrder shows, in its order.
// Sorting by a header goes through the order (Polish collation keys, numbers for "ID" and
// "Rok produkcji"); the order's other settings are changed here too, followed by refresh().
class FilmListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit FilmListModel(FilmOverview& overview, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    OverviewOrder& order() { return m_order; }
    // Takes up what changed in the overview and the order's settings.
    void refresh();

    // The film shown at a row: its table offset and id.
    std::int64_t offsetAt(int row) const;
    std::int32_t idAt(int row) const;
    // The row that shows the film at `offset`, or -1.
    int rowOf(std::int64_t offset) const;

private:
    FilmOverview& m_overview;
    OverviewOrder m_order;
};

}  // namespace ordavo
