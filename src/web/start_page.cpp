#include "web/start_page.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

#include "host/config.h"
#include "web/header.h"
#include "web/template.h"

StartPage::~StartPage() {
    delete[] m_name;
    delete[] m_text;
    delete[] m_page;
}

bool StartPage::load(const char* name, const FileStamp& stamp) {
    delete[] m_text;
    m_text = nullptr;
    m_length = 0;
    if (!m_name || strcmp(m_name, name) != 0) {
        delete[] m_name;
        size_t name_length = strlen(name);
        m_name = new (std::nothrow) char[name_length + 1];
        if (!m_name) return false;
        memcpy(m_name, name, name_length + 1);
    }
    BinFile file(fopen(name, "rb"));
    int length = 0;
    char* text = file.opened() ? file.load(&length) : nullptr;
    if (!text) return false;
    // Stamped before the read: a file changed meanwhile has another stamp at the next request.
    m_text = text;
    m_length = length;
    m_stamp = stamp;
    return true;
}

int StartPage::send(StreamSocket* connection, const char* name, char* query, const char* type) {
    FileStamp stamp;
    if (!regularFileStamp(name, &stamp)) return -1;
    bool kept = m_text && m_name && strcmp(m_name, name) == 0 && stamp == m_stamp;
    if (!kept && !load(name, stamp)) return -1;

    // The room is measured before the fill; a value the main thread lengthens in between would
    // cut the page, so a fill during which the texts' size changed is done again.
    char* page = nullptr;
    int length = -1;
    for (int tries = 0; tries < 4; tries++) {
        long long capacity = templateCapacity(m_length, &g_cfg);
        if (capacity > INT_MAX - HEADER_MAX - 2) return -1;  // the length goes out as a decimal int
        if (capacity > m_capacity) {
            delete[] m_page;
            m_page = new (std::nothrow) char[size_t(HEADER_MAX + capacity + 1)];
            m_capacity = m_page ? int(capacity) : 0;
            if (!m_page) return -1;
        }
        page = m_page + HEADER_MAX;
        length = fillTemplate(m_text, m_length, query, &g_cfg, page, m_capacity);
        if (length < 0) return -1;
        if (templateCapacity(m_length, &g_cfg) == capacity) break;
    }

    char header[HEADER_MAX + 1];
    char date[DATE_MAX + 1];
    if (!formatHttpDate(wallClockSeconds(), date, sizeof(date))) date[0] = '\0';
    int header_length =
        formatResponseHeader(header, sizeof(header), "200 OK", date, length, type, CACHE_NEVER);
    if (header_length < 0) return 0;
    // The header goes right before the page, so that both leave in one send and one segment.
    memcpy(page - header_length, header, size_t(header_length));
    return sendAll(connection, page - header_length, header_length + length) ? 1 : 0;
}
