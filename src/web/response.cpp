#include "web/response.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "host/config.h"
#include "host/host.h"
#include "net/files.h"
#include "net/net.h"
#include "web/missing_page.h"
#include "web/request.h"
#include "web/start_page.h"

namespace {

struct MimeRow {
    const char* m_extension;
    const char* m_type;
};

// Searched in this order. ".css" as text/html is what the pages have always been given (so the
// viewer keeps its style inside its page); the rows after ".kdem" are the browser viewer's:
// browsers refuse to run a module that comes as text/html.
constexpr MimeRow MIME_TABLE[] = {
    {".html", "text/html"},
    {".jar", "application/java-archive;charset=ISO-8859-1"},
    {".png", "image/png"},
    {".jpg", "image/jpeg"},
    {".jpeg", "image/jpeg"},
    {".gif", "image/gif"},
    {".css", "text/html"},
    {".kdem", "application/octet-stream"},
    {".js", "text/javascript"},
    {".mjs", "text/javascript"},
    {".json", "application/json"},
    {".svg", "image/svg+xml"},
    {".bmp", "image/bmp"},
    {".ico", "image/x-icon"},
};

// The stream's header: HTTP/1.1 keeps the connection without saying so, and the server's name
// serves nobody. The same fields in the same order as the others' otherwise.
constexpr const char* STREAM_HEADER_FORMAT =
    "HTTP/1.1 %s\r\nDate: %s\r\nCache-Control: %s\r\nContent-Length: %d\r\n"
    "Content-Type: %s\r\n\r\n";

bool isDeviceName(const char* part, size_t length) {
    // The name counts up to its first dot: "nul.html" is the device too.
    const char* dot = static_cast<const char*>(memchr(part, '.', length));
    size_t stem = dot ? size_t(dot - part) : length;
    char upper[5] = {0};
    if (stem < 3 || stem > 4) return false;
    for (size_t i = 0; i < stem; ++i)
        upper[i] = (part[i] >= 'a' && part[i] <= 'z') ? char(part[i] - 32) : part[i];
    if (stem == 3)
        return !strcmp(upper, "CON") || !strcmp(upper, "PRN") || !strcmp(upper, "AUX") ||
               !strcmp(upper, "NUL");
    return (!strncmp(upper, "COM", 3) || !strncmp(upper, "LPT", 3)) && upper[3] >= '1' &&
           upper[3] <= '9';
}

bool startsWith(const char* text, const char* prefix) {
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

// Opens a regular file for reading and gives its size. A folder opens on Linux and then fails
// to read; a size beyond the header's decimal int cannot be announced.
FILE* openServedFile(const char* name, int* size) {
    FILE* file = fopen(name, "rb");
    if (!file) return nullptr;
    long length = -1;
    if (fseek(file, 0, SEEK_END) == 0) length = ftell(file);
    rewind(file);
    bool readable = length >= 0 && length <= INT_MAX - 1;
    if (readable && getc(file) == EOF && ferror(file)) readable = false;
    if (!readable) {
        fclose(file);
        return nullptr;
    }
    rewind(file);
    *size = int(length);
    return file;
}

// The header and the start of the content go out in one send: a header sent alone, then a small
// body, meets Nagle's algorithm and the peer's delayed acknowledgement and waits 40 ms or more.
struct Response {
    char m_data[HEADER_MAX + 1 + RAW_READ_SIZE];
    int m_header = 0;  // header bytes at the start of m_data; -1 when it did not fit

    Response(const char* status, int length, const char* type,
             const char* cache_control = CACHE_NEVER, bool stream = false,
             const char* last_modified = nullptr) {
        char date[DATE_MAX + 1];
        if (!formatHttpDate(wallClockSeconds(), date, sizeof(date))) date[0] = '\0';
        if (stream) {
            int n = snprintf(m_data, HEADER_MAX + 1, STREAM_HEADER_FORMAT, status, date,
                             cache_control, length, type);
            m_header = (n > 0 && n < HEADER_MAX + 1) ? n : -1;
        } else {
            m_header = formatResponseHeader(m_data, HEADER_MAX + 1, status, date, length, type,
                                            cache_control, last_modified);
        }
    }
    char* room() { return m_data + (m_header > 0 ? m_header : 0); }
    // Sends the header with `extra` bytes already placed after it.
    bool send(StreamSocket* connection, int extra) {
        return m_header > 0 && sendAll(connection, m_data, m_header + extra);
    }
};

// Sends exactly the announced length: a file that grows meanwhile (a demo being recorded) must
// not spill into the next response, and one that shrinks cannot keep the promise at all (the
// response then fails: the client would wait for the rest). The header rides with the first
// block read; the rest goes straight from the file where the system can, else block by block.
bool sendRaw(StreamSocket* connection, FILE* file, int length, const char* type,
             const char* cache_control, const char* last_modified) {
    Response response("200 OK", length, type, cache_control, false, last_modified);
    int first = length < RAW_READ_SIZE ? length : RAW_READ_SIZE;
    if (first > 0 && fread(response.room(), 1, size_t(first), file) != size_t(first)) return false;
    if (!response.send(connection, first)) return false;
    int offset = first;
    while (offset < length) {
        int sent = connection->sendFromFile(file, offset, length - offset, WEB_TIMEOUT_MS);
        if (sent == -2) break;       // no such call here: the file position is still at offset
        if (sent <= 0) return false;  // a time-out, a failure, or the file ended early
        offset += sent;
    }
    while (offset < length) {
        int want = length - offset < RAW_READ_SIZE ? length - offset : RAW_READ_SIZE;
        if (fread(response.m_data, 1, size_t(want), file) != size_t(want)) return false;
        if (!sendAll(connection, response.m_data, want)) return false;
        offset += want;
    }
    return true;
}

// The rest goes in one send: in 1 KiB sends a start page took a segment and a system call each.
bool sendFilled(StreamSocket* connection, const char* content, int length, const char* type) {
    Response response("200 OK", length, type);
    int piece = length < FILLED_PIECE_SIZE ? length : FILLED_PIECE_SIZE;
    if (piece > 0) memcpy(response.room(), content, size_t(piece));
    if (!response.send(connection, piece)) return false;
    return piece == length || sendAll(connection, content + piece, length - piece);
}

}  // namespace

const char* mimeType(const char* path) {
    size_t length = strlen(path);
    for (const MimeRow& row : MIME_TABLE) {
        const char* found = strstr(path, row.m_extension);
        if (found && size_t(found - path) + strlen(row.m_extension) == length) return row.m_type;
    }
    return "text/html";
}

bool isCacheablePath(const char* path) {
    if (startsWith(path, "/viewer/") || startsWith(path, "/overviews/")) return true;
    const char* type = mimeType(path);
    return startsWith(type, "image/") || startsWith(type, "application/java-archive");
}

bool isServablePath(const char* path) {
    if (path[0] != '/') return false;
    for (const char* part = path; *part;) {
        while (*part == '/') ++part;
        size_t length = strcspn(part, "/");
        if (isDeviceName(part, length)) return false;
        part += length;
    }
    return true;
}

bool sendContent(StreamSocket* connection, const char* status, const char* type,
                 const char* cache_control, const char* data, int length, bool stream) {
    return sendPieces(connection, status, type, cache_control, &data, &length, 1, stream);
}

bool sendPieces(StreamSocket* connection, const char* status, const char* type,
                const char* cache_control, const char* const* pieces, const int* lengths,
                int count, bool stream) {
    int total = 0;
    for (int i = 0; i < count; i++) total += lengths[i];
    Response response(status, total, type, cache_control, stream);
    // Small pieces are gathered behind the header a buffer at a time; once the header is out,
    // a buffer's worth or more goes straight from the caller's bytes.
    char* room = response.room();
    int placed = 0;
    bool header_sent = false;
    auto flush = [&] {
        bool sent = header_sent ? sendAll(connection, room, placed) : response.send(connection, placed);
        header_sent = true;
        placed = 0;
        return sent;
    };
    for (int i = 0; i < count; i++) {
        for (int at = 0; at < lengths[i];) {
            int left = lengths[i] - at;
            if (header_sent && placed == 0 && left >= RAW_READ_SIZE) {
                if (!sendAll(connection, pieces[i] + at, left)) return false;
                break;
            }
            if (placed == RAW_READ_SIZE) {
                if (!flush()) return false;
                continue;
            }
            int n = left < RAW_READ_SIZE - placed ? left : RAW_READ_SIZE - placed;
            memcpy(room + placed, pieces[i] + at, size_t(n));
            placed += n;
            at += n;
        }
    }
    return placed == 0 && header_sent ? true : flush();
}

bool sendFile(StreamSocket* connection, const char* path, char* query,
              const char* modified_since, StartPage* pages) {
    const char* type = mimeType(path);
    const char* dir = g_cfg.getString("dir");
    char name[FILE_NAME_MAX + 1];
    int name_length = snprintf(name, sizeof(name), "%s/%s%s", g_gamedir, dir ? dir : "", path);
    int size = 0;
    FILE* opened = nullptr;
    // A cut name would name another file.
    bool servable = isServablePath(path) && name_length > 0 && name_length <= FILE_NAME_MAX;
    if (servable && query && pages) {
        int sent = pages->send(connection, name, query, type);
        if (sent >= 0) return sent == 1;
    }
    if (servable) opened = openServedFile(name, &size);
    BinFile file(opened);
    if (!file.opened()) {
        if (query) noteMissingStartPage(name);  // only the start page is filled: "/" is broken
        return Response("404 Not Found", 0, "text/html").send(connection, 0);
    }
    if (!query) {
        char modified[DATE_MAX + 1];
        int64_t changed = isCacheablePath(path) ? openFileModified(file.m_file) : -1;
        if (changed < 0 || !formatHttpDate(changed, modified, sizeof(modified)))
            return sendRaw(connection, file.m_file, size, type, CACHE_NEVER, nullptr);
        // The exact text sent before, as nginx compares by default: no date from a peer parsed.
        if (modified_since && strcmp(modified_since, modified) == 0)
            return Response("304 Not Modified", 0, nullptr, CACHE_STATIC, false, modified)
                .send(connection, 0);
        return sendRaw(connection, file.m_file, size, type, CACHE_STATIC, modified);
    }

    int filled_size = 0;
    char* filled = file.loadWithValues(&filled_size, query, &g_cfg);
    bool complete = sendFilled(connection, filled, filled_size, type);
    delete[] filled;
    return complete;
}
