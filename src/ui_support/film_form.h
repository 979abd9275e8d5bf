#pragma once

#include <QString>
#include <array>
#include <functional>
#include <string_view>

#include "storage/film_record.h"

class QComboBox;
class QLineEdit;
class QWidget;

namespace ordavo {

// The controls of the film record's text fields on the main dialog and the tab pages, bound by
// the field table. The pages create their controls through it; the main dialog moves text
// between them and the current-film buffer.
class FilmForm {
public:
    // A single-line box for `field`, named "<memberInCamelCase>Edit".
    QLineEdit* addEdit(FilmFieldId field, QWidget* parent);
    // An editable drop-down for `field`, named "<memberInCamelCase>Combo"; it offers the field's
    // choices in Polish order and stores whatever text its edit field holds.
    QComboBox* addCombo(FilmFieldId field, QWidget* parent);
    // Offers the field's choices again, with nothing picked and the text typed kept.
    void refillChoices(FilmFieldId field);

    QWidget* control(FilmFieldId field) const { return m_controls[field.index]; }
    QString text(FilmFieldId field) const;
    void setText(FilmFieldId field, const QString& text);

    // Every bound control gets its field's text.
    void show(const FilmRecord& record);
    // Every bound field gets its control's text, cut to the field's capacity.
    void read(FilmRecord& record) const;
    // Every bound control is emptied (a combo keeps its suggestions, with nothing selected).
    void clear();
    // Read-only boxes (and disabled drop-downs) when nothing typed could be stored.
    void setReadOnly(bool read_only);
    // Called whenever the user edits any bound control.
    void setEditedHandler(std::function<void()> handler) { m_edited = std::move(handler); }

    // The label a field's control carries, and the caption of its group ("" for none).
    static QString label(FilmFieldId field);
    static QString group(FilmFieldId field);
    // "original_title" → "originalTitle".
    static QString camelCase(std::string_view member);

private:
    std::array<QWidget*, kFilmTextFieldCount> m_controls{};
    std::function<void()> m_edited;
};

}  // namespace ordavo
