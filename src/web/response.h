// Answering one request with one file of the plugin folder: the fixed header (lines ended by
// CRLF), the MIME table, raw files sent straight from the file after a first 2048-byte read (in
// 2048-byte reads where the system cannot), the start page filled from the configuration store.
// Static files (isCacheablePath) may be kept by browsers and caches for five minutes
// (CACHE_STATIC) and are then revalidated by their Last-Modified; everything else is never
// stored.
#pragma once

#include <cstdint>

#include "net/net.h"
#include "web/header.h"

class StartPage;

constexpr int FILE_NAME_MAX = 2047;   // a longer file name is answered as missing
constexpr int RAW_READ_SIZE = 2048;   // raw files are never loaded whole
constexpr int FILLED_PIECE_SIZE = 1024;

// Content type of the first table row whose extension (first occurrence, case-sensitive) ends
// the path; "text/html" when none does.
const char* mimeType(const char* path);

// True for the files browsers and caches may keep: everything under /viewer/ and /overviews/,
// and the applet's archive and images (by the MIME table) anywhere. Not the pages, demos, the
// style sheet or the stream.
bool isCacheablePath(const char* path);

// True when the path may name a served file: it starts with '/' (the folder and the path are
// joined without a separator) and no part of it is a Windows device name (CON, NUL, COM1...),
// which would open a device instead of a file.
bool isServablePath(const char* path);

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
// header. A cacheable file (and not filled) gets its Last-Modified, and 304 Not Modified without
// content when modified_since (the request's If-Modified-Since, or null) is that same text.
// True when a complete response went out and the connection can serve the next request.
// pages: the visitor's start page (web/start_page.h) for a filled file, or null.
bool sendFile(StreamSocket* connection, const char* path, char* query,
              const char* modified_since = nullptr, StartPage* pages = nullptr);
