#pragma once

#include "ui_support/ui_service.h"

namespace ordavo {

// The user's answer to "Zapisać zmiany w filmie …?".
enum class StoreAnswer { Store, Drop, Stay };

// What the rules need of the main window and its shown film.
class ShownFilm {
public:
    virtual ~ShownFilm() = default;
    // Whether anything can be stored: the database is open and writable.
    virtual bool canStore() const = 0;
    // Whether the form or a list holds changes the files do not: typed text, a confirmed or new
    // row not yet saved, an open row editor with typing in it.
    virtual bool hasUnstoredChanges() const = 0;
    // Stores the shown film as a loss of activation does (its own rules for an empty table).
    virtual void storeAsDeactivation() = 0;
    // Stores every change, open row editors first, as "Tak" promises. False when nothing could
    // be stored (the failure or refusal has been told): the film must not be left then.
    virtual bool storeEverything() = 0;
    // Asks whether to store the changes before leaving the film.
    virtual StoreAnswer askToStore() = 0;
};

// When the shown film is stored without being asked, and when the user is asked first:
// - every loss of activation after the window was first activated stores it, except while a
//   command of the window runs (the command stores what it needs) or while it is being stored;
// - so does every dialog or message box a command opens (before it opens: it would take the
//   activation), except the question below;
// - leaving the film (paging, "Nowy", clearing the filter, a search or another database that
//   shows another film, closing the window) with unstored changes asks first: store and go on,
//   drop and go on, or stay. Nothing is asked when nothing changed or nothing can be stored.
class LeaveRules {
public:
    explicit LeaveRules(ShownFilm& film) : m_film(film) {}

    // Marks a command of the window as running for the length of its scope.
    class Command {
    public:
        explicit Command(LeaveRules& rules) : m_rules(rules) {
            if (m_rules.m_commands++ == 0) {
                m_rules.m_storedInCommand = false;
            }
        }
        ~Command() { --m_rules.m_commands; }
        Command(const Command&) = delete;
        Command& operator=(const Command&) = delete;

    private:
        LeaveRules& m_rules;
    };

    void windowActivated() { m_firstDeactivationPending = false; }
    void windowDeactivated();
    // Before a dialog or message box of the window is shown.
    void beforeDialog();
    // Before the window leaves the shown film; false when the user chose to stay.
    bool beforeLeavingFilm();
    // Stops every automatic store (the window is closing or could not start).
    void stop() { m_stopped = true; }

    bool commandRunning() const { return m_commands > 0; }

private:
    void store();

    ShownFilm& m_film;
    bool m_firstDeactivationPending = true;
    bool m_storing = false;
    bool m_stopped = false;
    bool m_storedInCommand =
        false;  // a command's first dialog stored the film; later ones need not
    int m_commands = 0;
};

// The dialogs of the window's commands: each takes the activation, so the shown film is stored
// before it opens, as a loss of activation stores it. The question whether to store is the one
// exception: it must not store what the user may still drop.
class StoringUi : public UiService {
public:
    StoringUi(UiService& ui, LeaveRules& rules) : m_ui(ui), m_rules(rules) {}
    void showMessage(QWidget* parent, const QString& text, const QString& title) override {
        m_rules.beforeDialog();
        m_ui.showMessage(parent, text, title);
    }
    Answer ask(QWidget* parent, const QString& text, const QString& title) override {
        return m_ui.ask(parent, text, title);
    }
    QString chooseFile(QWidget* parent, const QString& caption,
                       const QStringList& filters) override {
        m_rules.beforeDialog();
        return m_ui.chooseFile(parent, caption, filters);
    }
    QString chooseSaveFile(QWidget* parent, const QString& caption,
                           const QStringList& filters) override {
        m_rules.beforeDialog();
        return m_ui.chooseSaveFile(parent, caption, filters);
    }
    QString chooseFolder(QWidget* parent, const QString& prompt) override {
        m_rules.beforeDialog();
        return m_ui.chooseFolder(parent, prompt);
    }
    int runDialog(QDialog& dialog) override {
        m_rules.beforeDialog();
        return m_ui.runDialog(dialog);
    }

private:
    UiService& m_ui;
    LeaveRules& m_rules;
};

}  // namespace ordavo
