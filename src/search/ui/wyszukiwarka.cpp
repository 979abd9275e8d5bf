#include "search/ui/wyszukiwarka.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>

#include "search/film_search.h"
#include "storage/file_error.h"
#include "ui_support/qt_text.h"
#include "ui_support/ui_service.h"

namespace ordavo {

Wyszukiwarka::Wyszukiwarka(FilmSearch& films, UiService& ui, QWidget* parent)
    : QDialog(parent), m_films(films), m_ui(ui) {
    setObjectName(QStringLiteral("searchDialog"));
    setWindowTitle(QStringLiteral("Ordavo - Wyszukiwarka"));
    auto* grid = new QGridLayout(this);

    m_phrase = new QLineEdit(this);
    m_phrase->setObjectName(QStringLiteral("phraseEdit"));
    m_phrase->setMaxLength(static_cast<int>(kMaxSearchPhraseLength));
    m_phrase->setMinimumWidth(420);
    auto* phrase_label = new QLabel(QStringLiteral("Szukana &fraza"), this);
    phrase_label->setBuddy(m_phrase);
    grid->addWidget(phrase_label, 0, 0);
    grid->addWidget(m_phrase, 0, 1, 1, 2);

    m_field = new QComboBox(this);
    m_field->setObjectName(QStringLiteral("fieldCombo"));
    for (std::size_t i = 0; i < kSearchFieldCount; ++i) {
        m_field->addItem(utf8ToQString(searchFieldLabel(i)));
    }
    m_field->setCurrentIndex(-1);
    m_field->setMaxVisibleItems(20);
    auto* field_label = new QLabel(QStringLiteral("Szukane &pole"), this);
    field_label->setBuddy(m_field);
    grid->addWidget(field_label, 1, 0);
    grid->addWidget(m_field, 1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* search_button = new QPushButton(QStringLiteral("S Z U K A J"), this);
    search_button->setObjectName(QStringLiteral("searchButton"));
    search_button->setDefault(true);  // Enter runs the search
    auto* cancel = new QPushButton(QStringLiteral("Anuluj"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    buttons->addWidget(search_button);
    buttons->addSpacing(30);
    buttons->addWidget(cancel);
    grid->addLayout(buttons, 2, 0, 1, 3);
    grid->setColumnStretch(1, 1);

    connect(search_button, &QPushButton::clicked, this, &Wyszukiwarka::search);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_readAheadDelay = new QTimer(this);
    m_readAheadDelay->setSingleShot(true);
    m_readAheadDelay->setInterval(150);
    connect(m_readAheadDelay, &QTimer::timeout, this, &Wyszukiwarka::readAhead);
    connect(m_field, &QComboBox::currentIndexChanged, this, [this](int index) {
        cancelReadAheads(index);
        if (index >= 0) {
            m_readAheadDelay->start();
        }
    });
}

Wyszukiwarka::~Wyszukiwarka() {
    // Stopped first, each read ends within a few rows.
    cancelReadAheads(-1);
    for (ReadAhead& read : m_readAheads) {
        read.done.wait();
    }
}

void Wyszukiwarka::cancelReadAheads(int except_field) {
    std::erase_if(m_readAheads, [&](ReadAhead& read) {
        if (read.field != except_field) {
            read.cancelled->store(true);
        }
        return read.done.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    });
}

void Wyszukiwarka::readAhead() {
    const int index = m_field->currentIndex();
    if (index < 0 || std::any_of(m_readAheads.begin(), m_readAheads.end(), [&](const ReadAhead& r) {
            return r.field == index && !r.cancelled->load();
        })) {
        return;
    }
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    m_readAheads.push_back(
        {index, cancelled, std::async(std::launch::async, [&films = m_films, index, cancelled] {
             try {
                 films.prepare(static_cast<std::size_t>(index), cancelled.get());
             } catch (const FileError&) {
                 // Only a read ahead: the search itself reads the table again
                 // and reports it.
             }
         })});
}

void Wyszukiwarka::search() {
    const int index = m_field->currentIndex();
    m_readAheadDelay->stop();
    cancelReadAheads(index);  // a read of another field would only keep the search waiting
    const std::optional<std::size_t> field =
        index < 0 ? std::nullopt : std::optional<std::size_t>(static_cast<std::size_t>(index));
    const std::u16string phrase =
        toU16(m_phrase->text().left(static_cast<int>(kMaxSearchPhraseLength)));
    std::vector<std::int64_t> found;
    if (!runCommand(m_ui, this, [&] { found = m_films.search(field, phrase); })) {
        return;
    }
    if (found.empty()) {
        m_ui.showMessage(this, QString::fromUtf8(kNoMatchesMessage),
                         QString::fromUtf8(kSearchResultTitle));
        return;
    }
    m_ui.showMessage(this,
                     QStringLiteral("Znaleziono ") + QString::number(found.size()) +
                         QStringLiteral(" pasujących rekordów."),
                     QString::fromUtf8(kSearchResultTitle));
    m_matches = std::move(found);
    accept();
}

}  // namespace ordavo
