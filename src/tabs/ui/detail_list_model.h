#pragma once

#include <QAbstractTableModel>

#include "tabs/detail_table.h"

namespace ordavo {

// The items of one detail list: a thin view of the table's rows in memory. Cells are read from
// the table when the view asks for them; nothing is copied. The table tells the model when its
// list is emptied or rebuilt, and the model resets itself around the change, which also clears
// the view's selection.
class DetailListModel final : public QAbstractTableModel, private DetailTableObserver {
    Q_OBJECT
public:
    // Becomes the table's observer until it is destroyed; the table must outlive the model.
    DetailListModel(DetailTable& table, QObject* parent);
    ~DetailListModel() override;

    DetailTable& table() const { return m_table; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // The rows now belong to another film, or to none.
    void rowsOfAnotherFilm();

private:
    void listAboutToChange() override;
    void listChanged() override;
    void filmChanged() override { emit rowsOfAnotherFilm(); }

    DetailTable& m_table;
};

}  // namespace ordavo
