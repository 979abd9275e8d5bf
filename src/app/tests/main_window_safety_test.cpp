// What the main window does off its main paths: changes left behind, refusals, keys pressed at
// the wrong moment, a second running copy, a database it cannot write, failed commands.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDialog>
#include <QLabel>
#include <QTableView>
#include <QTimer>
#include <limits>

#include "app/tests/main_window_fixture.h"
#include "storage/database_lock.h"
#include "tabs/tests/detail_test_support.h"

namespace ordavo {
namespace {

class MainWindowSafetyTest : public MainWindowTest {
protected:
    void typeTitle(const QString& text) {
        QLineEdit* title = find<QLineEdit>("titleEdit");
        title->end(false);
        testing::typeText(title, text);
    }
    std::vector<std::int32_t> storedIds() { return testing::filmIds(db() / "KR_PDB.kr"); }
    // Shortcuts reach only the active window.
    void makeActive() {
        dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    }
    // A mnemonic clicks its button a moment later, as a real key press shows it pressed.
    void pressMnemonic(Qt::Key key) {
        QTest::keyClick(find<QLineEdit>("titleEdit"), key, Qt::AltModifier);
        QTest::qWait(250);
    }
};

TEST_F(MainWindowSafetyTest, LeavingAChangedFilmAsksWhetherToStoreIt) {
    struct Case {
        Answer answer;
        const char* shown_after;  // title in the form
        const char* stored;       // title of the first film in the file
    };
    for (const Case& c :
         {Case{Answer::Yes, "Miś", "Rejs wersja 2"}, Case{Answer::No, "Miś", "Rejs"},
          Case{Answer::Cancel, "Rejs wersja 2", "Rejs"}}) {
        std::filesystem::remove_all(db());
        makeDatabase({u"Rejs", u"Miś"});
        ui = FakeUiService{};
        open();
        activate();
        typeTitle(QStringLiteral(" wersja 2"));
        ui.answers = {c.answer};
        // The question is a window of its own: the loss of activation it causes stores nothing.
        ui.onAsk = [this] { deactivate(); };
        click("nextButton");
        ASSERT_EQ(ui.questions.size(), 1u);
        EXPECT_EQ(ui.questions[0].first,
                  QStringLiteral("Zapisać zmiany w filmie „Rejs wersja 2”?"));
        EXPECT_EQ(text("titleEdit"), QString::fromUtf8(c.shown_after));
        EXPECT_EQ(storedTitle(0), QString::fromUtf8(c.stored).toStdU16String());
        ui.onAsk = {};
        ui.answers = {Answer::No};
        dialog.reset();
    }
}

TEST_F(MainWindowSafetyTest, NothingIsAskedWhenNothingChanged) {
    makeDatabase({u"Rejs", u"Miś"});
    open();
    click("nextButton");
    click("newButton");
    click("firstButton");
    dialog->close();
    EXPECT_TRUE(ui.questions.empty());
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(MainWindowSafetyTest, AnulujOnClosingKeepsTheWindowOpen) {
    makeDatabase({u"Rejs"});
    open();
    typeTitle(QStringLiteral("!"));
    ui.answers = {Answer::Cancel};
    dialog->close();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(text("titleEdit"), QStringLiteral("Rejs!"));
    EXPECT_EQ(storedTitle(0), u"Rejs");
}

TEST_F(MainWindowSafetyTest, ARefusalBoxStoresWhatWasTypedFirst) {
    makeDatabase({u"Rejs", u"Miś"});
    open();
    activate();
    dialog->enterFilterMode({0, static_cast<std::int64_t>(kFilmRowSize)});
    typeTitle(QStringLiteral(" (kopia)"));
    click("deleteButton");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].first,
              QStringLiteral("W trybie sortowanym nie można usuwać rekordów."));
    EXPECT_EQ(storedTitle(0), u"Rejs (kopia)");
    EXPECT_EQ(storedIds(), (std::vector<std::int32_t>{2, 3}));

    click("nextButton");
    typeTitle(QStringLiteral(" (kopia)"));
    click("newButton");
    EXPECT_EQ(ui.messages.back().first,
              QStringLiteral("W trybie sortowanym nie można dodawać nowych rekordów"));
    EXPECT_EQ(storedTitle(1), u"Miś (kopia)");
}

TEST_F(MainWindowSafetyTest, EnterAndEscapeDoNotCloseTheWindowAndEnterConfirmsARow) {
    makeDatabase({u"Rejs"});
    open();
    QLineEdit* title = find<QLineEdit>("titleEdit");
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(title, key);
        EXPECT_TRUE(dialog->isVisible()) << key;
    }
    click("castNewButton");
    find<QTableView>("castList")->selectRow(0);
    click("castEditButton");
    QLineEdit* role = find<QLineEdit>("castRoleEdit");
    role->clear();
    testing::typeText(role, QStringLiteral("Kmicic"));
    QTest::keyClick(role, Qt::Key_Return);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(find<QPushButton>("castConfirmButton")->isEnabled());  // back to browsing
    EXPECT_EQ(dialog->details().cast().cellText(0, 1), u"Kmicic");
}

TEST_F(MainWindowSafetyTest, MnemonicsAndShortcutsBothWork) {
    open();
    makeActive();
    pressMnemonic(Qt::Key_N);
    EXPECT_EQ(counter(), Counter("1", "1"));
    QTest::keyClick(find<QLineEdit>("titleEdit"), Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(counter(), Counter("2", "2"));
    typeTitle(QStringLiteral("A"));
    pressMnemonic(Qt::Key_Z);
    EXPECT_EQ(storedTitle(1), u"A");
    typeTitle(QStringLiteral("C"));
    QTest::keyClick(find<QLineEdit>("titleEdit"), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(storedTitle(1), u"AC");
    pressMnemonic(Qt::Key_U);
    EXPECT_EQ(storedIds(), (std::vector<std::int32_t>{2}));
}

TEST_F(MainWindowSafetyTest, ASecondCopyOnlyReadsAndStoresNothing) {
    makeDatabase({u"Rejs"});
    // Another running copy: holds the database, stores an edit, and keeps running.
    int to_child[2];
    int from_child[2];
    ASSERT_EQ(::pipe(to_child), 0);
    ASSERT_EQ(::pipe(from_child), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        testing::RecordingSink sink;
        Database database(buildPaths(), sink);
        DatabaseHold hold(database.paths());
        testing::RecordingHandover pages;
        FilmTable table(database, pages);
        table.readRow(true);
        storeText(table.current().title, u"Rejs – poprawiony w pierwszej kopii");
        const bool ok = hold.held() && table.updateRow();
        const char reply = ok ? 'y' : 'n';
        (void)!::write(from_child[1], &reply, 1);
        char done;
        (void)!::read(to_child[0], &done, 1);
        ::_exit(0);
    }
    char reply = 0;
    ASSERT_EQ(::read(from_child[0], &reply, 1), 1);
    ASSERT_EQ(reply, 'y');

    open();
    activate();
    EXPECT_EQ(dialog->access(), DatabaseAccess::ReadOnly);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(
        ui.messages[0].first.contains("otwarta w innej uruchomionej kopii programu Ordavo"));
    EXPECT_EQ(text("titleEdit"), QStringLiteral("Rejs – poprawiony w pierwszej kopii"));
    EXPECT_TRUE(find<QLineEdit>("titleEdit")->isReadOnly());
    for (const char* button : {"newButton", "saveButton", "deleteButton", "frontOpenButton",
                               "castNewButton", "castSaveButton"}) {
        EXPECT_FALSE(find<QPushButton>(button)->isEnabled()) << button;
    }
    const auto before = testing::readBytes(db() / "KR_PDB.kr");
    find<QLineEdit>("titleEdit")->setText(QStringLiteral("stale"));
    deactivate();
    click("saveButton");
    dialog->close();
    EXPECT_EQ(testing::readBytes(db() / "KR_PDB.kr"), before);
    EXPECT_EQ(ui.messages.size(), 1u);  // said once

    (void)!::write(to_child[1], "x", 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    for (int fd : {to_child[0], to_child[1], from_child[0], from_child[1]}) {
        ::close(fd);
    }
}

TEST_F(MainWindowSafetyTest, AFailedDeleteLeavesTheFilmShownHeldAndStored) {
    makeDatabase({u"Rejs", u"Miś"});
    open();
    activate();
    std::filesystem::create_directories(db() / "KR_PDB.kr0/inside");  // in the temporary's way
    click("deleteButton");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(ui.messages[0].first.contains("KR_PDB.kr0")) << ui.messages[0].first.toStdString();
    EXPECT_EQ(text("titleEdit"), QStringLiteral("Rejs"));
    EXPECT_EQ(text("idEdit"), QStringLiteral("2"));
    deactivate();
    dialog->close();
    EXPECT_EQ(storedIds(), (std::vector<std::int32_t>{2, 3}));  // no copy appended
}

TEST_F(MainWindowSafetyTest, AShortHeaderMakesTheDatabaseReadOnlyAndSaysWhy) {
    makeDatabase({u"Rejs"});
    testing::truncateFile(db() / "KR.kr", 20);
    open();
    EXPECT_EQ(dialog->access(), DatabaseAccess::ReadOnly);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(ui.messages[0].first.contains(pathToQString(db() / "KR.kr")));
    EXPECT_TRUE(ui.messages[0].first.contains(QStringLiteral("niepełny")));
    EXPECT_EQ(text("titleEdit"), QStringLiteral("Rejs"));
    EXPECT_FALSE(find<QPushButton>("saveButton")->isEnabled());
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Ordavo (tylko do odczytu)"));
}

TEST_F(MainWindowSafetyTest, ZapiszOnAFullDiskSaysWhyAndKeepsTheTyping) {
    makeDatabase({u"Rejs"});
    open();
    makeActive();
    typeTitle(QStringLiteral(" – nowa wersja"));
    const auto before = testing::readBytes(db() / "KR_PDB.kr");
    {
        testing::FileSizeLimit limit(1000);
        QTest::keyClick(find<QLineEdit>("titleEdit"), Qt::Key_S, Qt::ControlModifier);
        click("saveButton");
    }
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0].second, kFileErrorTitle);
    EXPECT_TRUE(ui.messages[0].first.contains(QStringLiteral("Plik jest za duży")));
    EXPECT_EQ(text("titleEdit"), QStringLiteral("Rejs – nowa wersja"));
    EXPECT_EQ(testing::readBytes(db() / "KR_PDB.kr"), before);
    click("saveButton");
    EXPECT_EQ(storedTitle(0), u"Rejs – nowa wersja");
}

TEST_F(MainWindowSafetyTest, AFailedStartUpImportStoresNothingAndLeavesTheOriginals) {
    makeDatabase({u"Rejs"});
    for (const auto& entry : std::filesystem::directory_iterator(db())) {
        if (entry.is_regular_file()) {
            std::filesystem::rename(entry.path(), root.path() / entry.path().filename());
        }
    }
    std::filesystem::remove_all(db());
    // A bare table that cannot be read as a file.
    std::filesystem::remove(root.path() / "KR_OB.kr");
    std::filesystem::create_directory(root.path() / "KR_OB.kr");
    open();
    EXPECT_EQ(dialog->access(), DatabaseAccess::Unusable);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(ui.messages[0].first.contains(pathToQString(root.path() / "KR_OB.kr")));
    EXPECT_TRUE(ui.messages[0].first.contains(QStringLiteral("niczego nie zapisze")));
    for (const char* button : {"newButton", "saveButton", "deleteButton", "frontOpenButton"}) {
        EXPECT_FALSE(find<QPushButton>(button)->isEnabled()) << button;
    }
    typeTitle(QStringLiteral("Nowy film"));
    dialog->close();
    EXPECT_FALSE(std::filesystem::exists(db() / "KR.kr"));
    EXPECT_TRUE(std::filesystem::exists(root.path() / "KR_PDB.kr"));

    // Mended, the next start imports the originals.
    std::filesystem::remove(root.path() / "KR_OB.kr");
    testing::writeText(root.path() / "KR_OB.kr", "");
    ui = FakeUiService{};
    open();
    EXPECT_EQ(dialog->access(), DatabaseAccess::Writable);
    EXPECT_EQ(text("titleEdit"), QStringLiteral("Rejs"));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(MainWindowSafetyTest, ADatabaseThatCannotBeOpenedHoldsNothingOfThePreviousOne) {
    makeDatabase({u"Rejs"});
    open();
    activate();
    click("castNewButton");  // a cast row of film 2, saved
    click("castSaveButton");
    ASSERT_EQ(dialog->details().cast().rowCount(), 1u);

    // A folder with one table missing: damaged.
    const std::filesystem::path damaged = root.path() / "damaged";
    {
        testing::RecordingSink sink;
        Database other(buildPaths(damaged), sink);
        std::filesystem::create_directory(damaged);
        other.createMissing(false);
    }
    std::filesystem::remove(damaged / "KR_LZ.kr");
    const auto cast_before = testing::readBytes(damaged / "KR_OB.kr");
    ui.folders.push_back(pathToQString(damaged));
    QAction* open_database = dialog->findChild<QAction*>("openDatabaseAction");
    open_database->trigger();
    EXPECT_EQ(dialog->access(), DatabaseAccess::Unusable);
    EXPECT_EQ(dialog->details().cast().rowCount(), 0u);
    EXPECT_FALSE(find<QPushButton>("castSaveButton")->isEnabled());
    dialog->details().cast().saveRows();  // even asked directly, nothing is written
    EXPECT_EQ(testing::readBytes(damaged / "KR_OB.kr"), cast_before);
    EXPECT_TRUE(text("titleEdit").isEmpty());

    // A new folder whose header cannot be written (the disk is full).
    const std::filesystem::path full = root.path() / "full";
    std::filesystem::create_directory(full);
    ui.folders.push_back(pathToQString(full));
    ui.messages.clear();
    {
        testing::FileSizeLimit limit(10);
        open_database->trigger();
    }
    EXPECT_EQ(dialog->access(), DatabaseAccess::Unusable);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(ui.messages[0].first.contains(pathToQString(full / "KR.kr")));
    EXPECT_FALSE(ui.messages[0].first.contains("KR.kr0"));
    EXPECT_FALSE(find<QPushButton>("saveButton")->isEnabled());
    EXPECT_TRUE(text("titleEdit").isEmpty());
    EXPECT_EQ(counter(), Counter("0", "0"));
}

TEST_F(MainWindowSafetyTest, AFifoChosenAsACoverIsRefusedWithoutWaiting) {
    makeDatabase({u"Rejs"});
    open();
    const std::filesystem::path fifo = root.path() / "okładka.png";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    ui.files.push_back(pathToQString(fifo));
    click("frontOpenButton");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(ui.messages[0].first.contains(QStringLiteral("To nie jest zwykły plik")));
    EXPECT_TRUE(std::filesystem::is_empty(db() / "covers"));
}

TEST_F(MainWindowSafetyTest, AFilmRowWithIdZeroIsSavedInPlaceAndNeverAppendedAgain) {
    makeDatabase({});
    testing::appendFilms(db() / "KR_PDB.kr", {testing::makeFilm(0, u"bez numeru")});
    open();
    activate();
    EXPECT_EQ(text("idEdit"), QStringLiteral("0"));
    deactivate();
    deactivate();
    typeTitle(QStringLiteral("!"));
    deactivate();
    ui.answers = {Answer::Yes};
    dialog->close();
    EXPECT_EQ(storedIds(), (std::vector<std::int32_t>{0}));
    EXPECT_EQ(storedTitle(0), u"bez numeru!");
}

TEST_F(MainWindowSafetyTest, ARefusedNowyIsSaidOnceAndTheFilmComesBack) {
    makeDatabase({u"Rejs"});
    {
        testing::RecordingSink sink;
        Database database(buildPaths(), sink);
        DatabaseHeader header = database.readHeader();
        header.last_id = std::numeric_limits<std::int32_t>::max();
        std::vector<unsigned char> bytes(sizeof header);
        std::memcpy(bytes.data(), &header, sizeof header);
        testing::writeBytes(db() / "KR.kr", bytes);
    }
    open();
    activate();
    click("newButton");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].first.toStdString(), std::string(kFilmIdsExhaustedMessage));
    EXPECT_EQ(text("titleEdit"), QStringLiteral("Rejs"));
    EXPECT_EQ(text("idEdit"), QStringLiteral("2"));
    deactivate();
    deactivate();
    EXPECT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(storedIds(), (std::vector<std::int32_t>{2}));
}

TEST_F(MainWindowSafetyTest, TheFolderPromptStandsWholeInsideTheFolderDialog) {
    QtUiService real;
    QString shown;
    bool fits = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* prompt = dialog->findChild<QLabel*>("folderPrompt");
        ASSERT_NE(prompt, nullptr);
        shown = prompt->text();
        fits = prompt->isVisible() && prompt->wordWrap() &&
               prompt->height() >= prompt->heightForWidth(prompt->width());
        dialog->reject();
    });
    EXPECT_TRUE(real.chooseFolder(nullptr, QString::fromUtf8(kOpenDatabasePrompt)).isEmpty());
    EXPECT_EQ(shown, QString::fromUtf8(kOpenDatabasePrompt));
    EXPECT_TRUE(fits);
}

TEST_F(MainWindowSafetyTest, TakWhoseStoreFailsStaysOnTheFilmWithWhatWasTyped) {
    makeDatabase({u"Rejs", u"Miś"});
    open();
    activate();
    typeTitle(QStringLiteral(" – poprawiony"));
    {
        testing::FileSizeLimit limit(1000);  // the disk is full
        ui.answers = {Answer::Yes};
        click("nextButton");
        ui.answers = {Answer::Yes};
        dialog->close();
    }
    ASSERT_EQ(ui.questions.size(), 2u);
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0].second, kFileErrorTitle);
    EXPECT_TRUE(ui.messages[0].first.contains(pathToQString(db() / "KR_PDB.kr")));
    EXPECT_FALSE(ui.messages[0].first.contains(QStringLiteral("KR.redo")));
    EXPECT_TRUE(dialog->isVisible());  // not closed
    EXPECT_EQ(text("titleEdit"), QStringLiteral("Rejs – poprawiony"));
    EXPECT_EQ(counter(), Counter("1", "2"));
    EXPECT_EQ(storedTitle(0), u"Rejs");
    ui.answers = {Answer::Yes};
    dialog->close();
    EXPECT_EQ(storedTitle(0), u"Rejs – poprawiony");
}

TEST_F(MainWindowSafetyTest, AHeaderReplacedBehindTheWindowStopsItWritingAndSaysSo) {
    makeDatabase({u"Rejs"});
    open();
    activate();
    // A copy tool puts a new KR.kr in place (copy, then rename over it).
    std::filesystem::copy_file(db() / "KR.kr", root.path() / "KR.kr.new");
    std::filesystem::rename(root.path() / "KR.kr.new", db() / "KR.kr");
    const auto before = testing::readBytes(db() / "KR_PDB.kr");
    typeTitle(QStringLiteral("!"));
    click("saveButton");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(ui.messages[0].first.contains(QStringLiteral("został zastąpiony")));
    EXPECT_EQ(dialog->access(), DatabaseAccess::ReadOnly);
    EXPECT_FALSE(find<QPushButton>("saveButton")->isEnabled());
    deactivate();
    EXPECT_EQ(testing::readBytes(db() / "KR_PDB.kr"), before);
    EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(MainWindowSafetyTest, ARowEditorOfAReadOnlyWindowDoesNotOpen) {
    makeDatabase({u"Rejs"});
    testing::appendRows(db() / "KR_OB.kr", std::vector<Obsada>{testing::makeRow<Obsada>(1, 2)});
    testing::truncateFile(db() / "KR.kr", 20);  // read-only
    open();
    QTableView* cast = find<QTableView>("castList");
    cast->selectRow(0);
    QTest::mouseDClick(cast->viewport(), Qt::LeftButton, Qt::NoModifier,
                       cast->visualRect(cast->model()->index(0, 0)).center());
    EXPECT_FALSE(find<QPushButton>("castConfirmButton")->isEnabled());
    EXPECT_FALSE(find<QLineEdit>("castRoleEdit")->isEnabled());
}

TEST_F(MainWindowSafetyTest, ASuggestionPickedFromTheListIsAChange) {
    makeDatabase({u"Rejs", u"Miś"});
    open();
    auto* genre = find<QComboBox>("genreCombo");
    genre->setCurrentIndex(2);
    emit genre->activated(2);  // what a click on the third suggestion does
    click("nextButton");
    EXPECT_EQ(ui.questions.size(), 1u);
}

TEST_F(MainWindowSafetyTest, UsunWithNoFilmSaysNothing) {
    open();
    click("deleteButton");
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(counter(), Counter("0", "0"));
}

}  // namespace
}  // namespace ordavo
