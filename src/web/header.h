// The fixed response header and whole sends: shared by every answer (web/response.h) and the
// visitors' kept start pages (web/start_page.h).
#pragma once

#include <cstdint>

#include "net/net.h"

constexpr int HEADER_MAX = 2047;
constexpr int DATE_MAX = 63;

// "Thu, 01 Jan 1970 00:00:00 GMT" for seconds since 1970 (UTC); false when it does not fit.
// Formatted by hand: gmtime's shared buffer is not safe on many visitor threads.
bool formatHttpDate(int64_t seconds, char* out, int size);

constexpr const char* CACHE_NEVER = "no-store, no-cache, must-revalidate";  // pages, errors
// Five minutes: a page load within them asks for no static file at all, and a plugin update
// reaches every viewer within them (after that each file costs a 304 of about 200 bytes).
constexpr const char* CACHE_STATIC = "public, max-age=300";

// The response header; its length, or -1 when it does not fit in size - 1 characters.
// last_modified: a Last-Modified line when not null. content_type null: neither Content-Length
// nor Content-Type (a 304 has no content).
int formatResponseHeader(char* out, int size, const char* status, const char* date,
                         int content_length, const char* content_type,
                         const char* cache_control = CACHE_NEVER,
                         const char* last_modified = nullptr);

// Sends data whole, continuing after short sends; false when a send fails or times out.
bool sendAll(StreamSocket* connection, const char* data, int length);
