// A visitor's start page: the template file kept in memory while its stamp (size, change times,
// identity) stays the same, filled into a buffer kept for the next request with room for the
// header in front, and sent in one piece. A page request then costs one stat and one send, not
// an open, seeks, reads, a close, allocations and two sends: under 50 connections the stream
// locks and heaps those took were shared by every visitor. Each visitor has its own, so nothing
// here is shared between threads.
#pragma once

#include "net/files.h"
#include "net/net.h"

class StartPage {
public:
    StartPage() = default;
    ~StartPage();
    StartPage(const StartPage&) = delete;
    StartPage& operator=(const StartPage&) = delete;

    // Answers one request for the template file `name` (a full path) filled with query and the
    // configuration store, as sendFile does. -1 when the file cannot be stamped, read or the
    // page allocated: the caller answers as without this (a 404 for a missing file). Else 1 when
    // the whole response went out, 0 when the send failed.
    int send(StreamSocket* connection, const char* name, char* query, const char* type);

private:
    bool load(const char* name, const FileStamp& stamp);

    char* m_name = nullptr;  // the file m_text was read from
    FileStamp m_stamp;
    char* m_text = nullptr;
    int m_length = 0;
    char* m_page = nullptr;  // HEADER_MAX bytes of room for the header, then the filled page
    int m_capacity = 0;      // of the filled page
};
