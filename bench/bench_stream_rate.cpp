// What one spectator downloads: replays a demo file (the encoder's packets, undelayed) and prints
// the stream's bytes per second, mean and peak, and the size of the full state a joining
// spectator gets at the end. scripts/stream-rate.sh records a scripted match and runs this.
#include <cstdio>
#include <cstring>

#include "broadcast/mirror.h"
#include "demo/demo_reader.h"

namespace {

const int UDP_OVERHEAD = 28;  // IPv4 and UDP headers per datagram

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 || strcmp(argv[1], "--help") == 0) {
        fprintf(stderr, "usage: bench_stream_rate DEMOFILE\n"
                        "Prints the stream's bytes per second (mean and peak, per spectator)\n"
                        "and the size of a full state, from a recorded demo.\n");
        return 2;
    }
    FILE* file = fopen(argv[1], "rb");
    if (file == nullptr) {
        fprintf(stderr, "bench_stream_rate: cannot open %s\n", argv[1]);
        return 3;
    }
    DemoReader demo(file);
    if (!demo.begin()) {
        fprintf(stderr, "bench_stream_rate: %s is not a demo file\n", argv[1]);
        fclose(file);
        return 1;
    }
    StateManager mirror;
    mirror.allocate(0);
    NamesCollection names;
    ChunkReader reader(&names);
    PacketManager record;
    long records = 0, total = 0, datagrams = 0, peak = 0, second = 0;
    while (demo.next(&record) == DemoStatus::record) {
        long bytes = 0;
        for (Packet* p = record.first(); p != nullptr; p = p->m_next) {
            bytes += p->m_length + UDP_OVERHEAD;
            applyPacket(*mirror.slot(0), reader, *p);
        }
        datagrams += record.count();
        total += bytes;
        second += bytes;
        if (++records % 2 == 0) {  // two records a second of game time
            if (second > peak) peak = second;
            second = 0;
        }
    }
    fclose(file);
    if (records < 2) {
        fprintf(stderr, "bench_stream_rate: too few records\n");
        return 1;
    }
    PacketManager full;
    buildFullState(full, *mirror.slot(0), names, MAX_PLAYERS);
    double seconds = records / 2.0;
    printf("game time        %.1f s (%ld records)\n", seconds, records);
    printf("mean             %.0f bytes/s per spectator (%.1f datagrams/s), IP+UDP included\n",
           total / seconds, datagrams / seconds);
    printf("peak             %ld bytes in one second\n", peak);
    printf("full state       %d bytes in %d packets (32 slots)\n", full.bytes(), full.count());
    return 0;
}
