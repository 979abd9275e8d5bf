#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/ckinokrat_dlg.h"
#include "export/ui/eksport_wizard.h"
#include "import/ui/csv_import_dialog.h"
#include "search/ui/wyszukiwarka.h"
#include "storage/text_field.h"
#include "testing/temp_folder.h"
#include "ui_support/qt_text.h"
#include "ui_support/testing/fake_ui_service.h"

namespace ordavo {
namespace {

using testing::FakeUiService;
using Counter = std::pair<QString, QString>;

class SearchExportTest : public ::testing::Test {
protected:
    std::filesystem::path db() const { return root.path() / "default_db"; }

    void makeDatabase(std::vector<std::u16string> titles) {
        testing::RecordingSink sink;
        Database database(buildPaths(), sink);
        database.createMissing(true);
        std::vector<FilmRecord> films;
        for (const auto& title : titles) {
            films.push_back(testing::makeFilm(*database.issueFilmId(), title));
        }
        testing::appendFilms(db() / "KR_PDB.kr", films);
    }
    CKinokratDlg& open() {
        window = std::make_unique<CKinokratDlg>(ui);
        window->show();
        return *window;
    }
    template <typename T = QWidget>
    T* find(QWidget* parent, const char* name) {
        T* widget = parent->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void click(const char* name) {
        QTest::mouseClick(find<QPushButton>(window.get(), name), Qt::LeftButton);
    }
    QString text(const char* name) { return find<QLineEdit>(window.get(), name)->text(); }
    Counter counter() { return {text("positionEdit"), text("countEdit")}; }
    bool indicatorShown() { return !find<QWidget>(window.get(), "filterIndicator")->isHidden(); }

    // Runs "Wyszukaj" from the menu: fills the dialog, then presses `button` inside its loop.
    void search(int field, const QString& phrase, const char* button = "searchButton") {
        auto connection = QObject::connect(
            window.get(), &CKinokratDlg::searchDialogOpened, [=, this](Wyszukiwarka* dialog) {
                find<QComboBox>(dialog, "fieldCombo")->setCurrentIndex(field);
                find<QLineEdit>(dialog, "phraseEdit")->setText(phrase);
                QTimer::singleShot(0, dialog, [=, this] {
                    QTest::mouseClick(find<QPushButton>(dialog, button), Qt::LeftButton);
                    if (dialog->isVisible())
                        dialog->reject();  // a search without matches
                });
            });
        window->findChild<QAction*>("searchAction")->trigger();
        QObject::disconnect(connection);
    }

    testing::TempFolder root;
    testing::WorkingFolderScope cwd{root.path()};
    FakeUiService ui;
    std::unique_ptr<CKinokratDlg> window;
};

TEST_F(SearchExportTest, ThePhraseIsMatchedExactly) {
    makeDatabase({u"Noc nad Wisłą"});
    Database database(buildPaths(), *std::make_unique<testing::RecordingSink>());
    struct Case {
        QString phrase;
        int field;
        bool found;
    };
    for (const Case& c :
         {Case{"wisł", 0, false}, Case{QStringLiteral("Wisł"), 0, true}, Case{"ad W", 0, true},
          Case{QStringLiteral("Noc nad Wisłą!"), 0, false}, Case{"", 0, true}, Case{"", 1, true},
          Case{"Noc", -1, false}, Case{"Noc", 1, false}}) {
        ui.messages.clear();
        TableKeeper films(buildPaths().file(DataFile::Films));
        FilmSearch search(films);
        Wyszukiwarka dialog(search, ui, nullptr);
        find<QComboBox>(&dialog, "fieldCombo")->setCurrentIndex(c.field);
        find<QLineEdit>(&dialog, "phraseEdit")->setText(c.phrase);
        dialog.search();
        ASSERT_EQ(ui.messages.size(), 1u) << c.phrase.toStdString();
        EXPECT_EQ(ui.messages[0].second, "Kinokrat - Wyniki wyszukiwania");
        EXPECT_EQ(ui.messages[0].first,
                  c.found ? QStringLiteral("Znaleziono 1 pasujących rekordów.")
                          : QStringLiteral("Nie znaleziono rekordów pasujących do wybranego "
                                           "kryterium."))
            << c.phrase.toStdString() << " field " << c.field;
        EXPECT_EQ(dialog.result() == QDialog::Accepted, c.found);
    }
}

TEST_F(SearchExportTest, TheFieldListHoldsTheFortyNineLabelsUnsortedWithNothingChosen) {
    makeDatabase({});
    TableKeeper films(buildPaths().file(DataFile::Films));
    FilmSearch search(films);
    Wyszukiwarka dialog(search, ui, nullptr);
    auto* combo = find<QComboBox>(&dialog, "fieldCombo");
    ASSERT_EQ(combo->count(), 49);
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_EQ(combo->itemText(10), QStringLiteral("Obsada - Zdjęcia - Imię i Nazwisko"));
    EXPECT_EQ(combo->itemText(42), QStringLiteral("Informacje o Filmie - System Dźwieku - Nazwa"));
    combo->setCurrentIndex(0);
    dialog.search();  // an empty table matches nothing
    EXPECT_TRUE(ui.messages.back().first.startsWith("Nie znaleziono"));
}

TEST_F(SearchExportTest, EnterRunsTheSearch) {
    makeDatabase({u"Rejs"});
    TableKeeper films(buildPaths().file(DataFile::Films));
    FilmSearch search(films);
    Wyszukiwarka dialog(search, ui, nullptr);
    dialog.show();
    find<QComboBox>(&dialog, "fieldCombo")->setCurrentIndex(0);
    find<QLineEdit>(&dialog, "phraseEdit")->setText("Rej");
    QTest::keyClick(find<QLineEdit>(&dialog, "phraseEdit"), Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.matches(), std::vector<std::int64_t>{0});
}

TEST_F(SearchExportTest, FilterModePagesTheMatchesWithoutWrapping) {
    makeDatabase({u"Rejs", u"Miś", u"Rejs II", u"Rejs III"});
    open();
    search(0, "Rejs");
    EXPECT_TRUE(indicatorShown());
    EXPECT_EQ(text("titleEdit"), "Rejs");
    EXPECT_EQ(counter(), Counter("1", "3"));
    struct Step {
        const char* button;
        const char* title;
        Counter counter;
    };
    for (const Step& step :
         {Step{"previousButton", "Rejs", {"1", "3"}}, Step{"nextButton", "Rejs II", {"2", "3"}},
          Step{"lastButton", "Rejs III", {"3", "3"}}, Step{"nextButton", "Rejs III", {"3", "3"}},
          Step{"firstButton", "Rejs", {"1", "3"}}}) {
        click(step.button);
        EXPECT_EQ(text("titleEdit"), step.title) << step.button;
        EXPECT_EQ(counter(), step.counter) << step.button;
    }
    // At an end, ">" does not even reload: typed text stays on screen.
    click("lastButton");
    find<QLineEdit>(window.get(), "titleEdit")->setText("typed");
    click("nextButton");
    EXPECT_EQ(text("titleEdit"), "typed");

    search(0, QStringLiteral("Miś"));  // a second search replaces the list
    EXPECT_EQ(text("titleEdit"), QStringLiteral("Miś"));
    EXPECT_EQ(counter(), Counter("1", "1"));
    for (const char* button : {"firstButton", "previousButton", "nextButton", "lastButton"}) {
        click(button);
        EXPECT_EQ(text("titleEdit"), QStringLiteral("Miś")) << button;
        EXPECT_EQ(counter(), Counter("1", "1")) << button;
    }
    search(0, "nothing like it");  // no match: everything stays
    EXPECT_EQ(counter(), Counter("1", "1"));
    EXPECT_TRUE(indicatorShown());
}

TEST_F(SearchExportTest, FilterModeRefusesNewAndDeleteAndClearFilterEndsIt) {
    makeDatabase({u"Rejs", u"Miś", u"Rejs II"});
    open();
    search(0, "Rejs");
    click("nextButton");
    ui.messages.clear();
    click("newButton");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].first,
              QStringLiteral("W trybie sortowanym nie można dodawać nowych rekordów"));
    click("deleteButton");
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[1].first,
              QStringLiteral("W trybie sortowanym nie można usuwać rekordów."));
    EXPECT_EQ(text("titleEdit"), "Rejs");     // the first film of the whole table
    EXPECT_EQ(counter(), Counter("2", "2"));  // while the counter keeps the filter's place
    EXPECT_EQ(std::filesystem::file_size(db() / "KR_PDB.kr"), 3u * kFilmRowSize);

    window->findChild<QAction*>("clearFilterAction")->trigger();
    EXPECT_FALSE(indicatorShown());
    EXPECT_EQ(counter(), Counter("1", "3"));
    click("newButton");
    EXPECT_EQ(counter(), Counter("4", "4"));
}

TEST_F(SearchExportTest, AnulujLeavesFilterModeExactlyAsItWas) {
    makeDatabase({u"Rejs", u"Miś", u"Rejs II"});
    open();
    search(0, "Rejs");
    click("nextButton");
    search(0, QStringLiteral("Miś"), "cancelButton");
    EXPECT_TRUE(indicatorShown());
    EXPECT_EQ(counter(), Counter("2", "2"));
    EXPECT_TRUE(window->filter().filter_mode);
    click("previousButton");
    EXPECT_EQ(text("titleEdit"), "Rejs");
}

class ExportWizardTest : public SearchExportTest {
protected:
    Eksport_Wizard* wizard() {
        window->findChild<QAction*>("exportAction")->trigger();
        auto wizards = window->findChildren<Eksport_Wizard*>();
        return wizards.back();
    }
    void tick(Eksport_Wizard* w, std::initializer_list<const char*> boxes) {
        for (const char* box : boxes)
            find<QCheckBox>(w, box)->setChecked(true);
    }
    std::string exported(const std::string& name) {
        const auto bytes = testing::readBytes(root.path() / name);
        return {bytes.begin(), bytes.end()};
    }
};

TEST_F(ExportWizardTest, EachExportTakesTheFilmShownAtThatMoment) {
    makeDatabase({u"Rejs", u"Miś"});
    open();
    Eksport_Wizard* first = wizard();
    Eksport_Wizard* second = wizard();
    EXPECT_NE(first, second);
    EXPECT_TRUE(first->isVisible() && second->isVisible());
    EXPECT_FALSE(first->isModal());
    tick(first, {"filmsBox"});
    EXPECT_FALSE(find<QCheckBox>(second, "filmsBox")->isChecked());

    ui.saveFiles.push_back(pathToQString(root.path() / "one.csv"));
    click("nextButton");  // the main window stays usable
    QTest::mouseClick(find<QPushButton>(first, "exportButton"), Qt::LeftButton);
    EXPECT_EQ(ui.lastFilters, QStringList{"Pliki csv (*.csv)"});
    const std::string one = exported("one.csv");
    EXPECT_NE(one.find("\"3\",\"Mi"), std::string::npos);
    EXPECT_EQ(one.find("Rejs"), std::string::npos);
    EXPECT_EQ(one.rfind("Ordavo - wyeksportowane dane\r\n", 0), 0u);

    ui.saveFiles.push_back(pathToQString(root.path() / "wynik"));  // used as typed
    click("previousButton");
    QTest::mouseClick(find<QPushButton>(first, "exportButton"), Qt::LeftButton);
    EXPECT_NE(exported("wynik").find("Rejs"), std::string::npos);
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(ExportWizardTest, AllBoxesOffWritesTheBannerAndCancelWritesNothing) {
    makeDatabase({u"Rejs"});
    open();
    Eksport_Wizard* w = wizard();
    QTest::mouseClick(find<QPushButton>(w, "exportButton"), Qt::LeftButton);  // cancelled
    EXPECT_TRUE(std::filesystem::is_empty(root.path() / "default_db/covers"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root.path()), {}), 1);
    ui.saveFiles.push_back(pathToQString(root.path() / "empty.csv"));
    tick(w, {"wholeDatabaseBox"});
    QTest::mouseClick(find<QPushButton>(w, "exportButton"), Qt::LeftButton);
    EXPECT_EQ(exported("empty.csv"), "Ordavo - wyeksportowane dane \r\n");
}

TEST_F(ExportWizardTest, AFailedExportIsOneMessage) {
    makeDatabase({u"Rejs"});
    open();
    Eksport_Wizard* w = wizard();
    tick(w, {"filmsBox"});
    ui.saveFiles.push_back(pathToQString(root.path() / "no such folder" / "x.csv"));
    QTest::mouseClick(find<QPushButton>(w, "exportButton"), Qt::LeftButton);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(ui.messages[0].first.contains("x.csv"));
    EXPECT_EQ(ui.messages[0].second, "Kinokrat - Eksport");
}

TEST_F(ExportWizardTest, ATargetThatIsNotARegularFileIsRefusedWithAMessage) {
    makeDatabase({u"Rejs"});
    open();
    Eksport_Wizard* w = wizard();
    tick(w, {"filmsBox"});
    ASSERT_EQ(::mkfifo((root.path() / "potok.csv").c_str(), 0644), 0);  // no reader: would wait
    std::filesystem::create_directory(root.path() / "katalog.csv");
    for (const char* name : {"potok.csv", "katalog.csv"}) {
        ui.messages.clear();
        ui.saveFiles.push_back(pathToQString(root.path() / name));
        QTest::mouseClick(find<QPushButton>(w, "exportButton"), Qt::LeftButton);
        ASSERT_EQ(ui.messages.size(), 1u) << name;
        EXPECT_TRUE(ui.messages[0].first.contains(QString::fromUtf8(name)));
        EXPECT_TRUE(ui.messages[0].first.contains(QString::fromUtf8("to nie jest zwykły plik")));
        EXPECT_EQ(ui.messages[0].second, "Kinokrat - Eksport");
    }
    EXPECT_TRUE(std::filesystem::is_empty(root.path() / "katalog.csv"));
    EXPECT_TRUE(w->isVisible());
}

TEST_F(ExportWizardTest, AnulujEscapeAndEnterCloseTheWizard) {
    makeDatabase({u"Rejs"});
    open();
    for (int way = 0; way < 3; ++way) {
        QPointer<Eksport_Wizard> w = wizard();
        if (way == 0)
            QTest::mouseClick(find<QPushButton>(w, "cancelButton"), Qt::LeftButton);
        if (way == 1)
            QTest::keyClick(w, Qt::Key_Escape);
        if (way == 2)
            QTest::keyClick(find<QCheckBox>(w, "filmsBox"), Qt::Key_Return);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(w.isNull()) << way;
    }
}

TEST_F(SearchExportTest, ImportFromTheMenuStoresTheTypingShowsTheSummaryAndThenTheFilms) {
    makeDatabase({u"Rejs"});
    const std::filesystem::path file = root.path() / "filmy.csv";
    testing::writeText(file, "Tytuł;Rok produkcji\nMiś;1981\nSeksmisja;1984\nRejs;\n");
    open();
    auto* title = find<QLineEdit>(window.get(), "titleEdit");
    title->setFocus();
    title->end(false);
    QTest::keyClicks(title, " 1970");  // typed, not yet stored
    ui.files.push_back(pathToQString(file));
    QString summary;
    bool import_enabled = false;
    ui.onDialog = [&](QDialog& dialog) {
        summary = find<QPlainTextEdit>(&dialog, "summaryText")->toPlainText();
        import_enabled = find<QPushButton>(&dialog, "importButton")->isEnabled();
        QTest::keyClick(&dialog, Qt::Key_Return);
        EXPECT_TRUE(dialog.isVisible()) << "Enter does not start the import";
        return static_cast<int>(QDialog::Accepted);
    };
    find<QAction>(window.get(), "importAction")->trigger();

    EXPECT_EQ(ui.dialogs, 1);
    EXPECT_TRUE(import_enabled);
    EXPECT_TRUE(summary.contains(QStringLiteral("Plik: tabela filmów"))) << summary.toStdString();
    EXPECT_TRUE(summary.contains(QStringLiteral("do zaimportowania: 3"))) << summary.toStdString();
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_TRUE(ui.messages.back().first.startsWith(QStringLiteral("Zaimportowano.")));
    EXPECT_EQ(counter(), Counter(QStringLiteral("1"), QStringLiteral("4")));
    EXPECT_EQ(text("titleEdit"), QStringLiteral("Rejs 1970")) << "the shown film stays";

    const std::vector<unsigned char> bytes = testing::readBytes(db() / "KR_PDB.kr");
    ASSERT_EQ(bytes.size(), 4 * kFilmRowSize);
    FilmRecord first{};
    std::memcpy(&first, bytes.data(), sizeof first);
    EXPECT_EQ(std::u16string(readText(first.title)), u"Rejs 1970") << "stored before the dialogs";
}

TEST_F(SearchExportTest, AFileThatCannotBeImportedKeepsImportOffAndWritesNothing) {
    makeDatabase({u"Rejs"});
    const std::filesystem::path file = root.path() / "zly.csv";
    testing::writeText(file,
                       "Ordavo - wyeksportowane dane\r\nTabela Obsada\r\n\"ID\",\"Wiek\"\r\n");
    const std::vector<unsigned char> before = testing::readBytes(db() / "KR_PDB.kr");
    open();
    ui.files.push_back(pathToQString(file));
    QString summary;
    ui.onDialog = [&](QDialog& dialog) {
        summary = find<QPlainTextEdit>(&dialog, "summaryText")->toPlainText();
        EXPECT_FALSE(find<QPushButton>(&dialog, "importButton")->isEnabled());
        return static_cast<int>(QDialog::Accepted);  // as if it could be pressed all the same
    };
    find<QAction>(window.get(), "importAction")->trigger();
    EXPECT_TRUE(summary.contains(QStringLiteral("wiersz 3, kolumna 2"))) << summary.toStdString();
    EXPECT_EQ(testing::readBytes(db() / "KR_PDB.kr"), before);
    EXPECT_EQ(counter(), Counter(QStringLiteral("1"), QStringLiteral("1")));
}

TEST_F(SearchExportTest, ImportOverAnEmptyTableAsksWhatBecomesOfTheTyping) {
    makeDatabase({});
    const std::filesystem::path file = root.path() / "filmy.csv";
    testing::writeText(file, "Tytuł\nMiś\n");
    struct Case {
        Answer answer;
        int dialogs;
        Counter counter;
        QString shown;
    };
    for (const Case& c :
         {Case{Answer::Cancel, 0, {"0", "0"}, "Rejs"}, Case{Answer::Yes, 1, {"1", "2"}, "Rejs"}}) {
        SCOPED_TRACE(static_cast<int>(c.answer));
        open();
        auto* title = find<QLineEdit>(window.get(), "titleEdit");
        title->setFocus();
        QTest::keyClicks(title, "Rejs");
        ui.questions.clear();
        ui.answers = {c.answer};
        ui.dialogs = 0;
        ui.files = {pathToQString(file)};
        ui.onDialog = [](QDialog&) { return static_cast<int>(QDialog::Accepted); };
        find<QAction>(window.get(), "importAction")->trigger();

        EXPECT_EQ(ui.questions.size(), 1u) << "asked before the first film is shown over it";
        EXPECT_EQ(ui.dialogs, c.dialogs);
        EXPECT_EQ(counter(), c.counter);
        EXPECT_EQ(text("titleEdit"), c.shown) << "the typed film, stored, stays shown";
    }
}

}  // namespace
}  // namespace ordavo
