#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>

class QCheckBox;

namespace ordavo {

struct DatabasePaths;
class UiService;

// The export wizard: a modeless window with the scope, the six tables, "Eksportuj" and "Anuluj".
// Each export takes the boxes and the shown film as they are at that moment.
class Eksport_Wizard : public QDialog {
    Q_OBJECT
public:
    // `paths` and `shown_film_id` are asked anew for every export.
    Eksport_Wizard(std::function<const DatabasePaths&()> paths,
                   std::function<std::int32_t()> shown_film_id, UiService& ui, QWidget* parent);

    // What "Eksportuj" does: asks for the file, then exports.
    void exportToChosenFile();
    // Exports to `path` with the boxes as they are now; shows any failure. Returns success.
    bool exportTo(const QString& path);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QCheckBox* addBox(const QString& text, const QString& name, QWidget* group);

    std::function<const DatabasePaths&()> m_paths;
    std::function<std::int32_t()> m_shownFilmId;
    UiService& m_ui;
    QCheckBox* m_whole = nullptr;
    QCheckBox* m_films = nullptr;
    QCheckBox* m_cast = nullptr;
    QCheckBox* m_ratings = nullptr;
    QCheckBox* m_locations = nullptr;
    QCheckBox* m_production = nullptr;
    QCheckBox* m_loans = nullptr;
};

}  // namespace ordavo
