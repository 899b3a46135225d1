// Reading a demo file back (the kdem tool, the tests): records, packets and chunks, safely on
// any bytes. Nothing is read beyond the file or a packet, and the first fault is kept with its
// offset in the file.
#pragma once

#include <cstdio>

#include "demo/demo.h"
#include "stream/reader.h"

enum class DemoStatus { record, end, fault };

class DemoReader {
public:
    explicit DemoReader(FILE* file) : m_file(file) {}

    // Reads the format byte; false (a fault) when there is none or it is not DEMO_FORMAT.
    bool begin();
    // The next record, unmasked, into packets (cleared first): record; end at a clean end of
    // file; fault when the record is cut short or malformed (nothing of it is returned).
    DemoStatus next(PacketManager* packets);

    // File offset of byte 0 of packet i of the record just read.
    long packetOffset(int i) const { return m_packet_offsets[i]; }

    int m_format = -1;           // the format byte, -1 when the file is empty
    long m_record_offset = 0;    // where the record just read starts
    long m_offset = 0;           // where the next record starts
    long m_fault_offset = -1;    // first fault; -1 none
    char m_fault[128] = {};

    void fault(long offset, const char* format, ...) __attribute__((format(printf, 3, 4)));

private:
    bool read(void* out, size_t n);

    FILE* m_file;
    long m_packet_offsets[DEMO_RECORD_PACKETS_MAX] = {};
};

// Walks the chunks of one packet, noticing what ChunkReader steps over or stops at.
class ChunkWalk {
public:
    ChunkWalk(ChunkReader& reader, Packet& packet);
    // The next chunk, or null at the end of the packet or at a chunk running past it.
    PacketChunk* next();
    int offset() const { return m_reader.offset(); }  // of the chunk next() returned

    int m_fault_at = -1;  // offset in the packet of its first fault; -1 none
    const char* m_fault = nullptr;

private:
    void fault(int at, const char* what);

    ChunkReader& m_reader;
    Packet& m_packet;
};
