#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLabel>
#include <array>
#include <ostream>

#include "app/tests/list_window_fixture.h"

namespace ordavo::testing {
namespace {

struct ListCase {
    const char* role;
    const DetailLayout* layout;
};

// gtest prints a parameter in test listings and failures; without this it shows raw bytes.
void PrintTo(const ListCase& list, std::ostream* out) {
    *out << list.role;
}

const std::array kLists = {
    ListCase{"reviews", &kOcenaLayout},
    ListCase{"cast", &kObsadaLayout},
    ListCase{"producers", &kProducentLayout},
    ListCase{"distributors", &kDystrybutorLayout},
    ListCase{"locations", &kLokLayout},
    ListCase{"loansTo", &kWypozyczInnymLayout},
    ListCase{"loansFrom", &kWypozyczOdInnychLayout},
};

// Films 2, 3 and 4. The list under test holds rows 1 and 3 of film 2 and row 2 of film 3, stored
// in the order 1, 2, 3; film 4 has none.
class EveryListTest : public ListWindowTest, public ::testing::WithParamInterface<ListCase> {
protected:
    void SetUp() override {
        makeDatabase(3);
        appendRowBytes(tablePath(layout()),
                       {taggedRow(layout(), 1, 2, u"p"), taggedRow(layout(), 2, 3, u"q"),
                        taggedRow(layout(), 3, 2, u"r")});
        open();
        showPage(role());
    }
    const DetailLayout& layout() const { return *GetParam().layout; }
    QString role() const { return QString::fromLatin1(GetParam().role); }
    std::size_t idCol() const { return idColumn(layout()); }
    std::size_t filmCol() const { return filmIdColumn(layout()); }

    // The row's text cells as the list shows them, column by column.
    std::vector<QString> textCells(int row) {
        std::vector<QString> cells;
        for (std::size_t column = 0; column < layout().fields.size(); ++column) {
            cells.push_back(cell(role(), row, column));
        }
        return cells;
    }
    std::vector<QString> boxTexts() {
        std::vector<QString> texts;
        for (std::size_t column = 0; column < layout().fields.size(); ++column) {
            texts.push_back(box(role(), columnField(layout(), column)->member)->text());
        }
        return texts;
    }
    std::vector<QString> taggedCells(const std::u16string& tag) {
        std::vector<QString> cells;
        for (std::size_t column = 0; column < layout().fields.size(); ++column) {
            const auto index =
                static_cast<std::size_t>(columnField(layout(), column) - layout().fields.data());
            cells.push_back(toQString(taggedText(tag, index)));
        }
        return cells;
    }
};

TEST_P(EveryListTest, ShowsTheFilmsRowsInFileOrderAndStartsBrowsing) {
    ASSERT_EQ(itemCount(role()), 2);
    EXPECT_EQ(textCells(0), taggedCells(u"p"));
    EXPECT_EQ(textCells(1), taggedCells(u"r"));
    EXPECT_EQ(cell(role(), 0, idCol()), "1");
    EXPECT_EQ(cell(role(), 1, idCol()), "3");
    EXPECT_EQ(cell(role(), 1, filmCol()), "2");
    expectEditing(role(), false);
}

TEST_P(EveryListTest, NewRowShowsThePlaceholderAndIsWrittenOnceBySaving) {
    click(role(), "New");
    ASSERT_EQ(itemCount(role()), 3);
    EXPECT_EQ(textCells(2), std::vector<QString>(layout().fields.size(), "Wpisz tutaj coś"));
    EXPECT_EQ(cell(role(), 2, idCol()), "4");  // after the row stored last, whoever's it is
    EXPECT_EQ(cell(role(), 2, filmCol()), "2");
    EXPECT_EQ(fileIds(tablePath(layout()), layout().row_size),
              (std::vector<std::int32_t>{1, 2, 3}));

    click(role(), "Save");
    click(role(), "Save");
    EXPECT_EQ(fileIds(tablePath(layout()), layout().row_size),
              (std::vector<std::int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(storedText(layout(), 4, layout().fields.back()), u"Wpisz tutaj coś");
}

TEST_P(EveryListTest, EditAndConfirmCutEachFieldToItsWidthAndSaveRewritesInPlace) {
    clickItem(role(), 1);
    click(role(), "Edit");
    expectEditing(role(), true);
    EXPECT_EQ(boxTexts(), taggedCells(u"r"));

    // The first box is typed, Polish letters included; the others get text longer than fits.
    const DetailField& typed = *columnField(layout(), 0);
    QLineEdit* first = box(role(), typed.member);
    first->clear();
    typeText(first, QStringLiteral("Łódź"));
    for (std::size_t k = 0; k < layout().fields.size(); ++k) {
        const DetailField& field = layout().fields[k];
        if (&field != &typed) {
            box(role(), field.member)
                ->setText(QString(static_cast<qsizetype>(field.width) + 9, QChar(u'ż')));
        }
    }
    const Bytes before = readBytes(tablePath(layout()));
    click(role(), "Confirm");
    expectEditing(role(), false);
    EXPECT_TRUE(selectedRows(role()).empty());
    EXPECT_EQ(readBytes(tablePath(layout())), before);  // nothing written yet
    EXPECT_EQ(cell(role(), 1, typed.column), "Łódź");
    EXPECT_EQ(cell(role(), 1, idCol()), "3");
    EXPECT_EQ(textCells(0), taggedCells(u"p"));

    click(role(), "Save");
    EXPECT_EQ(readBytes(tablePath(layout())).size(), before.size());
    EXPECT_EQ(storedText(layout(), 3, typed), u"Łódź");
    for (const DetailField& field : layout().fields) {
        if (&field != &typed) {
            EXPECT_EQ(storedText(layout(), 3, field), std::u16string(field.width - 1, u'ż'))
                << field.member;
        }
    }
    EXPECT_EQ(storedText(layout(), 1, layout().fields.front()), u"p.0");
}

TEST_P(EveryListTest, DeleteRemovesTheFirstSelectedRowAndCompactsTheFile) {
    if (layout().list != DetailList::Reviews) {
        clickItem(role(), 1);
        clickItem(role(), 0, Qt::ControlModifier);
        ASSERT_EQ(selectedRows(role()), (std::vector<int>{0, 1}));
    } else {
        clickItem(role(), 0);
    }
    click(role(), "Delete");
    EXPECT_EQ(fileIds(tablePath(layout()), layout().row_size), (std::vector<std::int32_t>{2, 3}));
    ASSERT_EQ(itemCount(role()), 1);
    EXPECT_EQ(cell(role(), 0, idCol()), "3");
    EXPECT_FALSE(std::filesystem::exists(tablePath(layout()).string() + "0"));
    EXPECT_TRUE(ui.messages.empty());
}

TEST_P(EveryListTest, DeleteOfANewRowNeverSavedChangesNothing) {
    click(role(), "New");
    clickItem(role(), 2);
    click(role(), "Delete");
    EXPECT_EQ(itemCount(role()), 3);
    EXPECT_EQ(fileIds(tablePath(layout()), layout().row_size),
              (std::vector<std::int32_t>{1, 2, 3}));
}

TEST_P(EveryListTest, EditWithNothingSelectedOnlyEntersEditingAndConfirmStoresNothing) {
    QLineEdit* first = box(role(), columnField(layout(), 0)->member);
    first->setText(QStringLiteral("zostaje"));
    click(role(), "Edit");
    expectEditing(role(), true);
    EXPECT_EQ(first->text(), "zostaje");
    click(role(), "Confirm");
    expectEditing(role(), false);
    EXPECT_EQ(textCells(0), taggedCells(u"p"));
    EXPECT_EQ(textCells(1), taggedCells(u"r"));
}

TEST_P(EveryListTest, DoubleClickEditsAnItemOrEntersEditingOffTheItems) {
    doubleClickAt(role(), itemPoint(role(), 1));
    expectEditing(role(), true);
    EXPECT_EQ(boxTexts(), taggedCells(u"r"));
    click(role(), "Confirm");

    // Below the last item nothing gets selected: Editing with the boxes as they were.
    QTableView* list = view(role());
    const QPoint below(10, list->visualRect(list->model()->index(1, 0)).bottom() + 6);
    ASSERT_LT(below.y(), list->viewport()->height());
    doubleClickAt(role(), below);
    EXPECT_TRUE(selectedRows(role()).empty());
    expectEditing(role(), true);
    EXPECT_EQ(boxTexts(), taggedCells(u"r"));
}

TEST_P(EveryListTest, DoubleClickOnAFilmWithoutRowsDoesNothing) {
    QTest::mouseClick(find<QPushButton>(QStringLiteral("lastButton")), Qt::LeftButton);  // film 4
    ASSERT_EQ(itemCount(role()), 0);
    doubleClickAt(role(), QPoint(10, 10));
    expectEditing(role(), false);
}

INSTANTIATE_TEST_SUITE_P(Lists, EveryListTest, ::testing::ValuesIn(kLists),
                         [](const auto& info) { return std::string(info.param.role); });

}  // namespace
}  // namespace ordavo::testing
