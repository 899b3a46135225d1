// simhost's overview of its map: the picture shows the map where its description places it (by
// the viewer's reading of an overview), and a run gives every map of its cycle the two files the
// plugin and the viewer look for, keeping an administrator's own.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "map.h"
#include "overview.h"
#include "test_host.h"

namespace {

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

// Palette colour (B, G, R) of the pixel at a world position, read from the BMP file as a
// browser would, placed by the rotated-overview rule: 8192 / zoom units across 1024 pixels.
uint32_t colourAt(const std::vector<uint8_t>& bmp, float x, float y) {
    const float scale = kovi::OVERVIEW_ZOOM * 1024.0f / 8192.0f;
    int u = int(512.0f + x * scale), v = int(384.0f - y * scale);
    size_t row = size_t(767 - v);  // the file's rows run bottom-up
    uint8_t index = bmp[le32(bmp, 10) + row * 1024 + size_t(u)];
    return le32(bmp, 54 + size_t(index) * 4);
}

std::vector<uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(SimhostOverview, ThePictureShowsTheMapWhereItsDescriptionPlacesIt) {
    std::vector<uint8_t> bmp = kovi::overviewBitmap();
    ASSERT_EQ(bmp.size(), 14u + 40u + 1024u + 1024u * 768u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(le32(bmp, 2), bmp.size());
    EXPECT_EQ(le32(bmp, 18), 1024u);
    EXPECT_EQ(le32(bmp, 22), 768u);
    EXPECT_EQ(bmp[28], 8);  // bits per pixel, as the game's own overviews
    EXPECT_EQ(le32(bmp, 30), 0u);

    const kovi::MapLayout& map = kovi::mapLayout();
    auto inner = [](const kovi::Rect& r) { return kovi::Vec3{r.x0 + 30, r.y0 + 30, 0}; };
    uint32_t t = colourAt(bmp, inner(map.spawn[kovi::TEAM_T]).x, inner(map.spawn[kovi::TEAM_T]).y);
    uint32_t ct = colourAt(bmp, inner(map.spawn[kovi::TEAM_CT]).x, inner(map.spawn[kovi::TEAM_CT]).y);
    uint32_t a = colourAt(bmp, inner(map.site[0]).x, inner(map.site[0]).y);
    uint32_t b = colourAt(bmp, inner(map.site[1]).x, inner(map.site[1]).y);
    uint32_t floor = colourAt(bmp, 1000, -200);
    uint32_t outside = colourAt(bmp, 3000, 0);
    // The terrorists' corner is orange and the counter-terrorists' blue, as the teams are drawn.
    EXPECT_GT((t >> 16) & 0xff, t & 0xff);
    EXPECT_GT(ct & 0xff, (ct >> 16) & 0xff);
    EXPECT_EQ(a, b);
    for (uint32_t c : {t, ct, a, floor}) EXPECT_NE(c, outside);
    for (uint32_t c : {t, ct, a}) EXPECT_NE(c, floor);
    EXPECT_NE(a, floor);

    std::string text = kovi::overviewDescription("de_kovi");
    EXPECT_NE(text.find("\tZOOM\t1.25\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\tORIGIN\t0.00\t0.00\t0.00\n"), std::string::npos);
    EXPECT_NE(text.find("\tROTATED\t1\n"), std::string::npos);
}

TEST(SimhostOverview, ARunGivesEachMapItsOverviewAndKeepsOnesAlreadyThere) {
    ScratchDir dir;
    dir.write("addons/kovitv/config.ini", "udp_port " + std::to_string(freeUdpPort()) + "\n");
    const std::string own = "global\n{\n\tZOOM 2.0\n\tORIGIN 10 20 0\n\tROTATED 0\n}\n";
    dir.write("addons/kovitv/overviews/de_second.txt", own);
    std::string cmd = std::string(KOVITV_SIMHOST) + " --plugin '" + KOVITV_PLUGIN + "' --game '" +
                      dir.path() + "' --cvar net_address=127.0.0.1:" +
                      std::to_string(freeTcpPort()) +
                      " --speed 0 --duration 3 --no-stdin --players 2 --map de_first --map de_second"
                      " --map-time 1.5";
    RunResult r = runProgram(cmd);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("has no overview description"), std::string::npos) << r.output;
    EXPECT_EQ(readAll(dir.file("addons/kovitv/overviews/de_first.bmp")), kovi::overviewBitmap());
    std::vector<uint8_t> first = readAll(dir.file("addons/kovitv/overviews/de_first.txt"));
    EXPECT_EQ(std::string(first.begin(), first.end()), kovi::overviewDescription("de_first"));
    std::vector<uint8_t> second = readAll(dir.file("addons/kovitv/overviews/de_second.txt"));
    EXPECT_EQ(std::string(second.begin(), second.end()), own);

    ScratchDir none;
    RunResult bare = runProgram(std::string(KOVITV_SIMHOST) + " --plugin '" + KOVITV_PLUGIN +
                                "' --game '" + none.path() + "' --cvar net_address=127.0.0.1:" +
                                std::to_string(freeTcpPort()) +
                                " --speed 0 --duration 1 --no-stdin --players 2 --no-overview");
    ASSERT_EQ(bare.status, 0) << bare.output;
    EXPECT_TRUE(readAll(none.file("addons/kovitv/overviews/de_kovi.txt")).empty());
    // Without one the admin reads a note for the map, not an error.
    const std::string note = "Map \"de_kovi\" has no overview description";
    size_t at = bare.output.find(note);
    EXPECT_NE(at, std::string::npos) << bare.output;
    EXPECT_EQ(bare.output.find(note, at + 1), std::string::npos) << bare.output;
    EXPECT_EQ(bare.output.find("Failed to find map overview"), std::string::npos) << bare.output;
}
