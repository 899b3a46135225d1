#include "overview.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "map.h"

#if defined(_WIN32)
#include <direct.h>
#endif

namespace kovi {
namespace {

enum Colour : uint8_t {
    VOID_, FLOOR, GRID, LANE, T_SPAWN, CT_SPAWN, SITE, SITE_EDGE, BALCONY, LADDER, WALL, LABEL,
    SHADOW, COLOURS
};
// B, G, R as BMP palettes hold them.
const uint8_t kPalette[COLOURS][3] = {
    {0x12, 0x10, 0x0e}, {0x4a, 0x56, 0x5c}, {0x55, 0x62, 0x68}, {0x68, 0x78, 0x80},
    {0x2a, 0x4c, 0x7a}, {0x7a, 0x52, 0x2e}, {0x3a, 0x3a, 0x78}, {0x40, 0x40, 0xd8},
    {0x8c, 0x9c, 0xa4}, {0x30, 0x8c, 0xc8}, {0x28, 0x2c, 0x30}, {0xf0, 0xf0, 0xf0},
    {0x08, 0x08, 0x08},
};

// 5 x 7 glyphs, one byte per row, bit 4 leftmost.
struct Glyph {
    char c;
    uint8_t rows[7];
};
const Glyph kGlyphs[] = {
    {'A', {0x04, 0x0a, 0x11, 0x11, 0x1f, 0x11, 0x11}},
    {'B', {0x1e, 0x11, 0x11, 0x1e, 0x11, 0x11, 0x1e}},
    {'C', {0x0e, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0e}},
    {'T', {0x1f, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
};

// The balcony's walkway and its two ladders (see map.cpp's routes).
constexpr Rect kBalcony = {-1110, -380, -990, 380};
constexpr Rect kLadders[] = {{-1090, -430, -1010, -380}, {-1090, 380, -1010, 430}};

class Canvas {
public:
    Canvas() : m_pixels(size_t(OVERVIEW_WIDTH) * OVERVIEW_HEIGHT, VOID_) {}

    void pixel(int u, int v, uint8_t colour) {
        if (u >= 0 && u < OVERVIEW_WIDTH && v >= 0 && v < OVERVIEW_HEIGHT)
            m_pixels[size_t(v) * OVERVIEW_WIDTH + size_t(u)] = colour;
    }
    void box(int u0, int v0, int u1, int v1, uint8_t colour) {
        for (int v = v0; v <= v1; ++v)
            for (int u = u0; u <= u1; ++u) pixel(u, v, colour);
    }
    // A world rectangle, optionally with an edge of `edge` pixels in another colour.
    void rect(const Rect& r, uint8_t fill, uint8_t edge_colour = 0, int edge = 0) {
        int u0, v0, u1, v1;
        overviewPixel(r.x0, r.y1, &u0, &v0);  // y up: the rectangle's top row is its north edge
        overviewPixel(r.x1, r.y0, &u1, &v1);
        box(u0, v0, u1, v1, edge > 0 ? edge_colour : fill);
        if (edge > 0) box(u0 + edge, v0 + edge, u1 - edge, v1 - edge, fill);
    }
    void disc(int cu, int cv, int radius, uint8_t colour) {
        for (int dv = -radius; dv <= radius; ++dv)
            for (int du = -radius; du <= radius; ++du)
                if (du * du + dv * dv <= radius * radius) pixel(cu + du, cv + dv, colour);
    }
    // A worn lane between two world points, `radius` pixels either side.
    void lane(float x0, float y0, float x1, float y1, int radius, uint8_t colour) {
        int u0, v0, u1, v1;
        overviewPixel(x0, y0, &u0, &v0);
        overviewPixel(x1, y1, &u1, &v1);
        int steps = std::max(std::abs(u1 - u0), std::abs(v1 - v0)) / 2 + 1;
        for (int i = 0; i <= steps; ++i)
            disc(u0 + (u1 - u0) * i / steps, v0 + (v1 - v0) * i / steps, radius, colour);
    }
    // Text centred on a world point, `scale` pixels per glyph dot, with a drop shadow.
    void text(const char* s, float x, float y, int scale) {
        int cu, cv;
        overviewPixel(x, y, &cu, &cv);
        int width = int(strlen(s)) * 6 * scale - scale;
        int u = cu - width / 2, v = cv - 7 * scale / 2;
        for (const char* c = s; *c; ++c, u += 6 * scale) {
            for (const Glyph& g : kGlyphs) {
                if (g.c != *c) continue;
                for (int row = 0; row < 7; ++row)
                    for (int col = 0; col < 5; ++col) {
                        if (!(g.rows[row] & (0x10 >> col))) continue;
                        int pu = u + col * scale, pv = v + row * scale;
                        box(pu + 2, pv + 2, pu + scale + 1, pv + scale + 1, SHADOW);
                        box(pu, pv, pu + scale - 1, pv + scale - 1, LABEL);
                    }
            }
        }
    }
    std::vector<uint8_t>& pixels() { return m_pixels; }

private:
    std::vector<uint8_t> m_pixels;
};

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

void makeFolder(const std::string& path) {
#if defined(_WIN32)
    _mkdir(path.c_str());
#else
    mkdir(path.c_str(), 0755);
#endif
}

// Every folder along the path, as mkdir -p; failures show when the file is written.
void makeFolders(const std::string& path) {
    for (size_t at = path.find_first_of("/\\", 1); at != std::string::npos;
         at = path.find_first_of("/\\", at + 1))
        makeFolder(path.substr(0, at));
    makeFolder(path);
}

bool writeFile(const std::string& path, const void* data, size_t size, std::string* error) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        *error = "cannot create " + path;
        return false;
    }
    bool ok = fwrite(data, 1, size, f) == size;
    ok = fclose(f) == 0 && ok;
    if (!ok) {
        *error = "cannot write " + path;
        remove(path.c_str());  // half a picture would stay "present" for good
    }
    return ok;
}

}  // namespace

void overviewPixel(float x, float y, int* u, int* v) {
    const float scale = OVERVIEW_ZOOM * float(OVERVIEW_WIDTH) / OVERVIEW_UNITS_AT_ZOOM_1;
    *u = int(std::floor(float(OVERVIEW_WIDTH) / 2 + x * scale));
    *v = int(std::floor(float(OVERVIEW_HEIGHT) / 2 - y * scale));
}

std::vector<uint8_t> drawOverview() {
    const MapLayout& map = mapLayout();
    Canvas canvas;
    canvas.rect(map.bounds, FLOOR);
    for (float w = map.bounds.x0 + 256; w < map.bounds.x1; w += 256) {
        canvas.rect({w - 4, map.bounds.y0, w + 4, map.bounds.y1}, GRID);
        canvas.rect({map.bounds.x0, w - 4, map.bounds.x1, w + 4}, GRID);
    }
    for (int r = 0; r < map.route_count; ++r) {
        const Route& route = map.routes[r];
        Vec3 from = map.spawn[route.team].center();
        for (int i = 0; i < route.count; ++i) {
            const Waypoint& to = route.points[i];
            canvas.lane(from.x, from.y, to.x, to.y, 10, LANE);
            from = {to.x, to.y, 0.0f};
        }
    }
    canvas.rect(map.spawn[TEAM_T], T_SPAWN, WALL, 2);
    canvas.rect(map.spawn[TEAM_CT], CT_SPAWN, WALL, 2);
    for (const Rect& site : map.site) canvas.rect(site, SITE, SITE_EDGE, 3);
    canvas.rect(kBalcony, BALCONY, WALL, 2);
    for (const Rect& ladder : kLadders) {
        canvas.rect(ladder, LADDER);
        for (float y = ladder.y0 + 12; y < ladder.y1; y += 16)
            canvas.rect({ladder.x0, y - 3, ladder.x1, y + 3}, WALL);
    }
    // The outer wall, drawn last so nothing spills over it.
    const Rect& b = map.bounds;
    for (const Rect& wall : {Rect{b.x0 - 40, b.y0 - 40, b.x1 + 40, b.y0}, Rect{b.x0 - 40, b.y1, b.x1 + 40, b.y1 + 40},
                             Rect{b.x0 - 40, b.y0, b.x0, b.y1}, Rect{b.x1, b.y0, b.x1 + 40, b.y1}})
        canvas.rect(wall, WALL);
    Vec3 a = map.site[0].center(), bs = map.site[1].center();
    canvas.text("A", a.x, a.y, 6);
    canvas.text("B", bs.x, bs.y, 6);
    Vec3 t = map.spawn[TEAM_T].center(), ct = map.spawn[TEAM_CT].center();
    canvas.text("T", t.x, t.y + 300, 4);  // beside the spawn area, not over its players
    canvas.text("CT", ct.x, ct.y - 300, 4);
    return std::move(canvas.pixels());
}

std::vector<uint8_t> overviewBitmap() {
    std::vector<uint8_t> pixels = drawOverview();
    const uint32_t palette_bytes = 256 * 4, header = 14 + 40 + palette_bytes;
    const uint32_t image_bytes = uint32_t(pixels.size());  // 1024 bytes a row: no padding
    std::vector<uint8_t> out;
    out.reserve(header + image_bytes);
    out.push_back('B');
    out.push_back('M');
    put32(out, header + image_bytes);
    put32(out, 0);
    put32(out, header);
    put32(out, 40);
    put32(out, OVERVIEW_WIDTH);
    put32(out, OVERVIEW_HEIGHT);  // positive: rows bottom-up
    put16(out, 1);
    put16(out, 8);
    put32(out, 0);  // no compression
    put32(out, image_bytes);
    put32(out, 2835);  // 72 dpi
    put32(out, 2835);
    put32(out, 256);
    put32(out, 0);
    for (int i = 0; i < 256; ++i) {
        const uint8_t* c = kPalette[i < COLOURS ? i : 0];
        out.insert(out.end(), {c[0], c[1], c[2], 0});
    }
    for (int row = OVERVIEW_HEIGHT - 1; row >= 0; --row) {
        auto begin = pixels.begin() + std::ptrdiff_t(row) * OVERVIEW_WIDTH;
        out.insert(out.end(), begin, begin + OVERVIEW_WIDTH);
    }
    return out;
}

std::string overviewDescription(const std::string& map) {
    char text[512];
    snprintf(text, sizeof(text),
             "// overview description file for %s.bsp, drawn by simhost from its own map\n"
             "\n"
             "global\n"
             "{\n"
             "\tZOOM\t%.2f\n"
             "\tORIGIN\t0.00\t0.00\t0.00\n"
             "\tROTATED\t1\n"
             "}\n"
             "\n"
             "layer\n"
             "{\n"
             "\tIMAGE\t\"overviews/%s.bmp\"\n"
             "\tHEIGHT\t0.00\n"
             "}\n",
             map.c_str(), double(OVERVIEW_ZOOM), map.c_str());
    return text;
}

bool writeOverviewFiles(const std::string& game, const std::string& folder, const std::string& map,
                        std::string* error) {
    if (map.empty() || map.find_first_of("/\\") != std::string::npos) {
        *error = "no overview for a map named \"" + map + "\"";
        return false;
    }
    std::string dir = game + "/" + folder + "/overviews";
    makeFolders(dir);
    std::string text_path = dir + "/" + map + ".txt", picture_path = dir + "/" + map + ".bmp";
    if (!exists(text_path)) {
        std::string text = overviewDescription(map);
        if (!writeFile(text_path, text.data(), text.size(), error)) return false;
    }
    if (!exists(picture_path)) {
        std::vector<uint8_t> bmp = overviewBitmap();
        if (!writeFile(picture_path, bmp.data(), bmp.size(), error)) return false;
    }
    return true;
}

}  // namespace kovi
