// libFuzzer target: request reading. The input is written into a socket pair and read back as
// requests, one after another with the carried bytes, until the reader gives up; every request
// that is accepted must yield a path and a query inside the buffer, of allowed characters only,
// and an If-Modified-Since value inside the buffer too (any bytes but a line feed), or none.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "web/request.h"

namespace {

bool allowed(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '/' || c == '.' || c == '_' || c == '-';
}

void checkText(const char* text, const char* buffer, int size) {
    if (text < buffer || text >= buffer + size) abort();
    size_t length = strnlen(text, size_t(buffer + size - text));
    if (text + length >= buffer + size) abort();  // not terminated inside the buffer
    for (size_t i = 0; i < length; ++i) {
        if (!allowed(text[i])) abort();
        if (i > 0 && text[i] == '.' && text[i - 1] == '.') abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 16384) return 0;
    // The first byte picks the buffer size, so that every split of a request is reached.
    int buffer_size = 1 + data[0] % REQUEST_BUFFER_SIZE;
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
    if (write(fds[1], data + 1, size - 1) != ssize_t(size - 1)) abort();
    shutdown(fds[1], SHUT_WR);

    StreamSocket server;
    server.m_fd = fds[0];
    char* buffer = new char[size_t(buffer_size)];
    RequestCarry carry;
    for (int requests = 0; requests < 64; ++requests) {
        char* path = nullptr;
        char* query = nullptr;
        char* since = nullptr;
        int code = getRequestedFile(&server, &path, &query, buffer, buffer_size, &carry, &since);
        if (code < REQUEST_READ_FAILED || code > REQUEST_OK) abort();
        if (carry.m_length < 0 || carry.m_start < 0 || carry.m_start + carry.m_length > buffer_size)
            abort();
        if (code != REQUEST_OK) {
            if (*path != '\0' || *query != '\0' || *since != '\0') abort();
            break;
        }
        if (*since) {
            if (since < buffer || since >= buffer + buffer_size) abort();
            size_t length = strnlen(since, size_t(buffer + buffer_size - since));
            if (since + length >= buffer + buffer_size) abort();
            if (memchr(since, '\n', length)) abort();  // a line's value, never two
        }
        checkText(path, buffer, buffer_size);
        if (*query) checkText(query, buffer, buffer_size);
    }
    delete[] buffer;
    server.stop();
    close(fds[1]);
    return 0;
}
