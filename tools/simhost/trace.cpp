#include "trace.h"

#include <cstring>

bool Trace::open(const std::string& path) {
    close();
    m_file = fopen(path.c_str(), "w");
    return m_file != nullptr;
}

void Trace::close() {
    if (m_file) fclose(m_file);
    m_file = nullptr;
}

Trace::Line::Line(Trace& trace, float time, const char* event) : m_trace(trace) {
    if (!m_trace.active()) return;
    char head[64];
    int n = snprintf(head, sizeof(head), "{\"t\":%.9g", double(time));
    append(head, size_t(n));
    text("event", event);
}

Trace::Line::~Line() {
    if (!m_trace.active() || m_used == 0) return;
    append("}\n", 2);
    if (m_full) {  // a cut line would not parse; say so instead of writing half of it
        const char* note = "{\"event\":\"trace_line_too_long\"}\n";
        fputs(note, m_trace.m_file);
        return;
    }
    fwrite(m_buffer, 1, m_used, m_trace.m_file);
}

void Trace::Line::append(const char* s, size_t n) {
    if (m_used + n > sizeof(m_buffer)) {
        m_full = true;
        return;
    }
    memcpy(m_buffer + m_used, s, n);
    m_used += n;
}

void Trace::Line::key(const char* name) {
    append(",\"", 2);
    append(name, strlen(name));
    append("\":", 2);
}

Trace::Line& Trace::Line::num(const char* name, int value) {
    if (!m_trace.active()) return *this;
    char v[16];
    key(name);
    append(v, size_t(snprintf(v, sizeof(v), "%d", value)));
    return *this;
}

Trace::Line& Trace::Line::num(const char* name, float value) {
    if (!m_trace.active()) return *this;
    char v[32];
    key(name);
    append(v, size_t(snprintf(v, sizeof(v), "%.9g", double(value))));
    return *this;
}

Trace::Line& Trace::Line::text(const char* name, const char* value) {
    if (!m_trace.active()) return *this;
    key(name);
    append("\"", 1);
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(value); *p; ++p) {
        char esc[8];
        if (*p == '"' || *p == '\\') {
            esc[0] = '\\';
            esc[1] = char(*p);
            append(esc, 2);
        } else if (*p == '\n') {
            append("\\n", 2);
        } else if (*p < 0x20) {
            append(esc, size_t(snprintf(esc, sizeof(esc), "\\u%04x", *p)));
        } else {
            append(reinterpret_cast<const char*>(p), 1);
        }
    }
    append("\"", 1);
    return *this;
}
