#include "film_list/overview_order.h"

#include <algorithm>
#include <charconv>

#include "film_list/polish_text.h"

namespace ordavo {

namespace {

// A key that orders 32-bit signed numbers bytewise.
std::string numberKey(std::int64_t value) {
    const auto biased = static_cast<std::uint64_t>(value) ^ (std::uint64_t{1} << 63);
    std::string key(8, '\0');
    for (int i = 0; i < 8; ++i) {
        key[static_cast<std::size_t>(i)] = static_cast<char>((biased >> (56 - 8 * i)) & 0xFF);
    }
    return key;
}

// "Rok produkcji" is text: a number first sorts by its value ("999" before "2001"), empty texts
// come first, texts that are no number after every number, in Polish order.
std::string yearKey(std::u16string_view text) {
    if (text.empty()) {
        return {};
    }
    std::string digits;
    for (const char16_t unit : text) {
        if (unit < u'0' || unit > u'9' || digits.size() >= 18) {
            break;
        }
        digits += static_cast<char>(unit);
    }
    if (digits.empty()) {
        return '\x02' + polishSortKey(text);
    }
    std::int64_t value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return '\x01' + numberKey(value) + polishSortKey(text.substr(digits.size()));
}

std::vector<std::u16string> foldedWords(std::u16string_view text) {
    std::vector<std::u16string> words;
    std::u16string word;
    for (const char16_t unit : text) {
        if (unit == u' ' || unit == u'\t' || unit == u'\n' || unit == u'\r' || unit == u'\u00A0') {
            if (!word.empty()) {
                words.push_back(foldForMatch(word));
                word.clear();
            }
        } else {
            word += unit;
        }
    }
    if (!word.empty()) {
        words.push_back(foldForMatch(word));
    }
    return words;
}

}  // namespace

void OverviewOrder::sortBy(std::optional<OverviewColumn> column, bool ascending) {
    if (column != m_column) {
        m_keys.clear();
    }
    m_column = column;
    m_ascending = ascending;
    m_settingsChanged = true;
}

void OverviewOrder::setQuery(std::u16string_view text) {
    m_words = foldedWords(text);
    m_settingsChanged = true;
}

void OverviewOrder::setOnlyLent(bool only_lent) {
    m_onlyLent = only_lent;
    m_settingsChanged = true;
}

void OverviewOrder::restrictTo(std::optional<std::vector<std::int64_t>> offsets) {
    if (offsets) {
        std::sort(offsets->begin(), offsets->end());
    }
    if (offsets == m_offsets) {
        return;  // told again at every film shown: nothing to arrange anew
    }
    m_offsets = std::move(offsets);
    m_settingsChanged = true;
}

std::string OverviewOrder::keyOf(const FilmOverview& overview, std::size_t row) const {
    const OverviewRow& shown = overview.rows()[row];
    switch (*m_column) {
        case OverviewColumn::Id:
            return numberKey(shown.id);
        case OverviewColumn::Year:
            return yearKey(shown.field(static_cast<std::size_t>(OverviewColumn::Year) - 1));
        case OverviewColumn::Lent:
            return polishSortKey(overview.lentText(shown.id));
        default:
            return polishSortKey(shown.field(static_cast<std::size_t>(*m_column) - 1));
    }
}

void OverviewOrder::refreshRow(const FilmOverview& overview, std::size_t row) {
    if (m_column && m_keys.size() == overview.rows().size()) {
        m_keys[row] = keyOf(overview, row);
    }
}

bool OverviewOrder::passes(const FilmOverview& overview, std::size_t row) const {
    const OverviewRow& shown = overview.rows()[row];
    if (m_offsets && !std::binary_search(m_offsets->begin(), m_offsets->end(), shown.offset)) {
        return false;
    }
    const std::u16string_view lent = overview.lentText(shown.id);
    if (m_onlyLent && lent.empty()) {
        return false;
    }
    if (m_words.empty()) {
        return true;
    }
    const std::u16string folded_lent = lent.empty() ? std::u16string() : foldForMatch(lent);
    const std::u16string_view folded = shown.folded;
    return std::all_of(m_words.begin(), m_words.end(), [&](const std::u16string& word) {
        return folded.find(word) != std::u16string_view::npos ||
               folded_lent.find(word) != std::u16string::npos;
    });
}

bool OverviewOrder::before(std::size_t a, std::size_t b) const {
    if (m_column) {
        const int order = m_keys[a].compare(m_keys[b]);
        if (order != 0) {
            return m_ascending ? order < 0 : order > 0;
        }
    }
    return a < b;  // equal keys, or no column chosen: the table's order
}

void OverviewOrder::arrange(const FilmOverview& overview) {
    const std::size_t rows = overview.rows().size();
    if (m_column && m_keys.size() != rows) {
        m_keys.resize(rows);
        for (std::size_t row = 0; row < rows; ++row) {
            m_keys[row] = keyOf(overview, row);
        }
    }
    m_shown.clear();
    for (std::size_t row = 0; row < rows; ++row) {
        if (passes(overview, row)) {
            m_shown.push_back(row);
        }
    }
    if (m_column) {
        std::sort(m_shown.begin(), m_shown.end(),
                  [this](std::size_t a, std::size_t b) { return before(a, b); });
    }
}

const std::vector<std::size_t>& OverviewOrder::update(FilmOverview& overview) {
    FilmOverview::Changes changes = overview.takeChanges();
    const std::size_t rows = overview.rows().size();
    if (changes.whole || m_rows > rows) {
        m_rows = rows;
        m_keys.clear();
        arrange(overview);
        m_settingsChanged = false;
        return m_shown;
    }
    // Rows written by the program itself: each is taken out and put back where it now belongs,
    // so that a save costs a few rows' work, not a new sort of the whole list.
    std::sort(changes.rows.begin(), changes.rows.end());
    changes.rows.erase(std::unique(changes.rows.begin(), changes.rows.end()), changes.rows.end());
    const std::size_t known = m_rows;
    m_rows = rows;
    if (m_column && m_keys.size() == known) {
        m_keys.resize(rows);
    }
    for (const std::size_t row : changes.rows) {
        refreshRow(overview, row);
    }
    if (m_settingsChanged) {
        arrange(overview);
        m_settingsChanged = false;
        return m_shown;
    }
    // All of them out first: the rest is then in order for the binary searches.
    std::erase_if(m_shown, [&](std::size_t row) {
        return std::binary_search(changes.rows.begin(), changes.rows.end(), row);
    });
    for (const std::size_t row : changes.rows) {
        if (passes(overview, row)) {
            const auto at =
                std::lower_bound(m_shown.begin(), m_shown.end(), row,
                                 [this](std::size_t a, std::size_t b) { return before(a, b); });
            m_shown.insert(at, row);
        }
    }
    return m_shown;
}

}  // namespace ordavo
