#include <gtest/gtest.h>

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>

#include "app/tests/list_window_fixture.h"

namespace ordavo::testing {
namespace {

QStringList titles(QTableView* list) {
    QStringList result;
    for (int column = 0; column < list->model()->columnCount(); ++column) {
        result << list->model()->headerData(column, Qt::Horizontal).toString();
    }
    return result;
}

std::vector<int> widths(QTableView* list) {
    std::vector<int> result;
    for (int column = 0; column < list->model()->columnCount(); ++column) {
        result.push_back(list->horizontalHeader()->sectionSize(column));
    }
    return result;
}

class ListPagesTest : public ListWindowTest {};

TEST_F(ListPagesTest, LoansShowTheReturnDateThirdButStoreItSecond) {
    makeDatabase(1);
    Wypozycz_Innym loan = makeRow<Wypozycz_Innym>(1, 2);
    storeText(loan.loan_date, u"1.05.2024");
    storeText(loan.return_date, u"20.05.2024");
    storeText(loan.condition_before, u"nowa");
    storeText(loan.condition_after, u"porysowana");
    storeText(loan.person, u"Jan Kowalski");
    storeText(loan.film_catalogue_number, u"K-7");
    appendRows(tablePath(kWypozyczInnymLayout), std::vector{loan});
    open();

    EXPECT_EQ(titles(view("loansTo")),
              QStringList({"Data wypożyczenia", "Stan przed wypożyczeniem", "Data oddania",
                           "Stan po oddaniu", "Osoba", "Nr katalogowy filmu", "ID", "IDPDB"}));
    EXPECT_EQ(widths(view("loansTo")), (std::vector{100, 150, 100, 150, 150, 150, 150, 150}));
    EXPECT_EQ(titles(view("loansFrom")), titles(view("loansTo")));
    EXPECT_EQ(cell("loansTo", 0, 1), "nowa");
    EXPECT_EQ(cell("loansTo", 0, 2), "20.05.2024");

    clickItem("loansTo", 0);
    click("loansTo", "Edit");
    EXPECT_EQ(box("loansTo", "return_date")->text(), "20.05.2024");
    EXPECT_EQ(box("loansTo", "condition_before")->text(), "nowa");
    EXPECT_EQ(box("loansTo", "person")->text(), "Jan Kowalski");
    EXPECT_EQ(box("loansTo", "condition_after")->text(), "porysowana");
    box("loansTo", "return_date")->setText(QString(30, QChar(u'9')));
    click("loansTo", "Confirm");
    click("loansTo", "Save");
    const Bytes stored = readBytes(tablePath(kWypozyczInnymLayout));
    Wypozycz_Innym back{};
    ASSERT_EQ(stored.size(), sizeof back);
    std::memcpy(&back, stored.data(), sizeof back);
    EXPECT_EQ(readText(back.return_date), std::u16string(20, u'9'));
    EXPECT_EQ(readText(back.condition_before), u"nowa");
    EXPECT_EQ(readText(back.loan_date), u"1.05.2024");

    // The lower editor labels the condition before the loan as its users know it.
    const auto labelTexts = [this](const char* role) {
        QStringList texts;
        for (QLabel* label : editor(role)->findChildren<QLabel*>()) {
            texts << label->text();
        }
        return texts;
    };
    EXPECT_TRUE(labelTexts("loansTo").contains("Stan przed wypożyczeniem"));
    EXPECT_TRUE(labelTexts("loansFrom").contains("Stan przed wypożyczeniam"));
    EXPECT_TRUE(labelTexts("loansFrom").contains("Nr Katalogowy"));
}

TEST_F(ListPagesTest, CompanyListsDifferInTheEmailTitleAndThePhoneWidths) {
    makeDatabase(1);
    open();
    EXPECT_EQ(titles(view("producers")),
              QStringList({"Nazwa firmy", "Adres", "Telefon", "Fax", "E-Mail", "Strona WWW",
                           "Narodowość", "ID", "IDPDB"}));
    EXPECT_EQ(widths(view("producers")),
              (std::vector{150, 150, 100, 100, 150, 150, 150, 150, 150}));
    EXPECT_EQ(titles(view("distributors"))[4], "E-mail");
    EXPECT_EQ(widths(view("distributors")), std::vector<int>(9, 150));
}

TEST_F(ListPagesTest, EditorCaptionsAndListHeadingsFollowThePages) {
    makeDatabase(1);
    open();
    const auto caption = [this](const char* role) {
        return find<QGroupBox>(QString::fromLatin1(role) + "RowEditor")->title();
    };
    EXPECT_EQ(caption("reviews"), "Edytuj kolumny");
    EXPECT_EQ(caption("locations"), "Edytuj kolumny");
    for (const char* role : {"cast", "producers", "distributors", "loansTo", "loansFrom"}) {
        EXPECT_EQ(caption(role), "Edytuj Kolumny") << role;
    }
    const auto heading = [this](const char* area) {
        return find<QLabel>(QString::fromLatin1(area) + "AreaCaption")->text();
    };
    EXPECT_EQ(heading("reviews"), "Zasoby poświęcone tytułowi");
    EXPECT_EQ(heading("producers"), "Produkcja");
    EXPECT_EQ(heading("distributors"), "Dystrybucja");
    EXPECT_EQ(heading("loansTo"), "Katalog wypożyczeń innym");
    EXPECT_EQ(heading("loansFrom"), "Katalog wypożyczeń od innych");
}

TEST_F(ListPagesTest, TheRatingListTakesOneItemTheOthersSeveral) {
    makeDatabase(1);
    appendRowBytes(tablePath(kOcenaLayout),
                   {taggedRow(kOcenaLayout, 1, 2, u"a"), taggedRow(kOcenaLayout, 2, 2, u"b")});
    appendRowBytes(tablePath(kObsadaLayout),
                   {taggedRow(kObsadaLayout, 1, 2, u"a"), taggedRow(kObsadaLayout, 2, 2, u"b"),
                    taggedRow(kObsadaLayout, 3, 2, u"c")});
    open();
    clickItem("reviews", 0);
    clickItem("reviews", 1, Qt::ControlModifier);
    EXPECT_EQ(selectedRows("reviews"), std::vector<int>{1});

    // Several selected: Edit takes the first of them, whichever was clicked first.
    clickItem("cast", 2);
    clickItem("cast", 1, Qt::ControlModifier);
    EXPECT_EQ(selectedRows("cast"), (std::vector<int>{1, 2}));
    click("cast", "Edit");
    EXPECT_EQ(box("cast", "full_name")->text(), "b.0");
}

// While one list of a page is being edited the other one works, and each saves only its own
// table file.
TEST_F(ListPagesTest, TheTwoListsOfAPageAreIndependent) {
    makeDatabase(1);
    const std::pair<const char*, const DetailLayout*> pairs[][2] = {
        {{"producers", &kProducentLayout}, {"distributors", &kDystrybutorLayout}},
        {{"distributors", &kDystrybutorLayout}, {"producers", &kProducentLayout}},
        {{"loansTo", &kWypozyczInnymLayout}, {"loansFrom", &kWypozyczOdInnychLayout}},
        {{"loansFrom", &kWypozyczOdInnychLayout}, {"loansTo", &kWypozyczInnymLayout}},
    };
    for (const auto& [edited, other] : pairs) {
        SCOPED_TRACE(edited.first);
        // Each pair starts from a fresh window over one row in each table.
        dialog.reset();
        writeBytes(tablePath(*edited.second), taggedRow(*edited.second, 1, 2, u"e"));
        writeBytes(tablePath(*other.second), taggedRow(*other.second, 1, 2, u"o"));
        open();
        const QString e = QString::fromLatin1(edited.first);
        const QString o = QString::fromLatin1(other.first);

        clickItem(e, 0);
        click(e, "Edit");
        expectEditing(e, true);
        expectEditing(o, false);

        // The other list confirms a change and adds a row, which saves its table only.
        clickItem(o, 0);
        click(o, "Edit");
        box(o, other.second->fields.front().member)->setText("zmiana");
        click(o, "Confirm");
        click(o, "New");
        EXPECT_EQ(itemCount(o), 2);
        EXPECT_EQ(storedText(*other.second, 1, other.second->fields.front()), u"zmiana");
        expectEditing(e, true);

        box(e, edited.second->fields.front().member)->setText("edytowany");
        click(e, "Confirm");
        EXPECT_EQ(cell(e, 0, 0), "edytowany");
        EXPECT_EQ(storedText(*edited.second, 1, edited.second->fields.front()), u"e.0");
        EXPECT_EQ(fileIds(tablePath(*edited.second), edited.second->row_size),
                  std::vector<std::int32_t>{1});
    }
}

// The window stores and reloads the film while a row is being edited: the row being edited is
// selected again and stays in the editor, so "Zatwierdź" still takes what was typed.
TEST_F(ListPagesTest, ARowInEditingSurvivesTheWindowStoringTheFilm) {
    makeDatabase(1);
    appendRowBytes(tablePath(kObsadaLayout),
                   {taggedRow(kObsadaLayout, 1, 2, u"a"), taggedRow(kObsadaLayout, 2, 2, u"b")});
    open();
    activate();
    clickItem("cast", 1);
    click("cast", "Edit");
    box("cast", "role")->clear();
    typeText(box("cast", "role"), QStringLiteral("Ksiądz Robak"));

    deactivate();
    EXPECT_EQ(itemCount("cast"), 2);
    EXPECT_EQ(selectedRows("cast"), std::vector<int>{1});
    expectEditing("cast", true);
    EXPECT_EQ(box("cast", "role")->text(), QStringLiteral("Ksiądz Robak"));

    click("cast", "Confirm");
    expectEditing("cast", false);
    EXPECT_EQ(cell("cast", 1, 1), "Ksiądz Robak");
    click("cast", "Save");
    EXPECT_EQ(storedText(kObsadaLayout, 2, kObsadaLayout.fields[1]), u"Ksiądz Robak");
}

TEST_F(ListPagesTest, RowButtonsFollowTheMainWindowAndConfirmWaitsForEdit) {
    open();  // an empty database: no film, no row buttons
    const char* roles[] = {"reviews",   "cast",    "producers", "distributors",
                           "locations", "loansTo", "loansFrom"};
    for (const char* role : roles) {
        for (const char* which : {"New", "Edit", "Save", "Delete", "Confirm"}) {
            EXPECT_FALSE(button(role, which)->isEnabled()) << role << which;
        }
    }
    QTest::mouseClick(find<QPushButton>("newButton"), Qt::LeftButton);
    for (const char* role : roles) {
        expectEditing(role, false);
    }
}

TEST_F(ListPagesTest, AFailedFileOperationIsOneMessage) {
    makeDatabase(1);
    open();
    std::filesystem::remove(tablePath(kObsadaLayout));
    std::filesystem::create_directory(tablePath(kObsadaLayout));
    click("cast", "Save");
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].second, kFileErrorTitle);
    EXPECT_TRUE(ui.messages[0].first.contains("KR_OB.kr"));
    expectEditing("cast", false);
}

// The film changes under a row editor that is open (paging, a delete): the editor goes back to
// browsing with empty boxes, and rows added afterwards can be selected and edited.
TEST_F(ListPagesTest, ARowEditorOpenWhenTheFilmChangesGoesBackToBrowsing) {
    for (const char* leave : {"nextButton", "deleteButton"}) {
        SCOPED_TRACE(leave);
        std::filesystem::remove_all(root.path() / "default_db");
        makeDatabase(2);
        appendRowBytes(tablePath(kObsadaLayout), {taggedRow(kObsadaLayout, 1, 2, u"a")});
        open();
        clickItem("cast", 0);
        click("cast", "Edit");
        expectEditing("cast", true);
        EXPECT_FALSE(box("cast", "role")->text().isEmpty());

        QTest::mouseClick(find<QPushButton>(QString::fromLatin1(leave)), Qt::LeftButton);
        expectEditing("cast", false);
        for (QLineEdit* edit : editor("cast")->findChildren<QLineEdit*>()) {
            EXPECT_TRUE(edit->text().isEmpty()) << edit->objectName().toStdString();
        }
        click("cast", "New");
        clickItem("cast", 0);
        EXPECT_EQ(selectedRows("cast"), std::vector<int>{0});
        click("cast", "Edit");
        EXPECT_EQ(box("cast", "role")->text(), QStringLiteral("Wpisz tutaj coś"));
        dialog.reset();
    }
}

}  // namespace
}  // namespace ordavo::testing
