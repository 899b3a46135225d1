// Map overview information: where the map's top-down picture sits in world coordinates, read at
// every map start from "<dir>/overviews/<map>.txt" through the engine's file loader.
#pragma once

// Reads the map's overview description. The outputs are always set: defaults (zoom 1, rotated 0,
// origin 0 0) first, then what was found. True only when zoom, origin and rotated were all found.
bool getMapInfo(const char* map, float* zoom, int* rotated, int* origin_x, int* origin_y);

// Copies the game's "overviews/<map>.<extension>" out of its file system into
// "exoverviews/<map>.<extension>" under the working directory, for the administrator.
void extractOverview(const char* map, const char* extension);
