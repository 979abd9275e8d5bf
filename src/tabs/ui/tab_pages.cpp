#include "tabs/ui/tab_pages.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "tabs/ui/detail_list_editor.h"
#include "ui_support/film_form.h"

namespace ordavo {

TAB_Oocena::TAB_Oocena(const PageContext& context, QWidget* parent) : TabPage(context, parent) {
    setObjectName(QStringLiteral("ratingPage"));
    addList(DetailList::Reviews, QStringLiteral("Zasoby poświęcone tytułowi"),
            QStringLiteral("reviewsArea"),
            {QStringLiteral("Edytuj kolumny"), 2, /*single_selection=*/true});
    m_layout->addWidget(fieldGroup({{"own_rating_soundtrack", 0, 0},
                                    {"own_rating_cast", 1, 0},
                                    {"own_rating_overall", 2, 0},
                                    {"own_rating_cinematography", 0, 1},
                                    {"own_rating_artistic_value", 1, 1}}));
}

TAB_Obsada::TAB_Obsada(const PageContext& context, QWidget* parent) : TabPage(context, parent) {
    setObjectName(QStringLiteral("castPage"));
    addList(DetailList::Cast, QStringLiteral("Obsada"), QStringLiteral("castArea"),
            {QStringLiteral("Edytuj Kolumny"), 1});
    auto* crew = new QGridLayout;
    const auto group = [this](FilmFieldId name, FilmFieldId nation) {
        return fieldGroup({{name, 0, 0}, {nation, 1, 0}});
    };
    crew->addWidget(group("director_name", "director_nationality"), 0, 0);
    crew->addWidget(group("cinematographer_name", "cinematographer_nationality"), 0, 1);
    crew->addWidget(group("screenwriter_name", "screenwriter_nationality"), 1, 0);
    crew->addWidget(group("composer_name", "composer_nationality"), 1, 1);
    m_layout->addLayout(crew);
}

TAB_Produkcja::TAB_Produkcja(const PageContext& context, QWidget* parent)
    : TabPage(context, parent) {
    setObjectName(QStringLiteral("productionPage"));
    // The upper list is a little taller than the lower one.
    addList(DetailList::Producers, QStringLiteral("Produkcja"), QStringLiteral("producersArea"),
            {QStringLiteral("Edytuj Kolumny"), 2}, 93);
    addList(DetailList::Distributors, QStringLiteral("Dystrybucja"),
            QStringLiteral("distributorsArea"), {QStringLiteral("Edytuj Kolumny"), 2}, 76);
}

TAB_DOE::TAB_DOE(const PageContext& context, QWidget* parent) : TabPage(context, parent) {
    setObjectName(QStringLiteral("copyDataPage"));
    m_layout->addWidget(fieldGroup(
        {{"owner_first_name", 0, 0}, {"owner_last_name", 0, 1}, {"owner_address", 1, 0}}));
    m_layout->addWidget(fieldGroup({{"acquisition_name", 0, 0},
                                    {"acquisition_address", 1, 0},
                                    {"acquisition_www", 2, 0},
                                    {"acquisition_phone", 0, 1},
                                    {"acquisition_fax", 1, 1},
                                    {"acquisition_email", 2, 1}}));
    QGridLayout* rest = fieldGrid(this, {{"price", 0, 0},
                                         {"current_value", 1, 0},
                                         {"purchase_date", 2, 0},
                                         {"loss_date", 0, 1},
                                         {"catalogue_date", 1, 1},
                                         {"catalogue_number", 2, 1}});
    auto* medium_label = new QLabel(FilmForm::label("medium_type"), this);
    QComboBox* medium = m_form.addCombo("medium_type", this);
    medium_label->setBuddy(medium);
    rest->addWidget(medium_label, 0, 4);
    rest->addWidget(medium, 0, 5);
    rest->setColumnStretch(5, 1);
    m_layout->addLayout(rest);
    m_layout->addStretch(1);
}

void TAB_DOE::fillMediumTypes() {
    m_form.refillChoices("medium_type");
}

TAB_IOF::TAB_IOF(const PageContext& context, QWidget* parent) : TabPage(context, parent) {
    setObjectName(QStringLiteral("filmInfoPage"));
    m_layout->addLayout(fieldGrid(this, {{"production_year", 0, 0},
                                         {"premiere_date", 1, 0},
                                         {"running_time", 0, 1},
                                         {"display_format", 1, 1},
                                         {"picture_encoding_system", 0, 2}}));
    // The two language lists share their line half and half.
    m_layout->addLayout(
        fieldGrid(this, {{"voice_over_languages", 0, 0}, {"subtitle_languages", 0, 1}}));
    auto* groups = new QHBoxLayout;
    const auto group = [this](FilmFieldId name, FilmFieldId type, FilmFieldId version) {
        return fieldGroup({{name, 0, 0}, {type, 1, 0}, {version, 2, 0}});
    };
    groups->addWidget(group("video_codec_name", "video_codec_type", "video_codec_version"));
    groups->addWidget(group("sound_system_name", "sound_system_type", "sound_system_version"));
    groups->addWidget(group("protection_name", "protection_type", "protection_version"));
    m_layout->addLayout(groups);
    m_layout->addLayout(fieldGrid(this, {{"production_countries", 0, 0}}));
    addList(DetailList::Locations, QStringLiteral("Lokalizacje zdjęciowe"),
            QStringLiteral("locationsArea"), {QStringLiteral("Edytuj kolumny"), 2});
}

TAB_BIBLIO::TAB_BIBLIO(const PageContext& context, QWidget* parent) : TabPage(context, parent) {
    setObjectName(QStringLiteral("loansPage"));
    addList(DetailList::LoansTo, QStringLiteral("Katalog wypożyczeń innym"),
            QStringLiteral("loansToArea"), {QStringLiteral("Edytuj Kolumny"), 3}, 77);
    addList(DetailList::LoansFrom, QStringLiteral("Katalog wypożyczeń od innych"),
            QStringLiteral("loansFromArea"), {QStringLiteral("Edytuj Kolumny"), 3}, 66);
}

}  // namespace ordavo
