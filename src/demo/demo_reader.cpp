#include "demo/demo_reader.h"

#include <cstdarg>
#include <cstdint>

void DemoReader::fault(long offset, const char* format, ...) {
    if (m_fault_offset >= 0) return;  // the first one is the one that counts
    m_fault_offset = offset;
    va_list args;
    va_start(args, format);
    vsnprintf(m_fault, sizeof(m_fault), format, args);
    va_end(args);
}

bool DemoReader::read(void* out, size_t n) {
    size_t got = fread(out, 1, n, m_file);
    m_offset += static_cast<long>(got);
    return got == n;
}

bool DemoReader::begin() {
    m_offset = 0;
    uint8_t format;
    if (!read(&format, 1)) {
        fault(0, "empty file: no format byte");
        return false;
    }
    m_format = format;
    if (format != DEMO_FORMAT) {
        fault(0, "format byte is %d, not %d", format, DEMO_FORMAT);
        return false;
    }
    return true;
}

DemoStatus DemoReader::next(PacketManager* packets) {
    packets->clear();
    if (m_fault_offset >= 0) return DemoStatus::fault;
    m_record_offset = m_offset;
    uint8_t count;
    if (!read(&count, 1)) return DemoStatus::end;
    if (count == 0) {
        fault(m_record_offset, "record without packets");
        return DemoStatus::fault;
    }
    for (int i = 0; i < count; i++) {
        long at = m_offset;
        unsigned char head[2];
        if (!read(head, 2)) break;
        int length = head[0] << 8 | head[1];
        if (length < PACKET_RESERVED || length > PACKET_SIZE) {
            fault(at, "packet length %d outside %d..%d", length, PACKET_RESERVED, PACKET_SIZE);
            packets->clear();
            return DemoStatus::fault;
        }
        char bytes[PACKET_SIZE];
        if (!read(bytes, static_cast<size_t>(length))) break;
        for (int b = 0; b < length; b++) bytes[b] = static_cast<char>(bytes[b] ^ DEMO_MASK);
        packets->addRaw(bytes, length);
        m_packet_offsets[i] = at + 2;
    }
    if (packets->count() == count) return DemoStatus::record;
    fault(m_record_offset, "record of %d packets cut short: the file ends at %ld", count,
          m_offset);
    packets->clear();
    return DemoStatus::fault;
}

ChunkWalk::ChunkWalk(ChunkReader& reader, Packet& packet) : m_reader(reader), m_packet(packet) {
    reader.begin(packet);
}

void ChunkWalk::fault(int at, const char* what) {
    if (m_fault_at >= 0) return;
    m_fault_at = at;
    m_fault = what;
}

PacketChunk* ChunkWalk::next() {
    int from = m_packet.m_position;
    int skipped = m_reader.m_skipped;
    PacketChunk* chunk = m_reader.next();
    // Bytes stepped over lie between where this walk stood and the chunk found (or the end).
    if (m_reader.m_skipped != skipped) fault(from, "unknown chunk header");
    if (chunk == nullptr && m_reader.m_truncated)
        fault(m_reader.offset(), "chunk runs past the end of its packet");
    return chunk;
}
