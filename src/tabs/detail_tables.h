#pragma once

#include <cstdint>

#include "storage/page_handover.h"
#include "tabs/detail_engine.h"

namespace ordavo {

class Database;

// The seven detail tables of the tab pages, and the hand-over that lets the film table load and
// save them after it reads or writes a film row. The film table calls in its own orders
// (distributors before producers when loading, producers first when saving; loans to others
// before loans from others); each call goes to its one table.
class DetailTables final : public PageHandover {
public:
    explicit DetailTables(Database& database);

    DetailTable& table(DetailList list);
    const DetailTable& table(DetailList list) const;

    DetailEngine<Ocena>& reviews() { return m_reviews; }
    DetailEngine<Obsada>& cast() { return m_cast; }
    DetailEngine<Producent>& producers() { return m_producers; }
    DetailEngine<Dystrybutor>& distributors() { return m_distributors; }
    DetailEngine<Lok_zdjeciowe>& locations() { return m_locations; }
    DetailEngine<Wypozycz_Innym>& loansTo() { return m_loansTo; }
    DetailEngine<Wypozycz_Od_Innych>& loansFrom() { return m_loansFrom; }

    // Empties the list on screen (its observer is told); the rows in memory stay.
    void clearList(DetailList list) override;
    void forgetRows(DetailList list) override;
    void loadRows(DetailList list, std::int32_t film_id) override;
    // Writes the list's rows as they are; `film_id` is not needed, the rows carry their film.
    void saveRows(DetailList list, std::int32_t film_id, WriteBatch& batch) override;
    std::int32_t largestFilmId() override;

    // Every list forgets its rows (see DetailTable::forgetRows).
    void forgetAllRows();
    // Whether any list holds a change its file does not (see DetailTable::hasUnsavedChanges).
    bool hasUnsavedChanges() const;

private:
    DetailEngine<Ocena> m_reviews;
    DetailEngine<Obsada> m_cast;
    DetailEngine<Producent> m_producers;
    DetailEngine<Dystrybutor> m_distributors;
    DetailEngine<Lok_zdjeciowe> m_locations;
    DetailEngine<Wypozycz_Innym> m_loansTo;
    DetailEngine<Wypozycz_Od_Innych> m_loansFrom;
};

}  // namespace ordavo
