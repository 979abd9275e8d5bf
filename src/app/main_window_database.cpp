// The main window's database: starting up, taking hold of the database, opening another one,
// and what the window becomes when it may not write.
#include "app/ckinokrat_dlg.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>

#include "storage/database_lock.h"
#include "storage/file_error.h"
#include "storage/posix_file.h"
#include "tabs/ui/tab_pages.h"
#include "ui_support/qt_text.h"

namespace ordavo {

// ---------------------------------------------------------------- start-up and databases

void CKinokratDlg::startUp() {
    const LeaveRules::Command command(m_rules);
    const bool settled = settleStartUpDatabase();
    for (TabPage* page : listPages()) {
        page->setUpLists();
    }
    m_copyPage->fillMediumTypes();
    dropFilter();
    startUpdater();
    if (m_startupFailed) {
        // The read refuses too, and says so once more; then the window ends unshown.
        guarded([this] { loadFilm(true); });
        m_rules.stop();
        return;
    }
    if (settled) {
        guarded([this] { takeDatabase(); });
    }
    applyAccess();
    if (m_access == DatabaseAccess::Unusable) {
        clearForm(true);
        m_details.forgetAllRows();
        return;
    }
    const bool shown = guarded([&] {
        loadFilm(true);
        if (refreshCounter()) {
            disableRowControls();
        }
    });
    if (!shown) {
        m_startupFailed = true;
        m_rules.stop();
    }
}

bool CKinokratDlg::settleStartUpDatabase() {
    try {
        m_database.setPaths(buildPaths());
        switch (m_database.checkFileSet()) {
            case DatabaseState::Absent:
                // A failed import leaves the originals where they are and creates nothing, so
                // that the next start imports them again.
                if (!m_database.importFromWorkingFolder()) {
                    m_database.createMissing(true);
                }
                break;
            case DatabaseState::Damaged:
                m_startupFailed = true;
                break;
            case DatabaseState::Intact:
                // Before the first film is read: finishes what a killed run was writing.
                m_database.recoverInterruptedWrites();
                break;
        }
        return true;
    } catch (const FileError& error) {
        showFileError(m_rawUi, this, error,
                      QStringLiteral("\n\nBaza danych nie może być używana: program pokaże pusty "
                                     "formularz i niczego nie zapisze."));
        return false;
    }
}

void CKinokratDlg::startUpdater() {
    // The updater is looked for beside the program file only, never in the working folder.
    const QString updater =
        QCoreApplication::applicationDirPath() + QStringLiteral("/OV_AUTOUPDATE.exe");
    if (QFileInfo(updater).isExecutable()) {
        QProcess::startDetached(updater, {});
    }
}

void CKinokratDlg::takeDatabase() {
    m_database.useHold(nullptr);
    m_hold.reset();
    m_hold = std::make_unique<DatabaseHold>(m_database.paths());
    m_database.useHold(m_hold.get());
    WriteRefusal refusal = m_database.writeRefusal();
    if (refusal == WriteRefusal::None && !m_hold->held()) {
        refusal = WriteRefusal::HeldElsewhere;  // the other copy may have ended meanwhile
    }
    m_access = refusal == WriteRefusal::None        ? DatabaseAccess::Writable
               : refusal == WriteRefusal::NotIntact ? DatabaseAccess::Unusable
                                                    : DatabaseAccess::ReadOnly;
    if (m_access == DatabaseAccess::Writable && !pathExists(m_database.paths().covers_folder)) {
        createFolder(m_database.paths().covers_folder);  // an imported database has none
    }
    // A damaged set has said so itself; every other refusal is said here, once.
    if (m_access == DatabaseAccess::ReadOnly) {
        m_rawUi.showMessage(this, utf8ToQString(m_database.writeRefusalMessage(refusal)),
                            QStringLiteral("Kinokrat - Baza tylko do odczytu"));
    }
}

void CKinokratDlg::letGoOfDatabase() {
    if (m_access == DatabaseAccess::Writable) {
        // Everything written goes into the tables for good, and the redo record is emptied.
        guarded([this] { m_database.checkpoint(); });
    }
}

void CKinokratDlg::applyAccess() {
    const bool writable = m_access == DatabaseAccess::Writable;
    m_form.setReadOnly(!writable);
    for (QPushButton* button : {m_newButton, m_saveButton, m_deleteButton}) {
        button->setEnabled(writable);
    }
    setRowControlsEnabled(m_rowControlsWanted);
    if (m_access == DatabaseAccess::Unusable) {
        m_positionEdit->setText(QStringLiteral("0"));
        m_countEdit->setText(QStringLiteral("0"));
    }
    setWindowTitle(writable ? QStringLiteral("Ordavo")
                            : QStringLiteral("Ordavo (tylko do odczytu)"));
}

void CKinokratDlg::openDatabase() {
    const LeaveRules::Command command(m_rules);
    guarded([&] {
        const QString chosen = m_ui.chooseFolder(this, QString::fromUtf8(kOpenDatabasePrompt));
        if (chosen.isEmpty() || !m_rules.beforeLeavingFilm()) {
            return;
        }
        // Offsets of a search in the previous database mean nothing in the new one, and nothing
        // of its film may be written into the new one.
        dropFilter();
        letGoOfDatabase();
        m_database.useHold(nullptr);
        m_hold.reset();
        m_access = DatabaseAccess::Unusable;
        clearForm(true);
        m_details.forgetAllRows();
        try {
            m_database.setPaths(buildPaths(qStringToPath(chosen)));
            const DatabaseState state = m_database.checkFileSet();
            if (state == DatabaseState::Absent) {
                m_database.createMissing(false);
            } else if (state == DatabaseState::Intact) {
                m_database.recoverInterruptedWrites();
            }
            takeDatabase();
        } catch (...) {
            applyAccess();
            refreshCounter();
            throw;
        }
        applyAccess();
        loadFilm(true);
        refreshCounter();
    });
}

void CKinokratDlg::writeRefused() {
    const WriteRefusal refusal = m_database.writeRefusal();
    if (refusal == WriteRefusal::None) {
        return;  // refused with a message of its own (a film deleted by another program)
    }
    m_access =
        refusal == WriteRefusal::NotIntact ? DatabaseAccess::Unusable : DatabaseAccess::ReadOnly;
    applyAccess();
    if (refusal != WriteRefusal::NotIntact) {  // a damaged set has said so itself
        m_rawUi.showMessage(this, utf8ToQString(m_database.writeRefusalMessage(refusal)),
                            QStringLiteral("Kinokrat - Baza tylko do odczytu"));
    }
}

}  // namespace ordavo
