#include "web/request.h"

#include <cstring>

namespace {

// Handed out on failure; never written, the outputs only read it.
char s_empty[1] = {0};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Bytes 0x80 and above are refused whatever the C library's locale says.
bool isAccepted(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '/' || c == '.' || c == '_' || c == '-';
}

bool endsHeader(const char* data, int end) {
    if (data[end - 1] != '\n') return false;
    if (data[end - 2] == '\n') return true;
    return data[end - 2] == '\r' && data[end - 3] == '\n' && data[end - 4] == '\r';
}

bool startsWithName(const char* line, const char* name, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        char c = line[i];
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
        if (c != name[i]) return false;
    }
    return true;
}

}  // namespace

char* findModifiedSince(char* request, int length, char* from) {
    static const char NAME[] = "if-modified-since:";
    const size_t name_length = sizeof(NAME) - 1;
    char* end = request + length;
    for (char* line = from; line < end;) {
        char* next = static_cast<char*>(memchr(line, '\n', size_t(end - line)));
        if (!next) break;  // a line cut off by the buffer's end
        if (size_t(next - line) >= name_length && startsWithName(line, NAME, name_length)) {
            char* value = line + name_length;
            while (value < next && (*value == ' ' || *value == '\t')) ++value;
            char* value_end = next;
            while (value_end > value && isSpace(value_end[-1])) --value_end;
            *value_end = '\0';
            return value;
        }
        line = next + 1;
    }
    return s_empty;
}

int findRequestEnd(const char* data, int length, int from) {
    for (int end = from > 5 ? from : 5; end <= length; ++end)
        if (endsHeader(data, end)) return end;
    return 0;
}

int parseRequest(char* request, int length, char** path, char** query) {
    *path = s_empty;
    *query = s_empty;
    if (length < 5) return REQUEST_SHORT;
    if (memcmp(request, "GET ", 4) != 0) return REQUEST_NOT_GET;

    char* start = nullptr;
    char* query_start = nullptr;
    bool after_dot = false;
    char* end = request + length;
    for (char* p = request + 4; p < end; ++p) {
        char c = *p;
        if (isSpace(c)) {
            if (!start) continue;  // white space before the path
            *p = '\0';
            *path = start;
            *query = query_start ? query_start : p;
            return REQUEST_OK;
        }
        if (!start) start = p;
        if (c == '?') {  // a later '?' starts the query again after it
            *p = '\0';
            query_start = p + 1;
            after_dot = false;
            continue;
        }
        if (c == '.' && after_dot) return REQUEST_DOTS;
        if (!isAccepted(c)) return REQUEST_BAD_CHAR;
        after_dot = (c == '.');
    }
    return REQUEST_UNENDED;
}

int getRequestedFile(StreamSocket* connection, char** path, char** query, char* buffer, int size,
                     RequestCarry* carry, char** modified_since) {
    *path = s_empty;
    *query = s_empty;
    if (modified_since) *modified_since = s_empty;
    int n = 0;
    if (carry && carry->m_length > 0) {
        memmove(buffer, buffer + carry->m_start, size_t(carry->m_length));
        n = carry->m_length;
        carry->m_length = 0;
    }
    int end = findRequestEnd(buffer, n);
    while (end == 0 && n < size) {
        int got = connection->receive(buffer + n, size - n, WEB_TIMEOUT_MS);
        if (got < 1) return REQUEST_READ_FAILED;
        int checked = n + 1;  // every shorter prefix was looked at already
        n += got;
        end = findRequestEnd(buffer, n, checked);
    }
    if (end == 0) end = n;  // a full buffer without an end is parsed as it is
    if (carry && end < n) {
        carry->m_start = end;
        carry->m_length = n - end;
    }
    int result = parseRequest(buffer, end, path, query);
    // The header lines start after the zero that ended the path or the query.
    if (result == REQUEST_OK && modified_since) {
        char* after = *query + strlen(*query) + 1;
        *modified_since = findModifiedSince(buffer, end, after);
    }
    return result;
}
