#include "web/demos.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

#include "broadcast/fragments.h"
#include "host/config.h"
#include "host/host.h"
#include "net/files.h"
#include "web/response.h"

namespace {

constexpr int DATE_DIGITS = 6;  // MMDDYY
constexpr int TIME_DIGITS = 4;  // HHMM
constexpr const char* SUFFIX = ".kdem";
constexpr int SUFFIX_LENGTH = 5;
constexpr int FILE_MAX = TIME_DIGITS + 1 + DEMO_MAP_MAX + SUFFIX_LENGTH;
constexpr int FOLDER_MAX = 1024;
// One listed entry's JSON without its path's text: the fixed keys, a 20-digit size and the
// overview's path.
constexpr int ENTRY_JSON_MAX = 2 * FILE_MAX + DATE_DIGITS + FRAGMENT_OVERVIEW_MAX + 160;
// Maps whose overview a listing remembers; a listing of more maps looks the rest up each time.
constexpr int OVERVIEWS_REMEMBERED = 32;

struct RememberedOverview {
    char m_map[DEMO_MAP_MAX + 1];
    char m_path[FRAGMENT_OVERVIEW_MAX + 1];
};

bool digits(const char* text, int count) {
    for (int i = 0; i < count; i++)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

bool isMapChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '-' || c == '.';
}

bool isDateFolder(const char* name) {
    return strlen(name) == size_t(DATE_DIGITS) && digits(name, DATE_DIGITS);
}

// "HHMM_<map>.kdem"
bool isDemoFileName(const char* name) {
    size_t length = strlen(name);
    if (length < size_t(TIME_DIGITS + 2 + SUFFIX_LENGTH) || length > size_t(FILE_MAX)) return false;
    if (!digits(name, TIME_DIGITS) || name[TIME_DIGITS] != '_') return false;
    if (strcmp(name + length - SUFFIX_LENGTH, SUFFIX) != 0) return false;
    const char* map = name + TIME_DIGITS + 1;
    const char* end = name + length - SUFFIX_LENGTH;
    for (const char* c = map; c < end; ++c)
        if (!isMapChar(*c) || (*c == '.' && c[1] == '.')) return false;  // the suffix follows
    return true;
}

struct Listed {
    char m_date[DATE_DIGITS + 1];
    char m_file[FILE_MAX + 1];
    int64_t m_bytes;
    int64_t m_key;  // YYMMDDHHMM: orders by the moment the recording started
};

struct Listing {
    Listed* m_entries;
    int m_count = 0;
    const char* m_folder;
    const char* m_date = nullptr;  // the date folder being read
};

int64_t sortKey(const char* date, const char* file) {
    auto number = [](const char* text, int count) {
        int64_t n = 0;
        for (int i = 0; i < count; i++) n = n * 10 + (text[i] - '0');
        return n;
    };
    int64_t year = number(date + 4, 2), month = number(date, 2), day = number(date + 2, 2);
    return (((year * 100 + month) * 100 + day) * 10000) + number(file, TIME_DIGITS);
}

// Keeps the newest DEMOS_LISTED_MAX: when full, a newer file takes the oldest one's place.
void keep(Listing& listing, const char* file, int64_t bytes) {
    int64_t key = sortKey(listing.m_date, file);
    int slot = listing.m_count;
    if (slot == DEMOS_LISTED_MAX) {
        slot = 0;
        for (int i = 1; i < listing.m_count; i++)
            if (listing.m_entries[i].m_key < listing.m_entries[slot].m_key) slot = i;
        if (listing.m_entries[slot].m_key >= key) return;
    } else {
        listing.m_count++;
    }
    Listed& entry = listing.m_entries[slot];
    snprintf(entry.m_date, sizeof(entry.m_date), "%s", listing.m_date);
    snprintf(entry.m_file, sizeof(entry.m_file), "%s", file);
    entry.m_bytes = bytes;
    entry.m_key = key;
}

void visitFile(const char* name, void* context) {
    Listing& listing = *static_cast<Listing*>(context);
    if (!isDemoFileName(name)) return;
    char path[FOLDER_MAX];
    int n = snprintf(path, sizeof(path), "%s/%s/%s", listing.m_folder, listing.m_date, name);
    if (n <= 0 || n >= int(sizeof(path))) return;
    int64_t bytes = regularFileSize(path);
    if (bytes >= 0) keep(listing, name, bytes);
}

void visitDate(const char* name, void* context) {
    Listing& listing = *static_cast<Listing*>(context);
    if (!isDateFolder(name)) return;
    char path[FOLDER_MAX];
    int n = snprintf(path, sizeof(path), "%s/%s", listing.m_folder, name);
    if (n <= 0 || n >= int(sizeof(path))) return;
    listing.m_date = name;
    listDirectory(path, visitFile, context);
    listing.m_date = nullptr;
}

void sortNewestFirst(Listed* entries, int count) {
    for (int i = 1; i < count; i++) {  // a few hundred at most
        Listed moved = entries[i];
        int j = i;
        for (; j > 0 && entries[j - 1].m_key < moved.m_key; j--) entries[j] = entries[j - 1];
        entries[j] = moved;
    }
}

bool demosFolder(char* out, int size) {
    const char* dir = g_cfg.getString("dir");
    int n = snprintf(out, size_t(size), "%s/%s/demos", g_gamedir, dir ? dir : "");
    return n > 0 && n < size;
}

bool sendMissing(StreamSocket* connection) {
    return sendContent(connection, "404 Not Found", "text/html", CACHE_NEVER, "", 0);
}

}  // namespace

bool isDemosPath(const char* path) {
    return strcmp(path, "/demos") == 0 || strncmp(path, "/demos/", 7) == 0;
}

bool isDemoFilePath(const char* path) {
    if (strncmp(path, "/demos/", 7) != 0) return false;
    const char* date = path + 7;
    const char* slash = strchr(date, '/');
    if (slash == nullptr || slash - date != DATE_DIGITS || !digits(date, DATE_DIGITS)) return false;
    return strchr(slash + 1, '/') == nullptr && isDemoFileName(slash + 1);
}

char* listDemosJson(const char* folder, int* length, OverviewFinder find_overview) {
    Listed* entries = new (std::nothrow) Listed[DEMOS_LISTED_MAX];
    if (!entries) return nullptr;
    RememberedOverview* remembered = nullptr;
    int remembered_count = 0;
    if (find_overview) {
        remembered = new (std::nothrow) RememberedOverview[OVERVIEWS_REMEMBERED];
        if (!remembered) {
            delete[] entries;
            return nullptr;
        }
    }
    Listing listing;
    listing.m_entries = entries;
    listing.m_folder = folder;
    listDirectory(folder, visitDate, &listing);
    sortNewestFirst(entries, listing.m_count);

    int capacity = 16 + listing.m_count * ENTRY_JSON_MAX;
    char* json = new (std::nothrow) char[size_t(capacity)];
    if (!json) {
        delete[] entries;
        delete[] remembered;
        return nullptr;
    }
    int n = snprintf(json, size_t(capacity), "{\"demos\":[");
    for (int i = 0; i < listing.m_count; i++) {
        const Listed& e = entries[i];
        // Names are checked to letters, digits and "_-." above: nothing in them needs escaping.
        int map_length = int(strlen(e.m_file)) - TIME_DIGITS - 1 - SUFFIX_LENGTH;
        n += snprintf(json + n, size_t(capacity - n),
                      "%s{\"path\":\"/demos/%s/%s\",\"map\":\"%.*s\",\"date\":\"%s\","
                      "\"time\":\"%.4s\",\"bytes\":%" PRId64,
                      i ? "," : "", e.m_date, e.m_file, map_length, e.m_file + TIME_DIGITS + 1,
                      e.m_date, e.m_file, e.m_bytes);
        if (find_overview) {
            char map[DEMO_MAP_MAX + 1];
            snprintf(map, sizeof(map), "%.*s", map_length, e.m_file + TIME_DIGITS + 1);
            const char* overview = nullptr;
            for (int k = 0; k < remembered_count && !overview; k++)
                if (strcmp(remembered[k].m_map, map) == 0) overview = remembered[k].m_path;
            char found[FRAGMENT_OVERVIEW_MAX + 1];
            if (!overview) {
                find_overview(map, found, sizeof(found));
                overview = found;
                if (remembered_count < OVERVIEWS_REMEMBERED) {
                    RememberedOverview& r = remembered[remembered_count++];
                    snprintf(r.m_map, sizeof(r.m_map), "%s", map);
                    snprintf(r.m_path, sizeof(r.m_path), "%s", found);
                }
            }
            // "overviews/" and a map name of the checked letters: nothing to escape.
            n += snprintf(json + n, size_t(capacity - n), ",\"overview\":\"%s\"", overview);
        }
        n += snprintf(json + n, size_t(capacity - n), "}");
    }
    n += snprintf(json + n, size_t(capacity - n), "]}");
    delete[] entries;
    delete[] remembered;
    *length = n;
    return json;
}

bool sendDemos(StreamSocket* connection, const char* path) {
    if (strcmp(path, "/demos") == 0 || strcmp(path, "/demos/") == 0) {
        char folder[FOLDER_MAX];
        int length = 0;
        char* json = demosFolder(folder, sizeof(folder))
                         ? listDemosJson(folder, &length, findOverviewImage)
                         : nullptr;
        if (!json) return sendMissing(connection);
        bool complete =
            sendContent(connection, "200 OK", "application/json", CACHE_NEVER, json, length);
        delete[] json;
        return complete;
    }
    if (!isDemoFilePath(path)) return sendMissing(connection);
    return sendFile(connection, path, nullptr);
}
