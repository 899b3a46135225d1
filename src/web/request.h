// Reading one HTTP request from a visitor's connection: only GET, a path and a query made of a
// small safe alphabet, nothing decoded. Of the header lines only If-Modified-Since is read, as
// an opaque text. Lines may end with CRLF or LF alone.
#pragma once

#include "net/net.h"

constexpr int REQUEST_BUFFER_SIZE = 1024;  // a request is read into at most this many bytes
constexpr int WEB_TIMEOUT_MS = 5000;       // every read and every send of the web server

// Results of getRequestedFile and parseRequest.
constexpr int REQUEST_OK = 0;
constexpr int REQUEST_SHORT = -1;        // fewer than 5 bytes
constexpr int REQUEST_NOT_GET = -2;      // does not start with "GET "
constexpr int REQUEST_UNENDED = -3;      // the path does not end (by white space) in the bytes read
constexpr int REQUEST_DOTS = -4;         // two dots in a row in the path or query
constexpr int REQUEST_BAD_CHAR = -5;     // a character outside letters, digits, / . _ - ?
constexpr int REQUEST_READ_FAILED = -6;  // a read failed, timed out or found the peer gone

// Bytes that arrived after the end of one request: the start of the next one, kept in the same
// buffer so that pipelined requests are not lost.
struct RequestCarry {
    int m_start = 0;
    int m_length = 0;
};

// Length of the shortest prefix of data, at least 5 bytes long, that ends with "\n\n" or
// "\r\n\r\n"; 0 when there is none. Prefixes shorter than `from` are known not to end one.
int findRequestEnd(const char* data, int length, int from = 0);

// Parses request[0, length) in place. On REQUEST_OK path and query point into request, zero-
// terminated (query empty without '?'); otherwise both point at an empty text.
int parseRequest(char* request, int length, char** path, char** query);

// The value of the first If-Modified-Since line (the name in any case) among the header lines
// of request[0, length) after from, white space around it left out, zero-terminated in place; an
// empty text when there is none. Only lines that end within the request count.
char* findModifiedSince(char* request, int length, char* from);

// Reads one request into buffer (carried bytes first, when carry is given: a caller that passes
// a carry passes the same buffer every time) and parses it. Results as above. modified_since,
// when given, receives the If-Modified-Since value (empty when absent or the request refused).
int getRequestedFile(StreamSocket* connection, char** path, char** query, char* buffer, int size,
                     RequestCarry* carry = nullptr, char** modified_since = nullptr);
