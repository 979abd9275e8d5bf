#include "ui_support/film_form.h"

#include <QCollator>
#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <QSignalBlocker>
#include <algorithm>

#include "ui_support/qt_text.h"

namespace ordavo {

namespace {

QString controlText(QWidget* control) {
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        return edit->text();
    }
    if (auto* combo = qobject_cast<QComboBox*>(control)) {
        return combo->currentText();
    }
    return {};
}

void setControlText(QWidget* control, const QString& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(text);
        edit->setCursorPosition(0);
    } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
        combo->setCurrentIndex(-1);
        combo->setEditText(text);
    }
}

}  // namespace

QString FilmForm::camelCase(std::string_view member) {
    QString name;
    bool upper = false;
    for (char c : member) {
        if (c == '_') {
            upper = true;
        } else {
            name += upper ? QChar(c).toUpper() : QChar(c);
            upper = false;
        }
    }
    return name;
}

QString FilmForm::label(FilmFieldId field) {
    return utf8ToQString(field.info().label);
}

QString FilmForm::group(FilmFieldId field) {
    return utf8ToQString(field.info().group);
}

QLineEdit* FilmForm::addEdit(FilmFieldId field, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(camelCase(field.info().member) + QStringLiteral("Edit"));
    QObject::connect(edit, &QLineEdit::textEdited, [this] {
        if (m_edited)
            m_edited();
    });
    m_controls[field.index] = edit;
    return edit;
}

QComboBox* FilmForm::addCombo(FilmFieldId field, QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(camelCase(field.info().member) + QStringLiteral("Combo"));
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    m_controls[field.index] = combo;
    refillChoices(field);
    QObject::connect(combo, &QComboBox::editTextChanged, [this, combo] {
        if (m_edited && combo->hasFocus())
            m_edited();
    });
    // A suggestion picked from the list, by mouse or keys, while the list has the focus.
    QObject::connect(combo, &QComboBox::activated, [this] {
        if (m_edited)
            m_edited();
    });
    return combo;
}

void FilmForm::refillChoices(FilmFieldId field) {
    auto* combo = qobject_cast<QComboBox*>(control(field));
    if (combo == nullptr) {
        return;
    }
    const QString kept = combo->currentText();
    QStringList choices;
    for (std::string_view choice : choicesOf(field)) {
        choices.append(utf8ToQString(choice));
    }
    const QCollator polish{QLocale(QLocale::Polish, QLocale::Poland)};
    std::sort(choices.begin(), choices.end(), polish);
    const QSignalBlocker quiet(combo);  // not an edit of the user's
    combo->clear();
    combo->addItems(choices);
    combo->setCurrentIndex(-1);
    combo->setEditText(kept);
}

QString FilmForm::text(FilmFieldId field) const {
    return controlText(control(field));
}

void FilmForm::setText(FilmFieldId field, const QString& text) {
    setControlText(control(field), text);
}

void FilmForm::show(const FilmRecord& record) {
    for (std::size_t i = 0; i < kFilmFields.size(); ++i) {
        if (m_controls[i]) {
            setControlText(m_controls[i], toQString(fieldText(record, kFilmFields[i])));
        }
    }
}

void FilmForm::read(FilmRecord& record) const {
    for (std::size_t i = 0; i < kFilmFields.size(); ++i) {
        if (m_controls[i]) {
            setFieldText(record, kFilmFields[i], toU16(controlText(m_controls[i])));
        }
    }
}

void FilmForm::setReadOnly(bool read_only) {
    for (QWidget* control : m_controls) {
        if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            edit->setReadOnly(read_only);
        } else if (control) {
            control->setEnabled(!read_only);
        }
    }
}

void FilmForm::clear() {
    for (QWidget* control : m_controls) {
        if (control) {
            setControlText(control, QString());
        }
    }
}

}  // namespace ordavo
