#include "ui_support/film_form.h"

#include <QCollator>
#include <QComboBox>
#include <QLineEdit>
#include <QLocale>
#include <stdexcept>

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

std::size_t FilmForm::indexOf(std::string_view member) const {
    for (std::size_t i = 0; i < kFilmFields.size(); ++i) {
        if (kFilmFields[i].member == member) {
            return i;
        }
    }
    throw std::logic_error("no film field " + std::string(member));
}

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

QString FilmForm::label(std::string_view member) {
    const FilmFieldInfo* info = findFilmField(member);
    return info ? utf8ToQString(info->label) : QString();
}

QLineEdit* FilmForm::addEdit(std::string_view member, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(camelCase(member) + QStringLiteral("Edit"));
    QObject::connect(edit, &QLineEdit::textEdited, [this] {
        if (m_edited)
            m_edited();
    });
    m_controls[indexOf(member)] = edit;
    return edit;
}

QComboBox* FilmForm::addCombo(std::string_view member, const QStringList& suggestions,
                              QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(camelCase(member) + QStringLiteral("Combo"));
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    QStringList sorted = suggestions;
    QCollator polish{QLocale(QLocale::Polish, QLocale::Poland)};
    std::sort(sorted.begin(), sorted.end(), polish);
    combo->addItems(sorted);
    combo->setCurrentIndex(-1);
    combo->clearEditText();
    QObject::connect(combo, &QComboBox::editTextChanged, [this, combo] {
        if (m_edited && combo->hasFocus())
            m_edited();
    });
    // A suggestion picked from the list, by mouse or keys, while the list has the focus.
    QObject::connect(combo, &QComboBox::activated, [this] {
        if (m_edited)
            m_edited();
    });
    m_controls[indexOf(member)] = combo;
    return combo;
}

QWidget* FilmForm::control(std::string_view member) const {
    return m_controls[indexOf(member)];
}

QString FilmForm::text(std::string_view member) const {
    return controlText(m_controls[indexOf(member)]);
}

void FilmForm::setText(std::string_view member, const QString& text) {
    setControlText(m_controls[indexOf(member)], text);
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
