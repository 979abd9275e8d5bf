#pragma once

#include <QDialog>
#include <atomic>
#include <cstdint>
#include <future>
#include <memory>
#include <vector>

class QComboBox;
class QLineEdit;
class QTimer;

namespace ordavo {

class FilmSearch;
class UiService;

inline constexpr const char* kNoMatchesMessage =
    "Nie znaleziono rekordów pasujących do wybranego kryterium.";
inline constexpr const char* kSearchResultTitle = "Kinokrat - Wyniki wyszukiwania";

// The search dialog: a phrase, one of the 49 searchable fields, "S Z U K A J" and "Anuluj". It
// ends accepted only after a search that found at least one film; matches() then holds their
// row offsets. Any other end changes nothing. `films` searches the open database's film table.
class Wyszukiwarka : public QDialog {
    Q_OBJECT
public:
    Wyszukiwarka(FilmSearch& films, UiService& ui, QWidget* parent);
    ~Wyszukiwarka() override;

    const std::vector<std::int64_t>& matches() const { return m_matches; }

    // What "S Z U K A J" does.
    void search();

private:
    // A read of one field ahead of the search, on a thread of its own.
    struct ReadAhead {
        int field;
        std::shared_ptr<std::atomic<bool>> cancelled;
        std::future<void> done;
    };
    // Reads the chosen field ahead; one no longer chosen is told to stop and left to end on its
    // own thread, never waited for here.
    void readAhead();
    void cancelReadAheads(int except_field);

    FilmSearch& m_films;
    UiService& m_ui;
    QLineEdit* m_phrase;
    QComboBox* m_field;
    QTimer* m_readAheadDelay;  // browsing the list with the arrow keys reads nothing
    std::vector<std::int64_t> m_matches;
    std::vector<ReadAhead> m_readAheads;
};

}  // namespace ordavo
