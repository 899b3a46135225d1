// Answering one request with one file of the plugin folder: the fixed header, the MIME table,
// raw files sent straight from the file after a first 2048-byte read (in 2048-byte reads where
// the system cannot), the start page filled from the configuration store.
#pragma once

#include <cstdint>

#include "net/net.h"

constexpr int FILE_NAME_MAX = 2047;   // a longer file name is answered as missing
constexpr int HEADER_MAX = 2047;
constexpr int DATE_MAX = 63;
constexpr int RAW_READ_SIZE = 2048;   // raw files are never loaded whole
constexpr int FILLED_PIECE_SIZE = 1024;

// Content type of the first table row whose extension (first occurrence, case-sensitive) ends
// the path; "text/html" when none does.
const char* mimeType(const char* path);

// "Thu, 01 Jan 1970 00:00:00 GMT" for seconds since 1970 (UTC); false when it does not fit.
// Formatted by hand: gmtime's shared buffer is not safe on many visitor threads.
bool formatHttpDate(int64_t seconds, char* out, int size);

constexpr const char* CACHE_NEVER = "no-store, no-cache, must-revalidate";  // files, errors

// The response header; its length, or -1 when it does not fit in size - 1 characters.
int formatResponseHeader(char* out, int size, const char* status, const char* date,
                         int content_length, const char* content_type,
                         const char* cache_control = CACHE_NEVER);

// True when the path may name a served file: it starts with '/' (the folder and the path are
// joined without a separator) and no part of it is a Windows device name (CON, NUL, COM1...),
// which would open a device instead of a file.
bool isServablePath(const char* path);

// Sends data whole, continuing after short sends; false when a send fails or times out.
bool sendAll(StreamSocket* connection, const char* data, int length);

// Sends one whole response from memory: the header (this status, type and Cache-Control), then
// data. True when all of it went out. stream: the stream's shorter header, without Server and
// Connection (a fragment is about a kilobyte, and a browser viewer fetches one every 5 s).
bool sendContent(StreamSocket* connection, const char* status, const char* type,
                 const char* cache_control, const char* data, int length, bool stream = false);

// As sendContent, the data being count pieces sent one after another.
bool sendPieces(StreamSocket* connection, const char* status, const char* type,
                const char* cache_control, const char* const* pieces, const int* lengths,
                int count, bool stream = false);

// Answers one request: the file <game>/<dir><path>, as stored when query is null, else filled
// with the query and the configuration store. A missing, unreadable or folder name gets the 404
// header. True when a complete response went out and the connection can serve the next request.
bool sendFile(StreamSocket* connection, const char* path, char* query);
