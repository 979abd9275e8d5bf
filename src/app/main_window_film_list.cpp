#include <QAction>
#include <QLayout>
#include <QScreen>
#include <QSplitter>
#include <algorithm>

#include "app/ckinokrat_dlg.h"
#include "film_list/ui/film_list_panel.h"
#include "storage/posix_file.h"

namespace ordavo {

namespace {

constexpr std::int64_t kRow = kFilmRowSize;

}  // namespace

void CKinokratDlg::toggleFilmList() {
    auto* action = findChild<QAction*>(QStringLiteral("filmListAction"));
    if (m_filmList && m_filmList->isVisible()) {
        const int list_width = m_filmList->width();
        m_filmList->hide();
        m_splitter->widget(0)->setMinimumWidth(0);
        layout()->activate();  // the window's minimum no longer counts the list
        resize(std::max(width() - list_width, minimumSizeHint().width()), height());
        action->setChecked(false);
        return;
    }
    // The form's width before the list takes any: the splitter shows the list as soon as it is
    // added.
    const int form_width = m_splitter->widget(0)->width();
    if (!m_filmList) {
        m_filmList = new FilmListPanel(m_database.keeper(DataFile::Films),
                                       m_database.keeper(DataFile::LoansTo), m_splitter);
        m_splitter->addWidget(m_filmList);
        m_splitter->setStretchFactor(1, 1);
        connect(m_filmList, &FilmListPanel::filmChosen, this,
                [this](std::int64_t offset, std::int32_t id) { chooseFilm(offset, id); });
    }
    // The window grows by the list's width where the screen has room, so that the form keeps
    // its size; on a small screen the two share what there is.
    const int list_width = m_filmList->fontMetrics().averageCharWidth() * 90;
    const QRect screen = this->screen() ? this->screen()->availableGeometry() : QRect();
    const int grown = std::min(width() + list_width, screen.isValid() ? screen.width() : 1 << 20);
    if (grown == width() + list_width) {
        // Room enough: the form keeps its width while the list is open (the window may be
        // resized later than the splitter shares out its width).
        m_splitter->widget(0)->setMinimumWidth(form_width);
    }
    resize(grown, height());
    if (screen.isValid() && frameGeometry().right() > screen.right()) {
        move(std::max(screen.left(), x() - (frameGeometry().right() - screen.right())), y());
    }
    m_filmList->show();
    m_splitter->setSizes({form_width, std::max(grown - form_width, list_width / 2)});
    action->setChecked(true);
    syncFilmList();
}

void CKinokratDlg::syncFilmList() {
    if (!m_filmList) {
        return;
    }
    m_filmList->showing(
        m_table.holdsRow() ? m_table.current_offset : -1,
        m_filter.filter_mode ? std::optional(m_filter.filter_offsets) : std::nullopt);
}

void CKinokratDlg::chooseFilm(std::int64_t offset, std::int32_t id) {
    guarded([&] {
        if (refreshCounter() || !m_rules.beforeLeavingFilm()) {
            return;
        }
        // The list may be a moment behind the table (a film deleted, another program's
        // change): the film is then found by its id.
        const PosixFile table(m_database.paths().file(DataFile::Films), PosixFile::Mode::Read);
        const std::vector<std::int32_t>& ids = m_table.rowIds(table);
        auto row = static_cast<std::size_t>(std::max<std::int64_t>(offset, 0) / kRow);
        if (row >= ids.size() || ids[row] != id) {
            const auto found = std::find(ids.begin(), ids.end(), id);
            if (found == ids.end()) {
                return;
            }
            row = static_cast<std::size_t>(found - ids.begin());
        }
        const auto at = static_cast<std::int64_t>(row) * kRow;
        if (m_filter.filter_mode) {
            const std::vector<std::int64_t>& matches = m_filter.filter_offsets;
            const auto match = std::find(matches.begin(), matches.end(), at);
            if (match != matches.end()) {
                m_filter.filter_index = static_cast<std::int32_t>(match - matches.begin());
                showFilterMatch();
            }
            return;
        }
        m_table.current_offset = at;
        clearForm(false);
        loadFilm(false);
        refreshCounter();
    });
    syncFilmList();  // also when the film stayed: the list marks the one shown
}

}  // namespace ordavo
