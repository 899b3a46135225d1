// What the encoder made, read back: the chunks of a packet list as text, and a demo file's
// records.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "demo/demo_reader.h"
#include "demo/demo_text.h"
#include "state/names.h"
#include "stream/reader.h"

inline std::vector<std::string> chunksOf(PacketManager& packets) {
    NamesCollection names;
    ChunkReader reader(&names);
    std::vector<std::string> out;
    for (Packet* p = packets.first(); p != nullptr; p = p->m_next) {
        reader.begin(*p);
        while (PacketChunk* chunk = reader.next()) {
            char line[512];
            describeChunk(reader, chunk, TextStyle::plain, line, sizeof(line));
            out.push_back(line);
        }
        EXPECT_FALSE(reader.m_truncated);
        EXPECT_EQ(reader.m_skipped, 0);
    }
    return out;
}

// Reads a whole demo file: its number of records, and the first fault's offset (-1 none).
inline long readDemo(const std::string& path, int* records) {
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr) return -2;
    DemoReader reader(f);
    PacketManager packets;
    *records = 0;
    if (reader.begin())
        while (reader.next(&packets) == DemoStatus::record) ++*records;
    fclose(f);
    return reader.m_fault_offset;
}
