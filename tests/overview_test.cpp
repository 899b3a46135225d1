#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "plugin/overview.h"
#include "test_host.h"

namespace {

class Overview : public ::testing::Test {
protected:
    ScratchDir dir;
    std::unique_ptr<InProcessHost> h;
    float zoom = -1;
    int rotated = -1, x = -1, y = -1;

    void SetUp() override {
        dir.write("addons/kovitv/config.ini", "udp_port " + std::to_string(freeUdpPort()) + "\n");
        h = std::make_unique<InProcessHost>(scratchOptions(dir));
        ASSERT_TRUE(h->load());
    }
    void describe(const std::string& map, const std::string& text) {
        dir.write("addons/kovitv/overviews/" + map + ".txt", text);
    }
    bool read(const std::string& map) { return getMapInfo(map.c_str(), &zoom, &rotated, &x, &y); }
};

const char* kDust =
    "// overview of de_dust\n"
    "global\n{\n"
    "\tZOOM\t1.30\n"
    "\tORIGIN\t-832.5 2464.9 0.00\n"
    "\tROTATED\t1\n"
    "}\n"
    "layer\n{\n\timage \"overviews/de_dust.bmp\"\n\theight 0\n}\n";

}  // namespace

TEST_F(Overview, ACompleteDescriptionGivesAllThreeValues) {
    describe("de_dust", kDust);
    EXPECT_TRUE(read("de_dust"));
    EXPECT_FLOAT_EQ(zoom, 1.3f);
    EXPECT_EQ(x, -832);
    EXPECT_EQ(y, 2464);
    EXPECT_EQ(rotated, 1);
}

TEST_F(Overview, TheRotatedLineEndsTheWalk) {
    describe("de_first", "ROTATED 1\nZOOM 2\nORIGIN 5 6\n");
    EXPECT_FALSE(read("de_first"));
    EXPECT_EQ(rotated, 1);
    EXPECT_FLOAT_EQ(zoom, 1.0f);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
}

TEST_F(Overview, IncompleteOrMissingDescriptionsKeepTheDefaults) {
    describe("de_half", "ZOOM 0.5\nORIGIN 10 -20\nzoom 2\nZOOM oops\n");
    EXPECT_FALSE(read("de_half"));
    EXPECT_FLOAT_EQ(zoom, 0.5f);  // the lower-case and unparsable lines changed nothing
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, -20);
    EXPECT_EQ(rotated, 0);

    EXPECT_FALSE(read("de_nowhere"));
    EXPECT_FLOAT_EQ(zoom, 1.0f);
    EXPECT_EQ(x, 0);

    describe("de_empty", "");
    EXPECT_FALSE(read("de_empty"));
    EXPECT_EQ(h->text().find("FreeFile of a buffer"), std::string::npos);
    EXPECT_TRUE(h->host().m_loaded_files.empty());  // the empty file's buffer was released too
}

TEST_F(Overview, LongLinesAreReadInPiecesOf255) {
    // The ZOOM keyword starts exactly where the first 255-character piece ends.
    describe("de_long", std::string(255, 'x') + "ZOOM 3\nORIGIN 1 2\nROTATED 0\n");
    EXPECT_TRUE(read("de_long"));
    EXPECT_FLOAT_EQ(zoom, 3.0f);
}

TEST_F(Overview, ExtractionCopiesTheGamesFilesAndCutsLongNames) {
    std::string bmp("BM\0\x01\x02", 5);
    dir.write("overviews/de_dust.bmp", bmp);
    dir.write("overviews/de_dust.txt", kDust);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);  // extracted files go to the working directory
    extractOverview("de_dust", "bmp");
    extractOverview("de_dust", "txt");
    extractOverview("de_absent", "bmp");
    std::string long_map(20, 'm');
    dir.write("overviews/" + long_map + ".bmp", "x");
    extractOverview(long_map.c_str(), "bmp");  // "overviews/mmm..." is cut at 31 characters
    ASSERT_EQ(chdir(cwd), 0);

    std::ifstream in(dir.file("exoverviews/de_dust.bmp"), std::ios::binary);
    std::stringstream copy;
    copy << in.rdbuf();
    EXPECT_EQ(copy.str(), bmp);
    EXPECT_GE(h->find("Extracted stuff to exoverviews/de_dust.bmp"), 0) << h->text();
    EXPECT_GE(h->find("Extracted stuff to exoverviews/de_dust.txt"), 0);
    EXPECT_EQ(h->find("de_absent"), -1);
    EXPECT_EQ(h->find("Extracted stuff to exoverviews/mmmm"), -1);  // the cut name is not there
}
