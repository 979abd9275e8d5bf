#pragma once

#include <QDialog>
#include <cstdint>
#include <future>
#include <vector>

class QComboBox;
class QLineEdit;

namespace ordavo {

struct DatabasePaths;
class UiService;

inline constexpr const char* kNoMatchesMessage =
    "Nie znaleziono rekordów pasujących do wybranego kryterium.";
inline constexpr const char* kSearchResultTitle = "Kinokrat - Wyniki wyszukiwania";

// The search dialog: a phrase, one of the 49 searchable fields, "S Z U K A J" and "Anuluj". It
// ends accepted only after a search that found at least one film; matches() then holds their
// row offsets. Any other end changes nothing.
class Wyszukiwarka : public QDialog {
    Q_OBJECT
public:
    Wyszukiwarka(const DatabasePaths& paths, UiService& ui, QWidget* parent);
    ~Wyszukiwarka() override;

    const std::vector<std::int64_t>& matches() const { return m_matches; }

    // What "S Z U K A J" does.
    void search();

private:
    const DatabasePaths& m_paths;
    UiService& m_ui;
    QLineEdit* m_phrase;
    QComboBox* m_field;
    std::vector<std::int64_t> m_matches;
    std::future<void> m_preparing;  // the chosen field read ahead while the phrase is typed
};

}  // namespace ordavo
