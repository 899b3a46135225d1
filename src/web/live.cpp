#include "web/live.h"

#include <cstdio>
#include <cstring>

#include "broadcast/buffer.h"
#include "broadcast/fragments.h"
#include "host/config.h"
#include "web/response.h"

namespace {

constexpr const char* CACHE_FRAGMENT = "public, max-age=3600";
constexpr const char* CACHE_NOT_YET = "max-age=1";
constexpr const char* TYPE_BINARY = "application/octet-stream";
constexpr const char* TYPE_JSON = "application/json";

bool sendStatus(StreamSocket* connection, const char* status) {
    return sendContent(connection, status, "text/html", CACHE_NEVER, "", 0);
}

bool sendSync(StreamSocket* connection) {
    FragmentRef newest = g_fragments.newest();
    ConfigReadScope reading(g_cfg);
    const char* hostname = g_cfg.getString("hostname");
    char map[FRAGMENT_MAP_MAX * 6 + 3];
    char overview[FRAGMENT_OVERVIEW_MAX * 6 + 3];
    char server[512];
    writeJsonString(map, sizeof(map), newest ? newest->m_map : "");
    writeJsonString(overview, sizeof(overview), newest ? newest->m_overview : "");
    writeJsonString(server, sizeof(server), hostname);
    char json[LIVE_SYNC_MAX + 1];
    char cache[32];
    snprintf(cache, sizeof(cache), "max-age=%d", LIVE_SYNC_MAX_AGE);
    int delay = g_pck_buffer.m_delay.load(std::memory_order_relaxed) / 2;
    int n = snprintf(json, sizeof(json),
                     "{\"fragment\":%d,\"elements\":%d,\"delay\":%d,\"map\":%s,\"overview\":%s,"
                     "\"server\":%s,\"first\":%d,\"hold\":%d,\"run\":%d}",
                     newest ? newest->m_number : 0, FRAGMENT_ELEMENTS, delay, map, overview,
                     server, newest ? g_fragments.mapFirstNumber() : 0, LIVE_HOLD_MS / 1000,
                     LIVE_RUN);
    if (n <= 0 || n >= int(sizeof(json))) return sendStatus(connection, "404 Not Found");
    return sendContent(connection, "200 OK", TYPE_JSON, cache, json, n, true);
}

// The fragment after the newest, once complete; empty when the hold ran out or the connection
// turned readable first.
FragmentRef awaitNext(StreamSocket* connection, int number) {
    for (int waited = 0; waited < LIVE_HOLD_MS; waited += LIVE_HOLD_STEP_MS) {
        if (g_fragments.newestNumber() >= number) break;
        if (connection->waitReadable(LIVE_HOLD_STEP_MS) != 0) break;
    }
    return g_fragments.get(number);
}

// A run of LIVE_RUN bodies from `first`, all kept or none sent. Each is sent from its own
// reference, held until the last byte is out.
bool sendRun(StreamSocket* connection, int first) {
    if ((first - 1) % LIVE_RUN != 0) return sendStatus(connection, "404 Not Found");
    FragmentRef run[LIVE_RUN];
    const char* pieces[LIVE_RUN];
    int lengths[LIVE_RUN];
    for (int i = 0; i < LIVE_RUN; i++) {
        run[i] = g_fragments.get(first + i);
        if (!run[i]) return sendStatus(connection, "404 Not Found");
        pieces[i] = run[i]->m_body;
        lengths[i] = run[i]->m_body_length;
    }
    return sendPieces(connection, "200 OK", TYPE_BINARY, CACHE_FRAGMENT, pieces, lengths, LIVE_RUN,
                      true);
}

// "/live/N/start", "/live/N/body" or "/live/N/bodies" (path after "/live/").
bool sendFragment(StreamSocket* connection, const char* rest) {
    const char* slash = strchr(rest, '/');
    if (slash == nullptr) return sendStatus(connection, "404 Not Found");
    bool start = strcmp(slash + 1, "start") == 0;
    bool bodies = strcmp(slash + 1, "bodies") == 0;
    if (!start && !bodies && strcmp(slash + 1, "body") != 0)
        return sendStatus(connection, "404 Not Found");
    int number = parseFragmentNumber(rest, int(slash - rest));
    if (number < 0) return sendStatus(connection, "400 Bad Request");
    if (bodies) return sendRun(connection, number);
    bool next = number == g_fragments.newestNumber() + 1;
    FragmentRef fragment = next ? awaitNext(connection, number) : g_fragments.get(number);
    if (!fragment && next)
        return sendContent(connection, "404 Not Found", "text/html", CACHE_NOT_YET, "", 0, true);
    if (!fragment) return sendStatus(connection, "404 Not Found");
    // Sent from our own reference: the store may evict it meanwhile, the bytes stay.
    if (start)
        return sendContent(connection, "200 OK", TYPE_BINARY, CACHE_FRAGMENT, fragment->m_start,
                           fragment->m_start_length, true);
    return sendContent(connection, "200 OK", TYPE_BINARY, CACHE_FRAGMENT, fragment->m_body,
                       fragment->m_body_length, true);
}

}  // namespace

bool isLivePath(const char* path) {
    return strcmp(path, "/live") == 0 || strncmp(path, "/live/", 6) == 0;
}

int parseFragmentNumber(const char* text, int length) {
    if (length <= 0 || length > LIVE_NUMBER_DIGITS) return -1;
    int number = 0;
    for (int i = 0; i < length; i++) {
        if (text[i] < '0' || text[i] > '9') return -1;
        number = number * 10 + (text[i] - '0');
    }
    return number;
}

int writeJsonString(char* out, int size, const char* text) {
    int n = 0;
    out[n++] = '"';
    for (const char* c = text ? text : ""; *c; ++c) {
        unsigned char byte = static_cast<unsigned char>(*c);
        char escaped[8];
        int length;
        if (byte == '"' || byte == '\\')
            length = snprintf(escaped, sizeof(escaped), "\\%c", byte);
        else if (byte < 0x20 || byte == 0x7f)
            length = snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
        else
            length = snprintf(escaped, sizeof(escaped), "%c", byte);
        if (n + length + 2 > size) break;  // room for the closing quote and the terminator
        memcpy(out + n, escaped, size_t(length));
        n += length;
    }
    out[n++] = '"';
    out[n] = '\0';
    return n;
}

bool sendLive(StreamSocket* connection, const char* path) {
    if (!httpStreamEnabled()) return sendStatus(connection, "404 Not Found");
    if (strcmp(path, "/live/sync") == 0) return sendSync(connection);
    if (strncmp(path, "/live/", 6) == 0) return sendFragment(connection, path + 6);
    return sendStatus(connection, "404 Not Found");
}
