// simhost's trace read back: one JSON object per line, flat, each value kept as its text
// (strings unescaped).
#pragma once

#include <map>
#include <string>

using TraceLine = std::map<std::string, std::string>;

inline TraceLine parseTraceLine(const std::string& line) {
    TraceLine out;
    size_t i = 1;
    auto readString = [&](std::string* s) {
        ++i;  // the opening quote
        while (i < line.size() && line[i] != '"') {
            if (line[i] == '\\' && i + 1 < line.size()) {
                char c = line[++i];
                *s += c == 'n' ? '\n' : c;
            } else {
                *s += line[i];
            }
            ++i;
        }
        ++i;
    };
    while (i < line.size() && line[i] == '"') {
        std::string key, value;
        readString(&key);
        ++i;  // the colon
        if (i < line.size() && line[i] == '"') {
            readString(&value);
        } else {
            while (i < line.size() && line[i] != ',' && line[i] != '}') value += line[i++];
        }
        out[key] = value;
        if (i < line.size() && line[i] == ',') ++i;
    }
    return out;
}
