// libFuzzer target: reading a demo file of any bytes, as kdem does: records, their packets and
// every chunk described. Each record returned must be whole (1 to 255 packets of 2 to 512
// bytes inside the file), and a fault is reported once, inside the file, and ends the reading.
#include <sanitizer/asan_interface.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "demo/demo_reader.h"
#include "demo/demo_text.h"
#include "state/names.h"
#include "stream/packet.h"
#include "stream/reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;  // fmemopen refuses an empty buffer; begin() is tested on files
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!file) return 0;
    DemoReader demo(file);
    NamesCollection names;
    ChunkReader reader(&names);
    PacketManager packets;
    char text[1024];
    long records = 0;
    if (demo.begin()) {
        DemoStatus status;
        while ((status = demo.next(&packets)) == DemoStatus::record) {
            records++;
            int count = packets.count();
            if (count < 1 || count > DEMO_RECORD_PACKETS_MAX) abort();
            if (demo.m_offset <= demo.m_record_offset || demo.m_offset > long(size)) abort();
            int i = 0;
            for (Packet* p = packets.first(); p != nullptr; p = p->m_next, i++) {
                if (p->m_length < PACKET_RESERVED || p->m_length > PACKET_SIZE) abort();
                long at = demo.packetOffset(i);
                if (at < demo.m_record_offset || at + p->m_length > demo.m_offset) abort();
                if (uint8_t(p->m_ptr[0]) != (data[at] ^ DEMO_MASK)) abort();
                // Past the packet's length its buffer is fenced off: a read there is reported.
                ASAN_POISON_MEMORY_REGION(p->m_data + p->m_length, size_t(PACKET_SIZE - p->m_length));
                ChunkWalk walk(reader, *p);
                while (PacketChunk* chunk = walk.next()) {
                    describeChunk(reader, chunk, TextStyle::json, text, sizeof(text));
                    if (strnlen(text, sizeof(text)) >= sizeof(text)) abort();
                }
                ASAN_UNPOISON_MEMORY_REGION(p->m_data, size_t(PACKET_SIZE));
                if (walk.m_fault_at >= p->m_length) abort();
            }
            if (i != count) abort();
        }
        if (packets.count() != 0) abort();  // nothing of a faulty record is handed out
        if (status == DemoStatus::end && (demo.m_fault_offset >= 0 || demo.m_offset != long(size)))
            abort();
        if (status == DemoStatus::fault && (demo.m_fault_offset < 0 || demo.m_fault_offset >= long(size)))
            abort();
    } else if (demo.m_fault_offset != 0 || data[0] == DEMO_FORMAT) {
        abort();
    }
    if (demo.m_fault_offset >= 0 && demo.m_fault[0] == '\0') abort();
    if (demo.next(&packets) == DemoStatus::record && demo.m_fault_offset >= 0) abort();
    (void)records;
    fclose(file);
    return 0;
}
