// The delayed stream over HTTP, from the fragment store (broadcast/fragments.h):
//   GET /live/sync      JSON: newest complete fragment, elements per fragment, delay, map,
//                       overview image, server name, "first": the current map's oldest kept
//                       fragment, where a viewer may rewind to, "hold": how long a request for
//                       the next fragment is held, "run": fragments per /bodies
//                       (Cache-Control max-age=LIVE_SYNC_MAX_AGE)
//   GET /live/N/start   the full state at fragment N's beginning (binary)
//   GET /live/N/body    fragment N's elements (binary)
//   GET /live/N/bodies  the bodies of fragments N to N + LIVE_RUN - 1 one after another, where N
//                       is 1 more than a multiple of LIVE_RUN: a joining viewer loads the map's
//                       history a run at a time. 404 unless every one of them is kept.
// Complete fragments never change, so they may be cached for an hour. A request for the fragment
// after the newest waits for it (up to LIVE_HOLD_MS), so that a following viewer needs no poll
// to learn it is out, and a cache in front passes on one request for it however many viewers
// wait. Nothing here touches the file system.
#pragma once

#include "net/net.h"

constexpr int LIVE_NUMBER_DIGITS = 9;  // a longer fragment number is malformed
constexpr int LIVE_SYNC_MAX = 2047;    // the sync JSON; texts are cut to fit
// Two fragments: a late fragment still comes within one hold, and a cache's lock on the URL
// (nginx's proxy_cache_lock_timeout in the example, 15 s) outlasts it.
constexpr int LIVE_HOLD_MS = 10000;
constexpr int LIVE_HOLD_STEP_MS = 20;  // how often a held request looks for its fragment
// Followers learn of new fragments by the held requests; the sync serves joining viewers, and a
// cache in front refreshes it from the game server once per this many seconds.
constexpr int LIVE_SYNC_MAX_AGE = 10;
constexpr int LIVE_RUN = 12;  // fragments per /bodies: a minute

// True for "/live" and every path under "/live/": they are answered by sendLive alone.
bool isLivePath(const char* path);

// The fragment number of "N" (digits only, at most LIVE_NUMBER_DIGITS); -1 when malformed.
int parseFragmentNumber(const char* text, int length);

// Writes text as a JSON string (quotes included) into out, cut at a character that would not
// fit; the length written, always terminated. size must be at least 3.
int writeJsonString(char* out, int size, const char* text);

// Answers one request for a live path: 200 with the content, 400 for a malformed fragment number,
// 404 for anything else (and for every path while http_stream is off). The fragment after the
// newest is waited for, until it is complete, LIVE_HOLD_MS pass or the connection turns readable
// (the peer closed, or the server is stopping); then 404 cached for a second, so that the viewers
// a cache held back meanwhile get that answer and not one trip each to the game server. True
// when a complete response went out.
bool sendLive(StreamSocket* connection, const char* path);
