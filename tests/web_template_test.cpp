// Filling the start page, the MIME table, the date and the names that are never served.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "host/config.h"
#include "web/response.h"

namespace {

// Fills `page` with the values of `store`; the page is a real file, as the server reads it.
struct Filled {
    std::string text;
    int size = -1;
};

Filled fill(const std::string& page, ConfigManager& store, const char* query) {
    FILE* file = tmpfile();
    fwrite(page.data(), 1, page.size(), file);
    rewind(file);
    BinFile reader(file);
    Filled result;
    char* out = reader.loadWithValues(&result.size, const_cast<char*>(query), &store);
    if (out) {
        result.text.assign(out, size_t(result.size));
        EXPECT_EQ(out[result.size], '\0');
    }
    delete[] out;
    return result;
}

class WebTemplate : public ::testing::Test {
protected:
    ConfigManager store;
    void SetUp() override {
        store.set("width", 1024);
        store.set("hostname", "Kovi's server");
        store.set("a-b", "dash");
        store.set("abcdef", "six");
    }
    std::string filled(const std::string& page, const char* query = "") {
        return fill(page, store, query).text;
    }
};

}  // namespace

TEST_F(WebTemplate, KnownKeysAreReplacedExactlyAndOthersStayAsWritten) {
    EXPECT_EQ(filled("<applet width=\"$width\">"), "<applet width=\"1024\">");
    EXPECT_EQ(filled("$Width $nothing_here"), "$Width $nothing_here");
    EXPECT_EQ(filled("cost: $ 5, $"), "cost: $ 5, $");
}

TEST_F(WebTemplate, DemoInAnyCaseIsTheQuery) {
    EXPECT_EQ(filled("[$demo|$DEMO|$Demo]", "x.kdem"), "[x.kdem|x.kdem|x.kdem]");
    EXPECT_EQ(filled("[$demo]", ""), "[]");
    EXPECT_EQ(filled("[$demo]", nullptr), "[]");
    store.set("demo", "from the store");
    EXPECT_EQ(filled("$demo", "q"), "q");
}

TEST_F(WebTemplate, TheCharacterEndingANameIsCopiedOrStartsTheNextPlaceholder) {
    EXPECT_EQ(filled("$hostname, welcome"), "Kovi's server, welcome");
    EXPECT_EQ(filled("$width$width"), "10241024");
    EXPECT_EQ(filled("$$width"), "$1024");
    EXPECT_EQ(filled("$width"), "1024");  // the end of the file ends the name
}

TEST_F(WebTemplate, ABackslashTakesTheNextCharacterIntoTheName) {
    EXPECT_EQ(filled("$a\\-b!"), "dash!");
    EXPECT_EQ(filled("$x\\.y z"), "$x.y z");  // unknown: shown without the backslash
    EXPECT_EQ(filled("end $width\\"), "end 1024");  // a backslash at the end ends the file
}

TEST_F(WebTemplate, ANameIsAtMostTheLongestKeyLong) {
    ConfigManager six;
    six.set("abcdef", "six");
    six.set("w", "1");
    EXPECT_EQ(fill("$abcdefgh $w", six, "").text, "sixgh 1");
    ConfigManager tiny;
    tiny.set("ab", "2");
    // Never fewer than four characters, so that demo is always recognised.
    EXPECT_EQ(fill("$demo|$abcde", tiny, "q").text, "q|$abcde");
}

TEST_F(WebTemplate, OutputBeyondTheCapacityIsCutAndTheSizeCountsWhatWasKept) {
    ConfigManager one;
    one.set("x", "0123456789");  // text size 11: capacity = file size + 44
    std::string page(7, ' ');
    for (int i = 0; i < 7; ++i) page += "$x";  // 21 bytes expanding to 77
    Filled f = fill(page, one, "");
    EXPECT_EQ(f.size, 21 + 44);
    std::string values;
    for (int i = 0; i < 7; ++i) values += "0123456789";
    EXPECT_EQ(f.text, std::string(7, ' ') + values.substr(0, 58));
}

TEST_F(WebTemplate, BytesOfAnyValueAndZeroBytesPassThrough) {
    std::string page("a\0b\xff$width", 10);
    std::string expected("a\0b\xff" "1024", 8);
    Filled f = fill(page, store, "");
    EXPECT_EQ(f.size, 8);
    EXPECT_EQ(f.text, expected);
    EXPECT_EQ(fill("", store, "").size, 0);
}

// The page is read a block at a time: a placeholder, its backslash escape or the character
// ending it may straddle any two blocks.
TEST_F(WebTemplate, PlaceholdersAcrossTheReadersBlocksAreFilledAsAnywhere) {
    // Values no longer than their names: the output's bound is not what is tested here.
    const std::string unit = "$width|$a\\-b $abcdef.";
    const std::string expected_unit = "1024|dash six.";
    for (size_t shift = 0; shift < unit.size(); ++shift) {
        std::string page(shift, 'x'), expected(shift, 'x');
        while (page.size() < 3000) {
            page += unit;
            expected += expected_unit;
        }
        EXPECT_EQ(filled(page), expected) << "shift " << shift;
    }
}

TEST_F(WebTemplate, AValueLongerThanThePageIsStillFilledWhole) {
    store.set("hostname", std::string(300, 'h').c_str());
    EXPECT_EQ(filled("$hostname"), std::string(300, 'h'));
}

TEST(WebMime, EachRowMatchesOnlyWhenItsFirstOccurrenceEndsThePath) {
    EXPECT_STREQ(mimeType("/index.html"), "text/html");
    EXPECT_STREQ(mimeType("/kovitv.jar"), "application/java-archive;charset=ISO-8859-1");
    EXPECT_STREQ(mimeType("/a.png"), "image/png");
    EXPECT_STREQ(mimeType("/a.jpg"), "image/jpeg");
    EXPECT_STREQ(mimeType("/a.jpeg"), "image/jpeg");
    EXPECT_STREQ(mimeType("/a.gif"), "image/gif");
    EXPECT_STREQ(mimeType("/style.css"), "text/html");
    EXPECT_STREQ(mimeType("/demos/010125/1200_de_dust.kdem"), "application/octet-stream");
    EXPECT_STREQ(mimeType("/a.gif.gif"), "text/html");
    EXPECT_STREQ(mimeType("/viewer/main.js"), "text/javascript");
    EXPECT_STREQ(mimeType("/viewer/main.json"), "application/json");  // not ".js" of ".json"
    EXPECT_STREQ(mimeType("/overviews/de_kovi.bmp"), "image/bmp");
    EXPECT_STREQ(mimeType("/A.GIF"), "text/html");
    EXPECT_STREQ(mimeType("/a.png.jpg"), "image/jpeg");
    EXPECT_STREQ(mimeType("/README"), "text/html");
}

TEST(WebResponse, DatesMatchTheCLibrarysUtcConversion) {
    char ours[DATE_MAX + 1];
    ASSERT_TRUE(formatHttpDate(0, ours, sizeof(ours)));
    EXPECT_STREQ(ours, "Thu, 01 Jan 1970 00:00:00 GMT");
    ASSERT_TRUE(formatHttpDate(951782400, ours, sizeof(ours)));
    EXPECT_STREQ(ours, "Tue, 29 Feb 2000 00:00:00 GMT");
    // Every day across leap years and century rules, at a varying time of day.
    for (int64_t t = -86400LL * 365; t < 86400LL * 365 * 140; t += 86400 + 3607) {
        time_t system_time = time_t(t);
        tm parts;
        if (int64_t(system_time) != t) break;  // a 32-bit time_t ends in 2038
        if (!gmtime_r(&system_time, &parts)) continue;
        char theirs[DATE_MAX + 1];
        strftime(theirs, sizeof(theirs), "%a, %d %b %Y %H:%M:%S GMT", &parts);
        ASSERT_TRUE(formatHttpDate(t, ours, sizeof(ours)));
        ASSERT_STREQ(ours, theirs) << t;
    }
    EXPECT_FALSE(formatHttpDate(0, ours, 10));
}

TEST(WebResponse, OnlyPathsFromTheFolderThatNameNoDeviceAreServable) {
    EXPECT_TRUE(isServablePath("/index.html"));
    EXPECT_TRUE(isServablePath("/console.html"));
    EXPECT_TRUE(isServablePath("/com10"));
    EXPECT_TRUE(isServablePath("/demos/010125/1200_de_nuke.kdem"));
    EXPECT_FALSE(isServablePath("index.html"));
    EXPECT_FALSE(isServablePath(""));
    EXPECT_FALSE(isServablePath("/nul.html"));
    EXPECT_FALSE(isServablePath("/CON"));
    EXPECT_FALSE(isServablePath("/sub/com1.txt"));
    EXPECT_FALSE(isServablePath("/Lpt9/x"));
}
