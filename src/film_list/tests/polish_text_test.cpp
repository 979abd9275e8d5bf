#include "film_list/polish_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace ordavo {
namespace {

std::string utf8(std::u16string_view text) {
    std::string out;
    for (const char16_t unit : text) {
        if (unit < 0x80) {
            out += static_cast<char>(unit);
        } else {
            out += "\\u" + std::to_string(static_cast<int>(unit));
        }
    }
    return out;
}

TEST(PolishTextTest, FoldingIgnoresCaseAndDiacriticsBothWays) {
    struct Case {
        std::u16string_view text;
        std::u16string_view folded;
    };
    const Case cases[] = {
        {u"Łódź", u"lodz"},
        {u"ŁÓDŹ", u"lodz"},
        {u"lodz", u"lodz"},
        {u"Żółw", u"zolw"},
        {u"zażółć gęślą jaźń", u"zazolc gesla jazn"},
        {u"ĄĆĘŁŃÓŚŹŻ", u"acelnoszz"},
        {u"Kraków 1999", u"krakow 1999"},
        {u"Ærø Øst", u"æro ost"},  // æ is a letter of its own, ø loses its stroke
        {u"a\u0328", u"a\u0328"},  // an already decomposed letter keeps its mark: positions stay
        {u"\U0001F3AC", u"\U0001F3AC"},  // a surrogate pair passes unchanged
    };
    for (const Case& c : cases) {
        EXPECT_EQ(foldForMatch(c.text), c.folded) << utf8(c.text);
        EXPECT_EQ(foldForMatch(c.text).size(), c.text.size());
    }
}

TEST(PolishTextTest, SortKeysFollowPolishOrder) {
    std::vector<std::u16string> words = {u"Żaba", u"ziemia", u"Łódź", u"lis",  u"Lwów",
                                         u"mama", u"Ćma",    u"cel",  u"czas", u"Źdźbło",
                                         u"Arka", u"ąkla",   u"Bór",  u"a"};
    std::sort(words.begin(), words.end(),
              [](const auto& a, const auto& b) { return polishSortKey(a) < polishSortKey(b); });
    const std::vector<std::u16string> expected = {u"a",    u"Arka",   u"ąkla",   u"Bór",  u"cel",
                                                  u"czas", u"Ćma",    u"lis",    u"Lwów", u"Łódź",
                                                  u"mama", u"ziemia", u"Źdźbło", u"Żaba"};
    EXPECT_EQ(words, expected);
    // Case only decides between words that are otherwise alike.
    EXPECT_LT(polishSortKey(u"abc"), polishSortKey(u"ABD"));
    EXPECT_NE(polishSortKey(u"abc"), polishSortKey(u"ABC"));
}

}  // namespace
}  // namespace ordavo
