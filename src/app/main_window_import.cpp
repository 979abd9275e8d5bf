#include "app/ckinokrat_dlg.h"
#include "import/ui/csv_import_dialog.h"

namespace ordavo {

void CKinokratDlg::importCsv() {
    const LeaveRules::Command command(m_rules);
    guarded([this] {
        if (m_access != DatabaseAccess::Writable) {
            const WriteRefusal refusal = m_database.writeRefusal();
            refuse(refusal == WriteRefusal::None
                       ? std::string("Import wymaga bazy danych, którą można zapisywać.")
                       : m_database.writeRefusalMessage(refusal));
            return;
        }
        // Over an empty table the first imported film will be shown in place of the form:
        // typing there is stored or dropped as the user says, as when any film is left.
        if (!m_table.holdsRow() && !m_rules.beforeLeavingFilm()) {
            return;
        }
        const bool showed_a_film = m_table.holdsRow();
        // The shown film is stored by the first dialog, as every dialog of a command stores it.
        if (!importCsvFile(this, m_database, m_ui)) {
            return;
        }
        // Imported rows only ever follow the stored ones: the shown film keeps its place.
        loadFilm(!showed_a_film);
        refreshCounter();
    });
}

}  // namespace ordavo
