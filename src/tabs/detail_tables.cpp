#include "tabs/detail_tables.h"

#include <algorithm>

namespace ordavo {

DetailTables::DetailTables(Database& database)
    : m_reviews(database),
      m_cast(database),
      m_producers(database),
      m_distributors(database),
      m_locations(database),
      m_loansTo(database),
      m_loansFrom(database) {}

DetailTable& DetailTables::table(DetailList list) {
    return const_cast<DetailTable&>(static_cast<const DetailTables&>(*this).table(list));
}

const DetailTable& DetailTables::table(DetailList list) const {
    switch (list) {
        case DetailList::Reviews:
            return m_reviews;
        case DetailList::Cast:
            return m_cast;
        case DetailList::Distributors:
            return m_distributors;
        case DetailList::Producers:
            return m_producers;
        case DetailList::Locations:
            return m_locations;
        case DetailList::LoansTo:
            return m_loansTo;
        case DetailList::LoansFrom:
            return m_loansFrom;
    }
    return m_reviews;
}

void DetailTables::clearList(DetailList list) {
    table(list).clearList();
}

void DetailTables::forgetRows(DetailList list) {
    table(list).forgetRows();
}

void DetailTables::forgetAllRows() {
    for (DetailList list : kLoadOrder) {
        forgetRows(list);
    }
}

bool DetailTables::hasUnsavedChanges() const {
    for (DetailList list : kLoadOrder) {
        if (table(list).hasUnsavedChanges()) {
            return true;
        }
    }
    return false;
}

std::int32_t DetailTables::largestFilmId() {
    std::int32_t largest = 0;
    for (DetailList list : kLoadOrder) {
        largest = std::max(largest, table(list).largestFilmId());
    }
    return largest;
}

void DetailTables::loadRows(DetailList list, std::int32_t film_id) {
    table(list).loadRows(film_id);
}

void DetailTables::saveRows(DetailList list, std::int32_t /*film_id*/, WriteBatch& batch) {
    table(list).saveRowsInto(batch);
}

}  // namespace ordavo
