// The recorded demos as the web server offers them: "/demos/" lists them as JSON, newest first,
// and a demo is served at its own path. Only names of the form the recorder writes,
// "/demos/MMDDYY/HHMM_<map>.kdem", are listed or served; anything else under /demos is missing.
#pragma once

#include "net/net.h"

constexpr int DEMOS_LISTED_MAX = 500;  // the newest ones; older files stay on disk, unlisted
constexpr int DEMO_MAP_MAX = 63;

// True for "/demos" and every path below it.
bool isDemosPath(const char* path);

// True for "/demos/MMDDYY/HHMM_<map>.kdem" with digits where the recorder puts them and a map
// name of 1 to DEMO_MAP_MAX letters, digits, '_', '-' or single '.'.
bool isDemoFilePath(const char* path);

// Answers a path for which isDemosPath holds: the listing, a demo file or 404. True when a
// complete response went out.
bool sendDemos(StreamSocket* connection, const char* path);

// Finds a map's overview image as findOverviewImage does (broadcast/fragments.h).
using OverviewFinder = void (*)(const char* map, char* out, int size);

// The listing's JSON for the demos folder `folder` (on disk): {"demos":[{"path":...,"map":...,
// "date":"MMDDYY","time":"HHMM","bytes":N},...]}. With a finder each entry also names its map's
// overview image, "overview":"overviews/<map>.<kind>" or "" (looked up once per map), so a
// viewer asks for no picture that is not there. Heap text the caller frees with delete[]; null
// when memory ran out. A missing folder lists nothing.
char* listDemosJson(const char* folder, int* length, OverviewFinder find_overview = nullptr);
