// The demo listing: only the recorder's own names, newest first, bounded.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "test_host.h"
#include "web/demos.h"

namespace {

std::string listing(const std::string& folder) {
    int length = -1;
    char* json = listDemosJson(folder.c_str(), &length);
    EXPECT_NE(json, nullptr);
    std::string text(json ? json : "", json ? size_t(length) : 0);
    delete[] json;
    return text;
}

}  // namespace

TEST(WebDemos, OnlyTheRecordersNamesAreDemoPaths) {
    for (const char* good : {"/demos/120826/1240_de_kovi.kdem", "/demos/000000/0000_a.kdem",
                             "/demos/010127/2359_cs_x-y.z_1.kdem"})
        EXPECT_TRUE(isDemoFilePath(good)) << good;
    for (const char* bad :
         {"/demos/", "/demos/120826", "/demos/120826/", "/demos/12082/1240_a.kdem",
          "/demos/1208266/1240_a.kdem", "/demos/12x826/1240_a.kdem", "/demos/120826/124_a.kdem",
          "/demos/120826/1240a.kdem", "/demos/120826/1240_.kdem", "/demos/120826/1240_a.kdm",
          "/demos/120826/1240_a.kdem.html", "/demos/120826/x/1240_a.kdem",
          "/demos/120826/1240_a/b.kdem", "/demos/120826/1240_a..kdem",
          "/demos/120826/1240_a$b.kdem", "/index.html", "/x/demos/120826/1240_a.kdem"})
        EXPECT_FALSE(isDemoFilePath(bad)) << bad;
    std::string longest = "/demos/120826/1240_" + std::string(DEMO_MAP_MAX, 'm') + ".kdem";
    EXPECT_TRUE(isDemoFilePath(longest.c_str()));
    std::string longer = "/demos/120826/1240_" + std::string(DEMO_MAP_MAX + 1, 'm') + ".kdem";
    EXPECT_FALSE(isDemoFilePath(longer.c_str()));
    EXPECT_TRUE(isDemosPath("/demos") && isDemosPath("/demos/") && isDemosPath("/demos/x"));
    EXPECT_FALSE(isDemosPath("/demosx") || isDemosPath("/demo") || isDemosPath("/"));
}

TEST(WebDemos, TheListingHoldsDemosNewestFirstAcrossYearsAndNothingElse) {
    ScratchDir dir;
    dir.write("demos/123126/2359_de_old.kdem", "12345");
    dir.write("demos/010127/0001_de_new.kdem", "1");  // next year: newer despite smaller digits
    dir.write("demos/010127/0000_de_mid.kdem", "");
    dir.write("demos/010127/readme.txt", "x");
    dir.write("demos/010127/1200_de_a.kdem/inner", "a folder with a demo's name");
    dir.write("demos/notadate/1200_de_b.kdem", "x");
    dir.write("demos/1200_de_c.kdem", "outside the date folders");
    EXPECT_EQ(listing(dir.path() + "/demos"),
              "{\"demos\":["
              "{\"path\":\"/demos/010127/0001_de_new.kdem\",\"map\":\"de_new\",\"date\":\"010127\","
              "\"time\":\"0001\",\"bytes\":1},"
              "{\"path\":\"/demos/010127/0000_de_mid.kdem\",\"map\":\"de_mid\",\"date\":\"010127\","
              "\"time\":\"0000\",\"bytes\":0},"
              "{\"path\":\"/demos/123126/2359_de_old.kdem\",\"map\":\"de_old\",\"date\":\"123126\","
              "\"time\":\"2359\",\"bytes\":5}]}");
    EXPECT_EQ(listing(dir.path() + "/missing"), "{\"demos\":[]}");
}

TEST(WebDemos, BeyondTheLimitOnlyTheNewestAreListed) {
    ScratchDir dir;
    int total = DEMOS_LISTED_MAX + 20;
    for (int i = 0; i < total; i++) {
        char name[64];
        snprintf(name, sizeof(name), "demos/01%02d27/%02d%02d_m.kdem", 1 + i / 1440 % 28,
                 i / 60 % 24, i % 60);
        dir.write(name, "");
    }
    std::string text = listing(dir.path() + "/demos");
    size_t entries = 0;
    for (size_t at = 0; (at = text.find("\"path\"", at)) != std::string::npos; ++at) entries++;
    EXPECT_EQ(entries, size_t(DEMOS_LISTED_MAX));
    EXPECT_EQ(text.find("/demos/010127/0000_m.kdem"), std::string::npos);  // among the oldest
    EXPECT_EQ(text.find("/demos/010127/0019_m.kdem"), std::string::npos);
    EXPECT_NE(text.find("/demos/010127/0020_m.kdem"), std::string::npos);
    EXPECT_LT(text.find("/demos/010127/0838_m.kdem"), text.find("/demos/010127/0837_m.kdem"));
}

namespace {
int g_overview_lookups = 0;
void fakeOverviews(const char* map, char* out, int size) {
    g_overview_lookups++;
    snprintf(out, size_t(size), "%s", strcmp(map, "de_bare") == 0 ? "" : "overviews/x.bmp");
    if (strcmp(map, "de_png") == 0) snprintf(out, size_t(size), "overviews/de_png.png");
}
}  // namespace

TEST(WebDemos, EachEntryNamesItsMapsOverviewLookedUpOncePerMap) {
    ScratchDir dir;
    dir.write("demos/010127/0001_de_png.kdem", "");
    dir.write("demos/010127/0002_de_bare.kdem", "");
    dir.write("demos/010127/0003_de_png.kdem", "");
    g_overview_lookups = 0;
    int length = 0;
    char* json = listDemosJson((dir.path() + "/demos").c_str(), &length, fakeOverviews);
    ASSERT_NE(json, nullptr);
    EXPECT_EQ(std::string(json, size_t(length)),
              "{\"demos\":["
              "{\"path\":\"/demos/010127/0003_de_png.kdem\",\"map\":\"de_png\",\"date\":\"010127\","
              "\"time\":\"0003\",\"bytes\":0,\"overview\":\"overviews/de_png.png\"},"
              "{\"path\":\"/demos/010127/0002_de_bare.kdem\",\"map\":\"de_bare\",\"date\":\"010127\","
              "\"time\":\"0002\",\"bytes\":0,\"overview\":\"\"},"
              "{\"path\":\"/demos/010127/0001_de_png.kdem\",\"map\":\"de_png\",\"date\":\"010127\","
              "\"time\":\"0001\",\"bytes\":0,\"overview\":\"overviews/de_png.png\"}]}");
    delete[] json;
    EXPECT_EQ(g_overview_lookups, 2);
}
