#include "app/leave_rules.h"

namespace ordavo {

namespace {

// Sets a flag for the length of a scope, also when the scope is left by an exception.
class Raised {
public:
    explicit Raised(bool& flag) : m_flag(flag) { m_flag = true; }
    ~Raised() { m_flag = false; }
    Raised(const Raised&) = delete;
    Raised& operator=(const Raised&) = delete;

private:
    bool& m_flag;
};

}  // namespace

void LeaveRules::store() {
    if (m_stopped || m_storing || !m_film.canStore()) {
        return;
    }
    const Raised storing(m_storing);
    m_film.storeAsDeactivation();
}

void LeaveRules::windowDeactivated() {
    if (m_firstDeactivationPending || m_commands > 0) {
        return;
    }
    store();
}

void LeaveRules::beforeDialog() {
    if (m_commands > 0 && m_storedInCommand) {
        return;
    }
    m_storedInCommand = m_commands > 0;
    store();
}

bool LeaveRules::beforeLeavingFilm() {
    if (m_stopped || m_storing || !m_film.canStore() || !m_film.hasUnstoredChanges()) {
        return true;
    }
    // The question is a window of its own: the loss of activation it causes stores nothing.
    const Raised storing(m_storing);
    switch (m_film.askToStore()) {
        case StoreAnswer::Store:
            return m_film.storeEverything();  // a failed store keeps the film and its changes
        case StoreAnswer::Drop:
            return true;
        case StoreAnswer::Stay:
            return false;
    }
    return false;
}

}  // namespace ordavo
