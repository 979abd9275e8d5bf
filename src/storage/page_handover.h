#pragma once

#include <array>
#include <cstdint>

namespace ordavo {

class WriteBatch;

// The seven detail lists of the tab pages, one per detail table.
enum class DetailList {
    Reviews,       // rating page, "KR_OC.kr"
    Cast,          // cast page, "KR_OB.kr"
    Distributors,  // production page, lower list, "KR_PRD.kr"
    Producers,     // production page, upper list, "KR_PRB.kr"
    Locations,     // film info page, "KR_LZ.kr"
    LoansTo,       // loans page, upper list, "KR_WI.kr"
    LoansFrom,     // loans page, lower list, "KR_WO.kr"
};

inline constexpr std::size_t kDetailListCount = 7;

// After a film row is read: rating, cast, production (distributors before producers), film info,
// loans (to others before from others).
inline constexpr std::array<DetailList, kDetailListCount> kLoadOrder = {
    DetailList::Reviews,   DetailList::Cast,    DetailList::Distributors, DetailList::Producers,
    DetailList::Locations, DetailList::LoansTo, DetailList::LoansFrom,
};

// After a film row is written: as loading, but producers before distributors.
inline constexpr std::array<DetailList, kDetailListCount> kSaveOrder = {
    DetailList::Reviews,   DetailList::Cast,    DetailList::Producers, DetailList::Distributors,
    DetailList::Locations, DetailList::LoansTo, DetailList::LoansFrom,
};

// How the film table hands over to the detail lists after it reads or writes a film row. The
// film table calls in the orders above; the implementer routes each call to its list.
class PageHandover {
public:
    virtual ~PageHandover() = default;
    // Empties the list on screen; the list's rows in memory stay.
    virtual void clearList(DetailList list) = 0;
    // Empties the list on screen and its rows in memory: they belong to no film now (a film read
    // was refused). Until the next load, the list writes nothing.
    virtual void forgetRows(DetailList list) = 0;
    // Replaces the list's rows with those of film `film_id`.
    virtual void loadRows(DetailList list, std::int32_t film_id) = 0;
    // Adds the writes of the list's rows (of film `film_id`) into its table file to `batch`,
    // which the film table commits with the film row.
    virtual void saveRows(DetailList list, std::int32_t film_id, WriteBatch& batch) = 0;
    // The largest film id that any detail row carries as its IDPDB (0 when none is positive), so
    // that a new film never takes the id of rows left behind by a deleted film.
    virtual std::int32_t largestFilmId() = 0;
};

}  // namespace ordavo
