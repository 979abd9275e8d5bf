#include <gtest/gtest.h>

#include <stdexcept>

#include "export/text_encoder.h"
#include "storage/unicode_text.h"

namespace ordavo {
namespace {

TEST(TextEncoderTest, ConvertsWholeTextOrStopsAtTheFirstUnitItCannotHold) {
    struct Case {
        const char* charset;
        std::u16string text;
        std::string bytes;  // what is appended
        std::size_t done;   // the returned index
    };
    const std::u16string clapper = u"\U0001F3AC";
    for (const Case& c : {
             Case{"CP1250", u"Zażółć gęślą jaźń", "Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1",
                  17},
             Case{"ISO-8859-2", u"Łódź",
                  "\xA3\xF3"
                  "d\xBC",
                  4},
             Case{"UTF-8", u"Łódź",
                  "\xC5\x81\xC3\xB3"
                  "d\xC5\xBA",
                  4},
             Case{"CP1250", u"5 €", "5 \x80", 3},  // CP1250 has the euro sign
             Case{"ISO-8859-2", u"ą5 €, ż",
                  "\xB1"
                  "5 ",
                  3},  // ISO-8859-2 has not
             Case{"CP1250", u"plain ASCII, \"quoted\"\r\n", "plain ASCII, \"quoted\"\r\n", 23},
             Case{"CP1250", u"a" + clapper + u"b", "a", 1},  // outside the set: stops at its
                                                             // first unit
             Case{"UTF-8", u"a" + clapper, "a\xF0\x9F\x8E\xAC", 3},
             Case{"UTF-8",
                  u"ab\xD800"
                  u"c",
                  "ab", 2},                        // a high half standing alone
             Case{"UTF-8", u"ab\xDC00", "ab", 2},  // a low half standing alone
             Case{"UTF-8", u"ab\xD800", "ab", 2},  // a high half at the very end
             Case{"CP1250", u"", "", 0},
         }) {
        TextEncoder encoder(c.charset);
        ByteBuffer out;
        std::copy_n("head:", 5, out.tail(5));
        out.commit(5);
        EXPECT_EQ(encoder.append(c.text, out), c.done) << c.charset << " " << c.bytes;
        EXPECT_EQ(out.view(), "head:" + c.bytes) << c.charset;
        // The encoder is usable again after a stop, and a text met again (its characters now
        // remembered) comes out the same.
        out.clear();
        EXPECT_EQ(encoder.append(u"ok", out), 2u);
        EXPECT_EQ(out.view(), "ok");
        out.clear();
        EXPECT_EQ(encoder.append(c.text, out), c.done) << c.charset << " " << c.bytes;
        EXPECT_EQ(out.view(), c.bytes) << c.charset;
    }
}

TEST(TextEncoderTest, ASetWithShiftStatesIsConvertedAsAWholeText) {
    // Each character alone would start from the initial state; within a text the set shifts
    // from the kanji back to ASCII before the "a".
    TextEncoder encoder("ISO-2022-JP");
    for (int pass = 0; pass < 2; ++pass) {
        ByteBuffer out;
        ASSERT_EQ(encoder.append(u"a中a", out), 3u);
        EXPECT_EQ(out.view().substr(0, 4), "a\x1B$B");
        EXPECT_EQ(out.view().substr(out.size() - 4), "\x1B(Ba");
    }
}

TEST(TextEncoderTest, AnUnknownCharacterSetIsRefused) {
    EXPECT_THROW(TextEncoder("NO-SUCH-CHARSET-42"), std::invalid_argument);
}

TEST(UnicodeTextTest, Utf8RoundTripsAndBrokenInputIsReported) {
    EXPECT_EQ(fromUtf8("Noc nad Wisłą 🎬"), std::u16string(u"Noc nad Wisłą 🎬"));
    EXPECT_EQ(toUtf8(u"Noc nad Wisłą 🎬"), "Noc nad Wisłą 🎬");
    EXPECT_EQ(toUtf8(u"a\xD800"
                     u"b\xDC00"),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
    for (std::string_view broken : {"\xC5", "\xC0\xAF", "\xED\xA0\x80", "a\xFF", "\xE2\x82"}) {
        EXPECT_FALSE(fromUtf8(broken).has_value()) << broken;
    }
}

}  // namespace
}  // namespace ordavo
