// The delayed stream over HTTP, from the fragment store (broadcast/fragments.h):
//   GET /live/sync      JSON: newest complete fragment, elements per fragment, delay, map,
//                       overview image, server name, "first": the current map's oldest kept
//                       fragment, where a viewer may rewind to (Cache-Control max-age=1)
//   GET /live/N/start   the full state at fragment N's beginning (binary)
//   GET /live/N/body    fragment N's elements (binary)
// Complete fragments never change, so they may be cached for an hour. Nothing here touches the
// file system.
#pragma once

#include "net/net.h"

constexpr int LIVE_NUMBER_DIGITS = 9;  // a longer fragment number is malformed
constexpr int LIVE_SYNC_MAX = 2047;    // the sync JSON; texts are cut to fit

// True for "/live" and every path under "/live/": they are answered by sendLive alone.
bool isLivePath(const char* path);

// The fragment number of "N" (digits only, at most LIVE_NUMBER_DIGITS); -1 when malformed.
int parseFragmentNumber(const char* text, int length);

// Writes text as a JSON string (quotes included) into out, cut at a character that would not
// fit; the length written, always terminated. size must be at least 3.
int writeJsonString(char* out, int size, const char* text);

// Answers one request for a live path: 200 with the content, 400 for a malformed fragment number,
// 404 for anything else (and for every path while http_stream is off). True when a complete
// response went out.
bool sendLive(StreamSocket* connection, const char* path);
