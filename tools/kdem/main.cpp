// kdem: looks into Kovi TV demo files. info (a summary), dump (every chunk, as text or JSON) and
// verify (the structure, with the offset of the first fault).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "demo/demo_reader.h"
#include "demo/demo_text.h"
#include "state/names.h"

namespace {

// Exit codes.
enum { EXIT_SOUND = 0, EXIT_FAULT = 1, EXIT_USAGE = 2, EXIT_UNREADABLE = 3 };

const char* kUsage =
    "usage: kdem info FILE           format, records, packets, bytes, game time, maps\n"
    "       kdem dump [--json] FILE  every record, packet and chunk\n"
    "       kdem verify FILE         check the structure; prints the offset of the first fault\n"
    "       kdem --help\n"
    "\n"
    "A demo file holds one record per half second of game time: a packet count, then each\n"
    "packet's length and its masked bytes.\n"
    "\n"
    "Exit status: 0 the file is sound, 1 it has a fault (reported with its offset; info and\n"
    "dump still show everything before it), 2 bad usage, 3 the file cannot be opened.\n";

struct Totals {
    long records = 0;
    long packets = 0;
    long bytes = 0;
    std::vector<std::string> maps;
};

// Walks the file; for dump it prints as it goes. The first fault, of the file's structure or of
// a chunk, ends the walk. Returns false when the file had a fault.
class Walker {
public:
    Walker(FILE* file, FILE* out, bool dump, bool json)
        : m_demo(file), m_out(out), m_dump(dump), m_json(json), m_reader(&m_names) {}

    bool run(Totals* totals);
    const DemoReader& demo() const { return m_demo; }

private:
    void chunk(PacketChunk* c, long at, bool first, Totals* totals);
    bool packet(Packet& p, int index, Totals* totals);

    DemoReader m_demo;
    FILE* m_out;
    bool m_dump;
    bool m_json;
    NamesCollection m_names;
    ChunkReader m_reader;
};

void Walker::chunk(PacketChunk* c, long at, bool first, Totals* totals) {
    if (c == &m_reader.m_map) {
        std::string name = m_names.get(static_cast<int>(m_reader.m_map.m_got.m_name));
        bool seen = false;
        for (const std::string& m : totals->maps) seen = seen || m == name;
        if (!name.empty() && !seen) totals->maps.push_back(name);
    }
    if (!m_dump) return;
    char line[1024];
    describeChunk(m_reader, c, m_json ? TextStyle::json : TextStyle::plain, line, sizeof(line));
    if (m_json)
        fprintf(m_out, "%s{\"offset\":%ld,%s", first ? "" : ",", at, line + 1);
    else
        fprintf(m_out, "    @%ld %s\n", at, line);
}

bool Walker::packet(Packet& p, int index, Totals* totals) {
    long base = m_demo.packetOffset(index);
    if (m_dump && m_json)
        fprintf(m_out, "%s{\"offset\":%ld,\"length\":%d,\"chunks\":[", index ? "," : "", base,
                p.m_length);
    else if (m_dump)
        fprintf(m_out, "  packet %d @%ld length=%d\n", index, base, p.m_length);
    ChunkWalk walk(m_reader, p);
    bool first = true;
    while (PacketChunk* c = walk.next()) {
        if (walk.m_fault_at >= 0) break;  // bytes stepped over before this chunk
        chunk(c, base + walk.offset(), first, totals);
        first = false;
    }
    if (m_dump && m_json) fprintf(m_out, "]}");
    if (walk.m_fault_at < 0) return true;
    m_demo.fault(base + walk.m_fault_at, "%s", walk.m_fault);
    return false;
}

bool Walker::run(Totals* totals) {
    bool sound = m_demo.begin();
    if (m_dump && m_json) fprintf(m_out, "{\"format\":%d,\"records\":[", m_demo.m_format);
    else if (m_dump && m_demo.m_format >= 0) fprintf(m_out, "format %d\n", m_demo.m_format);
    PacketManager packets;
    while (sound && m_demo.next(&packets) == DemoStatus::record) {
        if (m_dump && m_json)
            fprintf(m_out, "%s{\"offset\":%ld,\"packets\":[", totals->records ? "," : "",
                    m_demo.m_record_offset);
        else if (m_dump)
            fprintf(m_out, "record %ld @%ld packets=%d\n", totals->records, m_demo.m_record_offset,
                    packets.count());
        int index = 0;
        for (Packet* p = packets.first(); sound && p != nullptr; p = p->m_next, index++)
            sound = packet(*p, index, totals);
        if (m_dump && m_json) fprintf(m_out, "]}");
        if (!sound) break;
        totals->records++;
        totals->packets += packets.count();
        totals->bytes += packets.bytes();
    }
    sound = m_demo.m_fault_offset < 0;
    if (m_dump && m_json) {
        fprintf(m_out, "],\"fault\":");
        if (sound) {
            fprintf(m_out, "null}\n");
        } else {
            // Fault texts are the reader's own words: no character needs escaping.
            fprintf(m_out, "{\"offset\":%ld,\"what\":\"%s\"}}\n", m_demo.m_fault_offset,
                    m_demo.m_fault);
        }
    }
    return sound;
}

int reportFault(const char* path, const DemoReader& demo) {
    fprintf(stderr, "kdem: %s: fault at offset %ld: %s\n", path, demo.m_fault_offset,
            demo.m_fault);
    return EXIT_FAULT;
}

int run(const std::string& command, const char* path, bool json) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        fprintf(stderr, "kdem: cannot open %s: %s\n", path, strerror(errno));
        return EXIT_UNREADABLE;
    }
    Totals totals;
    Walker walker(file, stdout, command == "dump", json);
    bool sound = walker.run(&totals);
    fclose(file);
    const DemoReader& demo = walker.demo();

    if (command == "info") {
        printf("file:      %s\n", path);
        if (demo.m_format >= 0)
            printf("format:    %d\n", demo.m_format);
        else
            printf("format:    none (empty file)\n");
        printf("records:   %ld\n", totals.records);
        printf("packets:   %ld\n", totals.packets);
        printf("bytes:     %ld (packet bytes, reserved bytes included)\n", totals.bytes);
        printf("game time: %.1f s (two records a second)\n", static_cast<double>(totals.records) / 2.0);
        printf("maps:     ");
        for (const std::string& m : totals.maps) printf(" %s", m.c_str());
        printf("%s\n", totals.maps.empty() ? " none" : "");
    } else if (command == "verify" && sound) {
        printf("%s: sound: %ld records, %ld packets\n", path, totals.records, totals.packets);
    }
    return sound ? EXIT_SOUND : reportFault(path, demo);
}

int usage(const char* problem) {
    if (problem) fprintf(stderr, "kdem: %s\n\n", problem);
    fputs(kUsage, problem ? stderr : stdout);
    return problem ? EXIT_USAGE : EXIT_SOUND;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> words;
    bool json = false;
    for (int i = 1; i < argc; i++) {
        std::string word = argv[i];
        if (word == "--help" || word == "-h") return usage(nullptr);
        if (word == "--json")
            json = true;
        else if (word.size() > 1 && word[0] == '-')
            return usage(("unknown option " + word).c_str());
        else
            words.push_back(word);
    }
    if (words.empty()) return usage("no command given");
    const std::string& command = words[0];
    if (command != "info" && command != "dump" && command != "verify")
        return usage(("unknown command " + command).c_str());
    if (words.size() != 2) return usage((command + " takes one FILE").c_str());
    if (json && command != "dump") return usage("--json goes with dump only");
    return run(command, words[1].c_str(), json);
}
