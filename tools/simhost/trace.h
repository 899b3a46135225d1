// The match's event trace: one JSON object per line, written as each event happens, so a test
// can hold what the plugin captured against what the script did. Every line starts with the game
// time "t" (seconds since the map loaded, as the engine's clock shows it) and the "event" name;
// players are entity indices (1 to 32, 0 the world). Floats are written with 9 significant
// digits, so they read back as the very values the engine held.
#pragma once

#include <cstdio>
#include <string>

class Trace {
public:
    Trace() = default;
    ~Trace() { close(); }
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    bool open(const std::string& path);  // false when the file cannot be created
    void close();
    bool active() const { return m_file != nullptr; }

    // Builds one line; written when the object goes away. Does nothing while the trace is off.
    class Line {
    public:
        Line(Trace& trace, float time, const char* event);
        ~Line();
        Line(const Line&) = delete;
        Line& operator=(const Line&) = delete;
        Line& num(const char* key, int value);
        Line& num(const char* key, float value);
        Line& text(const char* key, const char* value);

    private:
        void key(const char* name);
        void append(const char* s, size_t n);
        Trace& m_trace;
        char m_buffer[1024];
        size_t m_used = 0;
        bool m_full = false;
    };
    Line line(float time, const char* event) { return Line(*this, time, event); }

private:
    FILE* m_file = nullptr;
};
