#include <gtest/gtest.h>

#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "app/ckinokrat_dlg.h"
#include "app/cover_view.h"
#include "ui_support/qt_text.h"
#include "ui_support/testing/fake_ui_service.h"
#include "app/tests/main_window_fixture.h"
#include "storage/text_field.h"
#include "testing/temp_folder.h"

namespace ordavo {
namespace {

TEST_F(MainWindowTest, FirstStartInAnEmptyFolderShowsAnEmptyDatabase) {
    CKinokratDlg& window = open();
    EXPECT_FALSE(window.startupFailed());
    EXPECT_EQ(counter(), Counter("0", "0"));
    EXPECT_EQ(text("idEdit"), "0");
    EXPECT_TRUE(std::filesystem::is_directory(db() / "covers"));
    EXPECT_EQ(std::filesystem::file_size(db() / "KR.kr"), 36u);
    EXPECT_FALSE(find<QPushButton>("frontOpenButton")->isEnabled());
    EXPECT_TRUE(find<QWidget>("filterIndicator")->isHidden());
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(MainWindowTest, StartUpImportsTheNineFilesOfTheWorkingFolder) {
    makeDatabase({u"Rejs", u"Miś"});
    for (const auto& entry : std::filesystem::directory_iterator(db())) {
        if (entry.is_regular_file()) {
            std::filesystem::rename(entry.path(), root.path() / entry.path().filename());
        }
    }
    open();
    EXPECT_EQ(text("titleEdit"), "Rejs");
    EXPECT_EQ(counter(), Counter("1", "2"));
    EXPECT_TRUE(std::filesystem::exists(db() / "KR_PDB.kr"));
    EXPECT_FALSE(std::filesystem::exists(root.path() / "KR_PDB.kr"));
}

TEST_F(MainWindowTest, ADamagedDatabaseStopsStartUpAfterTwoMessages) {
    std::filesystem::create_directory(db());
    testing::writeText(db() / "KR_PDB.kr", "x");  // a table with data and no header
    CKinokratDlg& window = open();
    EXPECT_TRUE(window.startupFailed());
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_TRUE(ui.messages[0].first.startsWith("Baza danych jest uszkodzona !!!!"));
    EXPECT_EQ(ui.messages[0].second, "Kinokrat");
    window.close();  // nothing is written on the way out
    EXPECT_EQ(std::filesystem::file_size(db() / "KR_PDB.kr"), 1u);
    EXPECT_FALSE(std::filesystem::exists(db() / "KR.kr"));
}

TEST_F(MainWindowTest, StartUpFinishesADatabaseWhoseCreationWasCutShort) {
    // A first start killed before it wrote the header: empty tables only.
    std::filesystem::create_directory(db());
    testing::writeText(db() / "KR_PDB.kr", "");
    testing::writeText(db() / "KR_OC.kr", "");
    CKinokratDlg& window = open();
    EXPECT_FALSE(window.startupFailed());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(std::filesystem::file_size(db() / "KR.kr"), 36u);
    EXPECT_EQ(counter(), Counter("0", "0"));
}

TEST_F(MainWindowTest, StartUpFinishesAFilmSaveThatWasCutShortBeforeShowingIt) {
    makeDatabase({u"Rejs", u"Miś"});
    FilmRecord saved = testing::makeFilm(2, u"Rejs (wersja reżyserska)");
    for (const FilmFieldInfo& field : kFilmFields) {
        if (field.member != "title") {
            setFieldText(saved, field, u"zapisane");
        }
    }
    testing::leaveKilledRowWrite(db() / "KR_PDB.kr", 0, testing::filmBytes(saved), 5000);
    open();
    EXPECT_EQ(text("titleEdit"), "Rejs (wersja reżyserska)");
    EXPECT_EQ(testing::readBytes(db() / "KR_PDB.kr").size(), 2 * kFilmRowSize);
    EXPECT_EQ(storedTitle(0), u"Rejs (wersja reżyserska)");
    EXPECT_EQ(std::memcmp(testing::readBytes(db() / "KR_PDB.kr").data(), &saved, sizeof saved), 0);
    EXPECT_FALSE(std::filesystem::exists(db() / "KR_PDB.kr.redo"));
}

TEST_F(MainWindowTest, PagingWrapsForwardAndStopsBackward) {
    makeDatabase({u"Rejs", u"Miś", u"Seksmisja"});
    open();
    struct Step {
        const char* button;
        const char* title;
        Counter counter;
    };
    for (const Step& step :
         {Step{"previousButton", "Rejs", {"1", "3"}}, Step{"nextButton", "Miś", {"2", "3"}},
          Step{"lastButton", "Seksmisja", {"3", "3"}}, Step{"nextButton", "Rejs", {"1", "3"}},
          Step{"lastButton", "Seksmisja", {"3", "3"}}, Step{"previousButton", "Miś", {"2", "3"}},
          Step{"firstButton", "Rejs", {"1", "3"}}}) {
        click(step.button);
        EXPECT_EQ(text("titleEdit"), QString::fromUtf8(step.title)) << step.button;
        EXPECT_EQ(counter(), step.counter) << step.button;
    }
}

TEST_F(MainWindowTest, PagingAnEmptyTableOnlyRefreshesTheCounter) {
    open();
    for (const char* button : {"firstButton", "previousButton", "nextButton", "lastButton"}) {
        click(button);
        EXPECT_EQ(counter(), Counter("0", "0"));
    }
    EXPECT_EQ(std::filesystem::file_size(db() / "KR_PDB.kr"), 0u);
}

TEST_F(MainWindowTest, NowyOnAnEmptyTableCreatesFilmTwo) {
    open();
    click("newButton");
    EXPECT_EQ(text("idEdit"), "2");
    EXPECT_EQ(counter(), Counter("1", "1"));
    EXPECT_TRUE(find<QPushButton>("frontOpenButton")->isEnabled());
    EXPECT_TRUE(find<QPushButton>("backRemoveButton")->isEnabled());
}

TEST_F(MainWindowTest, ZapiszCutsOverLongTextAndShowsWhatWasStored) {
    makeDatabase({u"Rejs"});
    open();
    find<QLineEdit>("titleEdit")->setText(QString(600, QChar(u'ż')));
    find<QLineEdit>("runningTimeEdit")->setText(QString(60, QChar('9')));
    click("saveButton");
    EXPECT_EQ(text("titleEdit"), QString(500, QChar(u'ż')));
    EXPECT_EQ(text("runningTimeEdit"), QString(50, QChar('9')));
    EXPECT_EQ(storedTitle(0), std::u16string(500, u'ż'));
}

TEST_F(MainWindowTest, ZapiszWithNoFilmHeldCreatesAFilm) {
    open();
    testing::typeText(find<QLineEdit>("titleEdit"), QStringLiteral("Żółta łódź"));
    click("saveButton");
    EXPECT_EQ(text("idEdit"), "2");
    EXPECT_EQ(text("titleEdit"), QStringLiteral("Żółta łódź"));
    EXPECT_EQ(counter(), Counter("1", "1"));
    EXPECT_TRUE(find<QPushButton>("frontOpenButton")->isEnabled());
    EXPECT_EQ(storedTitle(0), u"Żółta łódź");
}

TEST_F(MainWindowTest, UsunOfTheOnlyFilmEmptiesTheTable) {
    makeDatabase({u"Rejs"});
    open();
    click("deleteButton");
    EXPECT_EQ(std::filesystem::file_size(db() / "KR_PDB.kr"), 0u);
    EXPECT_EQ(text("titleEdit"), "Rejs");  // the deleted film's text stays on screen
    EXPECT_EQ(text("idEdit"), "0");
    EXPECT_EQ(counter(), Counter("0", "0"));
    EXPECT_FALSE(find<QPushButton>("frontOpenButton")->isEnabled());
    dialog->close();  // and does not come back when the window closes
    EXPECT_EQ(std::filesystem::file_size(db() / "KR_PDB.kr"), 0u);
}

TEST_F(MainWindowTest, DeactivationSavesOnlyAfterTheWindowWasActive) {
    makeDatabase({u"Rejs", u"Miś"});
    open(false);
    find<QLineEdit>("titleEdit")->setText("typed before activation");
    deactivate();  // caused by start-up itself: ignored, and nothing typed is thrown away
    EXPECT_EQ(text("titleEdit"), "typed before activation");
    EXPECT_EQ(storedTitle(0), u"Rejs");

    activate();
    deactivate();
    EXPECT_EQ(storedTitle(0), u"typed before activation");
    find<QLineEdit>("titleEdit")->setText("second");
    deactivate();
    EXPECT_EQ(storedTitle(0), u"second");
}

TEST_F(MainWindowTest, ClosingStoresTheShownFilm) {
    makeDatabase({u"Rejs"});
    open();
    find<QLineEdit>("titleEdit")->end(false);
    testing::typeText(find<QLineEdit>("titleEdit"), QStringLiteral(" – wersja źródłowa"));
    EXPECT_EQ(text("titleEdit"), QStringLiteral("Rejs – wersja źródłowa"));
    ui.answers = {Answer::Yes};
    dialog->close();
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(ui.questions[0].first,
              QStringLiteral("Zapisać zmiany w filmie „Rejs – wersja źródłowa”?"));
    EXPECT_EQ(storedTitle(0), u"Rejs – wersja źródłowa");
}

TEST_F(MainWindowTest, SuggestionsAreInPolishOrder) {
    open();
    const auto items = [](QComboBox* combo) {
        QStringList list;
        for (int i = 0; i < combo->count(); ++i)
            list << combo->itemText(i);
        return list;
    };
    EXPECT_EQ(items(find<QComboBox>("genreCombo")),
              QStringList({"Akcja", "Bajka", "Dokument", "Dramat", "Horror", "Komedia",
                           QStringLiteral("Kryminał"), "Paradokument", "Sensacja"}));
    EXPECT_EQ(items(find<QComboBox>("mediumTypeCombo")),
              QStringList({"BD-DVD", "DVD-ROM", "HD-DVD", "VCD", "VHS"}));
    EXPECT_EQ(find<QComboBox>("genreCombo")->currentText(), "");
}

TEST_F(MainWindowTest, AnyGenreAndMediumTextIsStoredAsTyped) {
    makeDatabase({u"Rejs"});
    open();
    find<QComboBox>("genreCombo")->setEditText(QStringLiteral("Dramat obyczajowy"));
    find<QComboBox>("mediumTypeCombo")->setEditText(QStringLiteral("Taśma 8 mm"));
    click("saveButton");
    click("nextButton");
    EXPECT_EQ(find<QComboBox>("genreCombo")->currentText(), QStringLiteral("Dramat obyczajowy"));
    EXPECT_EQ(find<QComboBox>("mediumTypeCombo")->currentText(), QStringLiteral("Taśma 8 mm"));
}

class CoverTest : public MainWindowTest {
protected:
    QString image(const std::string& name, QSize size, QColor color) {
        const std::filesystem::path file = root.path() / "pictures" / name;
        std::filesystem::create_directories(file.parent_path());
        const QString path = pathToQString(file);
        QImage picture(size, QImage::Format_RGB32);
        picture.fill(color);
        EXPECT_TRUE(picture.save(path));
        return path;
    }
    CoverView* front() { return find<CoverView>("frontCover"); }
};

TEST_F(CoverTest, AnAttachedCoverIsCopiedStoredAndStretched) {
    makeDatabase({u"Rejs"});
    open();
    EXPECT_FALSE(front()->hasImage());  // white placeholder
    ui.files.push_back(image("front.png", QSize(300, 100), Qt::red));
    click("frontOpenButton");
    EXPECT_EQ(ui.lastFilters,
              QStringList({"Pliki graficzne (*.bmp)", " (*.jpg)", " (*.jpeg)", " (*.png)"}));
    ASSERT_TRUE(front()->hasImage());
    EXPECT_EQ(front()->path(), pathToQString(db() / "covers" / "front.png"));
    EXPECT_EQ(front()->image().pixelColor(0, 0), QColor(Qt::red));
    EXPECT_TRUE(std::filesystem::exists(db() / "covers/front.png"));

    click("frontRemoveButton");
    EXPECT_FALSE(front()->hasImage());
    EXPECT_TRUE(std::filesystem::exists(db() / "covers/front.png"));  // the copy stays
}

TEST_F(CoverTest, ACoverNamedLikeAnotherCoversTemporaryFileStays) {
    makeDatabase({u"Rejs", u"Miś"});
    open();
    const QString png = image("a/front.png", QSize(40, 40), Qt::green);
    std::filesystem::rename(qStringToPath(png), qStringToPath(png + "0"));
    ui.files.push_back(png + "0");
    click("frontOpenButton");
    click("nextButton");
    ui.files.push_back(image("b/front.png", QSize(40, 40), Qt::blue));
    click("frontOpenButton");
    EXPECT_TRUE(std::filesystem::exists(db() / "covers/front.png0"));
    EXPECT_TRUE(std::filesystem::exists(db() / "covers/front.png"));
    click("previousButton");
    EXPECT_EQ(front()->image().pixelColor(5, 5), QColor(Qt::green));
}

TEST_F(CoverTest, ASecondImageOfTheSameNameDoesNotReplaceTheFirst) {
    makeDatabase({u"Rejs", u"Miś"});
    open();
    ui.files.push_back(image("a/front.png", QSize(40, 40), Qt::red));
    click("frontOpenButton");
    click("nextButton");
    ui.files.push_back(image("b/front.png", QSize(40, 40), Qt::blue));
    click("frontOpenButton");
    EXPECT_EQ(front()->path(), pathToQString(db() / "covers" / "front (2).png"));
    EXPECT_EQ(front()->image().pixelColor(5, 5), QColor(Qt::blue));
    click("previousButton");
    EXPECT_EQ(front()->image().pixelColor(5, 5), QColor(Qt::red));

    ui.files.push_back(image("c/front.png", QSize(40, 40), Qt::red));  // same bytes: shared
    click("frontOpenButton");
    EXPECT_EQ(front()->path(), pathToQString(db() / "covers" / "front.png"));
}

TEST_F(CoverTest, AFolderWithoutCoversGetsOneAtTheFirstAttach) {
    makeDatabase({u"Rejs"});
    open();
    std::filesystem::remove_all(db() / "covers");  // as a start-up import leaves a database
    ui.files.push_back(image("front.png", QSize(40, 40), Qt::red));
    click("frontOpenButton");
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(front()->path(), pathToQString(db() / "covers" / "front.png"));
    EXPECT_TRUE(front()->hasImage());
}

TEST_F(CoverTest, AFailedCopyIsReportedAndChangesNothing) {
    makeDatabase({u"Rejs"});
    open();
    std::filesystem::remove_all(db() / "covers");
    testing::writeText(db() / "covers", "a file where the folder should be");
    ui.files.push_back(image("front.png", QSize(40, 40), Qt::red));
    click("frontOpenButton");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(ui.messages[0].first.contains(pathToQString(db() / "covers" / "front.png")))
        << ui.messages[0].first.toStdString();
    EXPECT_FALSE(ui.messages[0].first.contains("front.png0"));
    EXPECT_FALSE(front()->hasImage());
    const auto bytes = testing::readBytes(db() / "KR_PDB.kr");
    EXPECT_EQ(bytes[2410], 0);  // no path stored
}

TEST_F(CoverTest, MissingUndecodableAndAbsurdImagesShowThePlaceholder) {
    makeDatabase({u"Rejs"});
    open();
    std::filesystem::create_directories(root.path() / "pictures");
    testing::writeText(root.path() / "pictures/broken.jpg", "not a jpeg at all");
    // A BMP whose header claims 100000 x 100000 pixels of 24 bits.
    std::vector<unsigned char> bmp(54, 0);
    const auto put32 = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bmp[at + i] = static_cast<unsigned char>(value >> (8 * i));
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, 54);
    put32(10, 54);
    put32(14, 40);
    put32(18, 100000);
    put32(22, 100000);
    bmp[26] = 1;
    bmp[28] = 24;
    testing::writeBytes(root.path() / "pictures/huge.bmp", bmp);

    for (const char* name : {"broken.jpg", "huge.bmp"}) {
        ui.files.push_back(pathToQString(root.path() / "pictures" / name));
        click("frontOpenButton");
        EXPECT_FALSE(front()->hasImage()) << name;
    }
    std::filesystem::remove(db() / "covers/huge.bmp");
    click("firstButton");
    EXPECT_FALSE(front()->hasImage());
}

TEST_F(MainWindowTest, OpeningAnEmptyFolderCreatesADatabaseThere) {
    makeDatabase({u"Rejs"});
    open();
    const std::filesystem::path other = root.path() / "inna baza ąę";
    std::filesystem::create_directory(other);
    ui.folders.push_back(pathToQString(other));
    dialog->findChild<QAction*>("openDatabaseAction")->trigger();
    EXPECT_EQ(ui.lastPrompt, QString::fromUtf8(kOpenDatabasePrompt));
    EXPECT_EQ(std::filesystem::file_size(other / "KR.kr"), 36u);
    EXPECT_TRUE(std::filesystem::is_directory(other / "covers"));
    EXPECT_EQ(text("titleEdit"), "");
    EXPECT_EQ(counter(), Counter("0", "0"));

    ui.folders.push_back(pathToQString(db()));  // and back to the one with a film
    dialog->findChild<QAction*>("openDatabaseAction")->trigger();
    EXPECT_EQ(text("titleEdit"), "Rejs");
    EXPECT_EQ(counter(), Counter("1", "1"));

    dialog->findChild<QAction*>("openDatabaseAction")->trigger();  // cancelled: no change
    EXPECT_EQ(text("titleEdit"), "Rejs");
}

}  // namespace
}  // namespace ordavo
