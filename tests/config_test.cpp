#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "broadcast/connections.h"
#include "host/config.h"
#include "test_host.h"

namespace {

// Parses `text` as a configuration file into a fresh store.
struct Parsed {
    ConfigManager cfg;
    bool ok = false;
    explicit Parsed(const std::string& text) {
        ScratchDir dir;
        ok = cfg.readFile(dir.write("config.ini", text).c_str());
    }
    std::string str(const char* key) const {
        const char* s = cfg.getString(key);
        return s ? s : "<absent>";
    }
};

std::vector<std::string> keysInOrder(const ConfigManager& cfg) {
    std::vector<std::string> keys;
    for (auto* e = cfg.head(); e; e = e->m_next.load()) keys.push_back(e->m_key);
    return keys;
}

}  // namespace

TEST(ConfigFile, OneKeyValuePairPerLineIsRead) {
    Parsed p("max_spec 32\nadv hello\n");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.cfg.getInt("max_spec"), 32);
    EXPECT_EQ(p.str("adv"), "hello");
}

TEST(ConfigFile, QuotesKeepSpacesAndUnquotedWordsPairUp) {
    Parsed quoted("adv \"watch the final live\"\n");
    EXPECT_EQ(quoted.str("adv"), "watch the final live");

    // Unquoted: adv takes one word, the next two pair up, the last one has no value.
    Parsed bare("adv watch the final live");
    EXPECT_EQ(bare.str("adv"), "watch");
    EXPECT_EQ(bare.str("the"), "final");
    EXPECT_EQ(bare.str("live"), "<absent>");
    EXPECT_EQ(bare.cfg.count(), 2);
}

TEST(ConfigFile, OnAndOffInAnyCaseBecomeOneAndZero) {
    Parsed p("record_demos ON\next_overviews off\nx oN\ny \"off\"\nz onx\n");
    EXPECT_EQ(p.str("record_demos"), "1");
    EXPECT_EQ(p.cfg.getInt("record_demos"), 1);
    EXPECT_EQ(p.str("ext_overviews"), "0");
    EXPECT_EQ(p.str("x"), "1");
    EXPECT_EQ(p.str("y"), "0");
    EXPECT_EQ(p.str("z"), "onx");
}

TEST(ConfigFile, HashStartsACommentOnlyWhereAKeyWouldStart) {
    Parsed p("# a comment line\nmax_spec 5 # trailing comment udp_port 1\nadv #x\nk#ey v\n#end");
    EXPECT_EQ(p.cfg.getInt("max_spec"), 5);
    EXPECT_EQ(p.str("udp_port"), "<absent>");
    EXPECT_EQ(p.str("adv"), "#x");
    EXPECT_EQ(p.str("k#ey"), "v");
    EXPECT_EQ(p.cfg.count(), 3);
}

TEST(ConfigFile, BackslashEscapes) {
    Parsed p("a \"one\\ntwo\"\nb \"say \\\"hi\\\"\"\nc back\\\\slash\nd \"x\\n\"y\"\ne end\\");
    EXPECT_EQ(p.str("a"), "one\ntwo");
    EXPECT_EQ(p.str("b"), "say \"hi\"");
    EXPECT_EQ(p.str("c"), "back\\slash");
    // After \n the next character is literal, even a quote.
    EXPECT_EQ(p.str("d"), "x\n\"y");
    // A backslash at the very end of the text ends the value.
    EXPECT_EQ(p.str("e"), "end");
}

TEST(ConfigFile, UnquotedValueEndsAtAQuoteWhichIsConsumed) {
    Parsed p("a val\"ue b c");
    EXPECT_EQ(p.str("a"), "val");
    EXPECT_EQ(p.str("ue"), "b");
}

TEST(ConfigFile, LineEndsAndByteOrderMark) {
    Parsed crlf("max_spec 7\r\nadv word\r\n");
    EXPECT_EQ(crlf.cfg.getInt("max_spec"), 7);
    EXPECT_EQ(crlf.str("adv"), "word");

    Parsed bom("\xEF\xBB\xBFmax_spec 7\n");
    EXPECT_EQ(bom.str("max_spec"), "<absent>");
    EXPECT_EQ(bom.cfg.getInt("\xEF\xBB\xBFmax_spec"), 7);

    // A key at the end of a line takes the first word of the next line.
    Parsed split("adv\nvalue next");
    EXPECT_EQ(split.str("adv"), "value");
    EXPECT_EQ(split.cfg.count(), 1);
}

TEST(ConfigFile, KeysAreCaseSensitive) {
    Parsed p("MAX_SPEC 10\n");
    EXPECT_EQ(p.cfg.getInt("max_spec"), 0);
    EXPECT_EQ(p.cfg.getInt("MAX_SPEC"), 10);
}

TEST(ConfigFile, EmptyFileIsReadAndMissingFileIsNot) {
    Parsed empty("");
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(empty.cfg.count(), 0);

    ConfigManager cfg;
    EXPECT_FALSE(cfg.readFile("/nonexistent/kovitv/config.ini"));
    EXPECT_EQ(cfg.count(), 0);
}

TEST(ConfigFile, OverlongKeysAndValuesAreCutWithoutLosingTheirPlace) {
    std::string key(100, 'k');
    std::string value(2000, 'v');
    Parsed p(key + " " + value + "\nnext 1\nq \"" + value + "\" after 2\n");
    EXPECT_EQ(p.str(std::string(63, 'k').c_str()), std::string(511, 'v'));
    EXPECT_EQ(p.str("next"), "1");
    EXPECT_EQ(p.str("q"), std::string(511, 'v'));
    EXPECT_EQ(p.str("after"), "2");
    EXPECT_EQ(p.cfg.longestKey(), 63);
}

TEST(ConfigFile, TextEndsAtAZeroByte) {
    Parsed p(std::string("a 1\nb 2\0c 3\n", 12));
    EXPECT_EQ(p.str("b"), "2");
    EXPECT_EQ(p.str("c"), "<absent>");
}

TEST(ConfigStore, SettingAKeyAgainReplacesItsValue) {
    ConfigManager cfg;
    cfg.set("adv", "first");
    cfg.set("max_spec", 20);
    cfg.set("adv", "second value");
    EXPECT_EQ(cfg.count(), 2);
    EXPECT_STREQ(cfg.getString("adv"), "second value");
    EXPECT_EQ(cfg.textSize(), int(sizeof("second value")) + int(sizeof("20")));
    EXPECT_EQ(cfg.longestKey(), 8);
}

TEST(ConfigStore, AReplacedTextStaysReadableUntilTheNextChange) {
    ConfigManager cfg;
    cfg.set("hostname", "first name");
    const char* held = cfg.getString("hostname");
    cfg.set("hostname", "second name");
    // A visitor thread may still be copying the old text: it must not have been freed.
    EXPECT_STREQ(held, "first name");
    EXPECT_STREQ(cfg.find("hostname")->m_previous, "first name");
}

// A visitor held up (preempted, a slow page) while the key changes again and again: the text it
// took stays until its read ends, and no later than the next change after that is it freed.
TEST(ConfigStore, ATextHeldInAReadSurvivesAnyNumberOfChanges) {
    ConfigManager cfg;
    cfg.set("hostname", "first name");
    const char* held;
    {
        ConfigReadScope reading(cfg);
        held = cfg.getString("hostname");
        for (int i = 0; i < 5; ++i) cfg.set("hostname", i % 2 ? "odd" : "even");
        EXPECT_STREQ(held, "first name");  // under ASan, a use after free without the scope
        EXPECT_STREQ(cfg.getString("hostname"), "even");
    }
    cfg.set("hostname", "after the read");
    EXPECT_STREQ(cfg.getString("hostname"), "after the read");
    EXPECT_STREQ(cfg.find("hostname")->m_previous, "even");
}

TEST(ConfigStore, NumbersAreReadLikeTheCLibraryButNeverOverflow) {
    ConfigManager cfg;
    cfg.set("a", "  -12abc");
    cfg.set("b", "abc");
    cfg.set("c", "+7");
    cfg.set("d", "99999999999999999999");
    cfg.set("e", "-99999999999999999999");
    cfg.set("f", "on");  // the text rule first: "1"
    EXPECT_EQ(cfg.getInt("a"), -12);
    EXPECT_EQ(cfg.getInt("b"), 0);
    EXPECT_EQ(cfg.getInt("c"), 7);
    EXPECT_EQ(cfg.getInt("d"), 2147483647);
    EXPECT_EQ(cfg.getInt("e"), -2147483647 - 1);
    EXPECT_EQ(cfg.getInt("f"), 1);
    cfg.set("g", 0);  // integer sets do no on/off mapping and read back exactly
    EXPECT_STREQ(cfg.getString("g"), "0");
    EXPECT_EQ(cfg.getInt("missing"), 0);
    EXPECT_EQ(cfg.getString("missing"), nullptr);
}

TEST(ConfigStore, ClearEmptiesEverything) {
    ConfigManager cfg;
    cfg.set("a", "1");
    cfg.set("a", "2");
    cfg.clear();
    EXPECT_EQ(cfg.count(), 0);
    EXPECT_EQ(cfg.textSize(), 0);
    EXPECT_EQ(cfg.longestKey(), 0);
    EXPECT_EQ(cfg.head(), nullptr);
    cfg.set("b", "3");  // usable again afterwards
    EXPECT_EQ(cfg.getInt("b"), 3);
}

TEST(BinFileLoad, ReadsTheWholeFileIncludingZeroBytes) {
    ScratchDir dir;
    std::string content("ab\0cd", 5);
    BinFile file(fopen(dir.write("f.bin", content).c_str(), "rb"));
    ASSERT_TRUE(file.opened());
    int size = -1;
    char* data = file.load(&size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 5);
    EXPECT_EQ(std::string(data, 5), content);
    EXPECT_EQ(data[5], '\0');
    delete[] data;

    BinFile empty(fopen(dir.write("e.bin", "").c_str(), "rb"));
    data = empty.load(&size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(data[0], '\0');
    delete[] data;

    BinFile none(nullptr);
    EXPECT_FALSE(none.opened());
    EXPECT_EQ(none.load(&size), nullptr);
}

// --- loading at attach, through a host ---------------------------------------------------------

class LoadConfiguration : public ::testing::Test {
protected:
    ScratchDir dir;
    SimOptions options = scratchOptions(dir);

    // Attaches the plugin and returns its output; g_cfg then holds what attach loaded.
    std::string attach(const std::string* config_text) {
        if (config_text) dir.write("addons/kovitv/config.ini", *config_text);
        m_host = std::make_unique<InProcessHost>(options);
        EXPECT_TRUE(m_host->load());
        return m_host->text();
    }
    std::string value(const char* key) {
        const char* s = g_cfg.getString(key);
        return s ? s : "<absent>";
    }
    std::string withPorts(const std::string& text) {
        return "udp_port " + std::to_string(freeUdpPort()) + "\n" + text;
    }
    std::unique_ptr<InProcessHost> m_host;
};

TEST_F(LoadConfiguration, DefaultsComeFirstInTheirOrder) {
    std::string cfg = withPorts("");
    attach(&cfg);
    std::vector<std::string> keys = keysInOrder(g_cfg);
    std::vector<std::string> expected = {"max_spec", "udp_port", "dir",    "resample",
                                         "scale",    "tcp_queue", "allow_teamsay", "adv",
                                         "record_demos", "tcp_port", "address", "delay",
                                         "width",    "height"};
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(g_cfg.getInt("max_spec"), 20);
    EXPECT_EQ(value("dir"), "addons/kovitv");
    EXPECT_EQ(value("adv"), "You are watching KOVI TV");
    EXPECT_EQ(value("address"), "127.0.0.1");
    EXPECT_EQ(g_cfg.getInt("delay"), 30);
    EXPECT_EQ(g_cfg.getInt("width"), 1024);
    EXPECT_EQ(g_cfg.getInt("height"), 768);
    EXPECT_EQ(g_limitchat, 1);
}

TEST_F(LoadConfiguration, SpectatorsPerAddressAreFourUnlessTheFileSaysOtherwise) {
    std::string cfg = withPorts("");
    attach(&cfg);
    EXPECT_EQ(g_cfg.find("max_spec_per_ip"), nullptr);  // absent means the default
    EXPECT_EQ(g_connmgr.m_max_per_address.load(), 4);
    m_host.reset();

    cfg = withPorts("max_spec_per_ip 1\n");
    attach(&cfg);
    EXPECT_EQ(g_connmgr.m_max_per_address.load(), 1);
}

TEST_F(LoadConfiguration, DelayOutsideItsRangeBecomesThirty) {
    for (auto [text, expected] : std::vector<std::pair<std::string, int>>{
             {"10", 30}, {"500", 30}, {"30", 30}, {"300", 300}, {"45", 45}, {"soon", 30}}) {
        std::string cfg = withPorts("delay " + text + "\n");
        attach(&cfg);
        EXPECT_EQ(g_cfg.getInt("delay"), expected) << "delay " << text;
        m_host.reset();
    }
}

TEST_F(LoadConfiguration, AppletSizeFollowsTheScaleAndOverridesTheFile) {
    std::string cfg = withPorts("scale 50\nwidth 9\n");
    attach(&cfg);
    EXPECT_EQ(g_cfg.getInt("width"), 512);
    EXPECT_EQ(g_cfg.getInt("height"), 384);
    m_host.reset();

    cfg = withPorts("scale 33\n");
    attach(&cfg);
    EXPECT_EQ(g_cfg.getInt("width"), 337);
    EXPECT_EQ(g_cfg.getInt("height"), 253);
    m_host.reset();

    cfg = withPorts("scale big\nallow_teamsay 0\n");
    attach(&cfg);
    EXPECT_EQ(g_cfg.getInt("width"), 0);
    EXPECT_EQ(g_limitchat, 0);
}

TEST_F(LoadConfiguration, NetAddressWithoutPortSetsNeitherKey) {
    options.cvars["net_address"] = "localhost";
    // The file's port, so that the engine's default (tests/diagnostics_test.cpp) is not bound.
    std::string cfg = withPorts("tcp_port 0\n");
    attach(&cfg);
    EXPECT_EQ(g_cfg.getInt("tcp_port"), 0);
    EXPECT_EQ(g_cfg.find("address"), nullptr);
}

TEST_F(LoadConfiguration, OverlongNetAddressIsCut) {
    options.cvars["net_address"] = std::string(300, 'h') + ":1";
    std::string cfg = withPorts("tcp_port 0\n");
    attach(&cfg);
    // The buffer holds 255 characters: the ':' is beyond it, so nothing is split off.
    EXPECT_EQ(g_cfg.find("address"), nullptr);
    EXPECT_EQ(g_cfg.getInt("tcp_port"), 0);
}

TEST_F(LoadConfiguration, MissingFileIsReportedByItsName) {
    std::string out = attach(nullptr);
    EXPECT_NE(out.find("ERROR: Meta_Attach :: Failed reading \"addons/kovitv/config.ini\" config file"),
              std::string::npos)
        << out;
    EXPECT_EQ(g_cfg.getInt("max_spec"), 20);
}

TEST_F(LoadConfiguration, LocalInfoNamesAnotherFile) {
    options.localinfo["kovitvcfg"] = "other.ini";
    dir.write("other.ini", withPorts("max_spec 3\n"));
    std::string out = attach(nullptr);
    EXPECT_EQ(out.find("Failed reading"), std::string::npos) << out;
    EXPECT_EQ(g_cfg.getInt("max_spec"), 3);
}
