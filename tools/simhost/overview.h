// The match's map as the game's overview files: a description (ZOOM, ORIGIN, ROTATED, in the
// layout of the game's overviews/<map>.txt) and a 1024 x 768 picture drawn from the map layout,
// an 8-bit BMP like the game's own. The picture follows the game's overview convention for a
// rotated overview: 8192 / zoom world units across its width, the origin at its centre, world x
// to the right and world y up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kovi {

constexpr int OVERVIEW_WIDTH = 1024;
constexpr int OVERVIEW_HEIGHT = 768;
constexpr float OVERVIEW_ZOOM = 1.25f;  // the 4096-unit square fills 640 of the 768 rows
constexpr float OVERVIEW_UNITS_AT_ZOOM_1 = 8192.0f;

// Pixel column and row of a world position (may lie outside the picture).
void overviewPixel(float x, float y, int* u, int* v);

// The picture's palette indices, top row first, OVERVIEW_WIDTH per row.
std::vector<uint8_t> drawOverview();
// The picture as a whole BMP file (bottom-up rows, 256-colour palette, no compression).
std::vector<uint8_t> overviewBitmap();
// The description file's text for a map.
std::string overviewDescription(const std::string& map);

// Writes <game>/<folder>/overviews/<map>.txt and <map>.bmp, each only when it is absent, so an
// administrator's own files stay. False, with the reason, when one could not be written.
bool writeOverviewFiles(const std::string& game, const std::string& folder, const std::string& map,
                        std::string* error);

}  // namespace kovi
