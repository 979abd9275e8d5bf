#include "app/leave_rules.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace ordavo {
namespace {

// The shown film, recording what the rules ask of it.
class RecordingFilm : public ShownFilm {
public:
    bool canStore() const override { return writable; }
    bool hasUnstoredChanges() const override { return changed; }
    void storeAsDeactivation() override {
        calls.push_back("store");
        if (store_throws) {
            throw std::runtime_error("disk full");
        }
    }
    bool storeEverything() override {
        calls.push_back("store everything");
        return store_succeeds;
    }
    StoreAnswer askToStore() override {
        calls.push_back("ask");
        // The question takes the activation: whatever the window does then must store nothing.
        if (rules) {
            rules->windowDeactivated();
            rules->beforeDialog();
        }
        return answer;
    }

    bool writable = true;
    bool changed = true;
    bool store_throws = false;
    bool store_succeeds = true;
    StoreAnswer answer = StoreAnswer::Store;
    LeaveRules* rules = nullptr;
    std::vector<std::string> calls;
};

using Calls = std::vector<std::string>;

class LeaveRulesTest : public ::testing::Test {
protected:
    LeaveRulesTest() { film.rules = &rules; }

    RecordingFilm film;
    LeaveRules rules{film};
};

TEST_F(LeaveRulesTest, ADeactivationStoresOnceTheWindowWasActiveAndNeverInsideACommand) {
    rules.windowDeactivated();  // the window was never active: nothing typed yet
    EXPECT_EQ(film.calls, Calls{});
    rules.windowActivated();
    rules.windowDeactivated();
    EXPECT_EQ(film.calls, Calls{"store"});
    {
        const LeaveRules::Command command(rules);
        rules.windowDeactivated();  // the command stores what it needs itself
    }
    EXPECT_EQ(film.calls, Calls{"store"});
    film.writable = false;
    rules.windowDeactivated();
    EXPECT_EQ(film.calls, Calls{"store"});
}

TEST_F(LeaveRulesTest, EveryCommandStoresBeforeItsFirstDialogOnly) {
    rules.windowActivated();
    {
        const LeaveRules::Command command(rules);
        rules.beforeDialog();
        rules.beforeDialog();  // a refusal box after a file dialog: stored already
        {
            const LeaveRules::Command nested(rules);
            rules.beforeDialog();
        }
    }
    EXPECT_EQ(film.calls, Calls{"store"});
    {
        const LeaveRules::Command next(rules);
        rules.beforeDialog();
    }
    EXPECT_EQ(film.calls, (Calls{"store", "store"}));
    rules.beforeDialog();  // a dialog outside a command stores each time
    rules.beforeDialog();
    EXPECT_EQ(film.calls, (Calls{"store", "store", "store", "store"}));
}

TEST_F(LeaveRulesTest, LeavingAChangedFilmAsksAndFollowsTheAnswer) {
    struct Case {
        StoreAnswer answer;
        bool store_succeeds;
        bool leaves;
        Calls calls;
    };
    for (const Case& c : {
             Case{StoreAnswer::Store, true, true, {"ask", "store everything"}},
             Case{StoreAnswer::Store, false, false, {"ask", "store everything"}},  // stays
             Case{StoreAnswer::Drop, true, true, {"ask"}},
             Case{StoreAnswer::Stay, true, false, {"ask"}},
         }) {
        film.calls.clear();
        film.answer = c.answer;
        film.store_succeeds = c.store_succeeds;
        rules.windowActivated();
        EXPECT_EQ(rules.beforeLeavingFilm(), c.leaves);
        // The question's own loss of activation and dialog stored nothing.
        EXPECT_EQ(film.calls, c.calls);
    }
}

TEST_F(LeaveRulesTest, NothingIsAskedWhenNothingChangedNothingCanBeStoredOrTheWindowStopped) {
    film.changed = false;
    EXPECT_TRUE(rules.beforeLeavingFilm());
    film.changed = true;
    film.writable = false;
    EXPECT_TRUE(rules.beforeLeavingFilm());
    film.writable = true;
    rules.stop();
    EXPECT_TRUE(rules.beforeLeavingFilm());
    rules.windowActivated();
    rules.windowDeactivated();
    rules.beforeDialog();
    EXPECT_EQ(film.calls, Calls{});
}

TEST_F(LeaveRulesTest, AStoreThatThrowsLeavesTheRulesAsTheyWere) {
    rules.windowActivated();
    film.store_throws = true;
    EXPECT_THROW(rules.windowDeactivated(), std::runtime_error);
    film.store_throws = false;
    rules.windowDeactivated();  // not taken for a store still under way
    EXPECT_EQ(film.calls, (Calls{"store", "store"}));
    {
        const LeaveRules::Command command(rules);
        film.store_throws = true;
        EXPECT_THROW(rules.beforeDialog(), std::runtime_error);
    }
    EXPECT_FALSE(rules.commandRunning());
}

}  // namespace
}  // namespace ordavo
