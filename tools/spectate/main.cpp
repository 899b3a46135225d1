// spectate: the reference spectator client. Keeps a connection to the plugin's spectator stream
// with heartbeats, rebuilds the game from every datagram and shows it.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "game.h"
#include "net/net.h"
#include "platform.h"
#include "stream/chunks.h"
#include "view.h"

namespace {

const char* kUsage =
    "Usage: spectate [options]\n"
    "Watches a Kovi TV spectator stream: sends heartbeats to the server's UDP port, rebuilds the\n"
    "game from what arrives and shows it live (map, scores, round clock, players, bomb,\n"
    "grenades, kills, chat, traffic).\n"
    "\n"
    "Options:\n"
    "  --server HOST:PORT   the server's spectator port; HOST an IPv4 address or localhost\n"
    "                       (default 127.0.0.1:52001, the plugin's default udp_port)\n"
    "  --json               one JSON object per line instead of the live view: \"state\" when the\n"
    "                       game changed (at most twice a second), \"kill\", \"chat\", \"announce\"\n"
    "                       and \"reset\" as they arrive, \"traffic\" every second, and\n"
    "                       \"scoreboard\" (arrival in seconds since 1970, map, score, and\n"
    "                       [slot, kills, deaths] of each player) whenever the score arrives\n"
    "                       in the running stream\n"
    "  --duration SECONDS   stop after this many seconds (default: until q, Ctrl-C or end of\n"
    "                       standard input is not an end: only q or Ctrl-C stop it)\n"
    "  --help               show this text\n"
    "\n"
    "While running, type r and Enter to ask the server for the full state again, q to quit.\n"
    "The stream comes delayed by the server's delay (30 s or more): expect nothing at first.\n"
    "\n"
    "Exit status: 0 the stream was received; 1 nothing came from the server; 2 bad command\n"
    "line; 3 the network could not be set up.\n";

enum {
    DEFAULT_UDP_PORT = 52001,    // the plugin's default udp_port
    HEARTBEAT_EVERY_MS = 1000,   // well inside the server's 5 s
    RESYNC_WAIT_MS = 5000,       // a resync not answered by then is asked again
    SILENCE_GAP_MS = 2000,       // elements come twice a second: this long means loss
    STATE_EVERY_MS = 500,        // JSON state lines at most this often
    REDRAW_EVERY_MS = 250,
    RECEIVE_WAIT_MS = 50,
    DRAIN_PER_PASS = 64,
};

volatile std::sig_atomic_t g_interrupted = 0;
void onInterrupt(int) { g_interrupted = 1; }

int usageError(const std::string& message) {
    fprintf(stderr, "spectate: %s\nTry 'spectate --help'.\n", message.c_str());
    return 2;
}

bool parseNumber(const char* text, long min, long max, long* out) {
    char* end = nullptr;
    long value = strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < min || value > max) return false;
    *out = value;
    return true;
}

bool parseIPv4(const std::string& text, uint32_t* out) {
    if (text == "localhost") {
        *out = INET_LOOPBACK;
        return true;
    }
    uint32_t address = 0;
    size_t at = 0;
    for (int part = 0; part < 4; part++) {
        size_t dot = part < 3 ? text.find('.', at) : text.size();
        if (dot == std::string::npos) return false;
        long value;
        if (!parseNumber(text.substr(at, dot - at).c_str(), 0, 255, &value)) return false;
        address = (address << 8) | static_cast<uint32_t>(value);
        at = dot + 1;
    }
    *out = address;
    return true;
}

bool parseServer(const std::string& text, uint32_t* address, int* port) {
    size_t colon = text.rfind(':');
    std::string host = colon == std::string::npos ? text : text.substr(0, colon);
    if (colon != std::string::npos) {
        long value;
        if (!parseNumber(text.substr(colon + 1).c_str(), 1, 65535, &value)) return false;
        *port = static_cast<int>(value);
    }
    return parseIPv4(host.empty() ? "127.0.0.1" : host, address);
}

struct Options {
    uint32_t m_address = INET_LOOPBACK;
    int m_port = DEFAULT_UDP_PORT;
    std::string m_server_text;
    bool m_json = false;
    double m_duration = 0;  // 0: no limit
};

// Counts per whole second, so the figures shown are those of the last second completed.
class TrafficMeter {
public:
    explicit TrafficMeter(int64_t start) : m_window_start(start) {}
    void count(int bytes) {
        m_traffic.m_bytes += bytes;
        m_traffic.m_datagrams++;
        m_window_bytes += bytes;
        m_window_datagrams++;
    }
    // True when a second has closed and the figures were updated.
    bool tick(int64_t now) {
        int64_t span = now - m_window_start;
        if (span < 1000) return false;
        m_traffic.m_bytes_per_s = m_window_bytes * 1000.0 / span;
        m_traffic.m_datagrams_per_s = m_window_datagrams * 1000.0 / span;
        m_window_bytes = m_window_datagrams = 0;
        m_window_start = now;
        return true;
    }
    Traffic m_traffic;

private:
    int64_t m_window_start;
    long long m_window_bytes = 0;
    long long m_window_datagrams = 0;
};

class Client {
public:
    Client(const Options& options, DatagramSocket* socket)
        : m_options(options), m_socket(socket), m_start(monotonicMillis()), m_meter(m_start) {
        m_server.set(options.m_address, options.m_port);
    }
    int run();

private:
    void heartbeat(int64_t now);
    void receiveAll(int64_t now);
    void accept(const char* data, int length, int64_t now);
    void show(int64_t now, bool traffic_tick);
    double seconds(int64_t now) const { return (now - m_start) / 1000.0; }

    const Options& m_options;
    DatagramSocket* m_socket;
    InetAddress m_server;
    int64_t m_start;
    TrafficMeter m_meter;
    SpectatorGame m_game;
    int64_t m_next_heartbeat = 0;
    int64_t m_last_datagram = -1;
    bool m_resync_wanted = false;
    int64_t m_resync_asked = -1;  // when the pending resync was asked; -1 none pending
    int m_full_states_seen = 0;
    int64_t m_last_state_line = -1000000;
    int64_t m_last_draw = -1000000;
    bool m_shown_changed = true;
};

void Client::heartbeat(int64_t now) {
    bool resync = m_resync_wanted && m_resync_asked < 0;
    char beat[6] = {0, 0, CHUNK_HBEAT, 2, static_cast<char>(resync ? 1 : 0), 0};
    DatagramPacket out;
    out.m_address = &m_server;
    out.m_data = beat;
    out.m_length = sizeof(beat);
    m_socket->send(&out, 100);  // a lost heartbeat is made good by the next one
    if (resync) {
        m_resync_wanted = false;
        m_resync_asked = now;
    }
    m_next_heartbeat = now + HEARTBEAT_EVERY_MS;
}

void Client::accept(const char* data, int length, int64_t now) {
    m_meter.count(length);
    if (m_last_datagram >= 0 && now - m_last_datagram > SILENCE_GAP_MS) m_resync_wanted = true;
    m_last_datagram = now;
    if (!m_game.receive(data, length, seconds(now))) {
        m_meter.m_traffic.m_damaged++;
        m_resync_wanted = true;
    }
    if (m_game.m_gap) {
        m_game.m_gap = false;
        m_resync_wanted = true;
    }
    if (m_game.m_full_states != m_full_states_seen) {  // what a resync was waiting for
        m_full_states_seen = m_game.m_full_states;
        m_resync_asked = -1;
        m_resync_wanted = false;
    }
}

void Client::receiveAll(int64_t now) {
    char buffer[PACKET_SIZE + 1];  // one more: a longer datagram shows up as damaged
    InetAddress from;
    DatagramPacket in;
    in.m_address = &from;
    in.m_data = buffer;
    in.m_capacity = sizeof(buffer);
    int wait = RECEIVE_WAIT_MS;
    for (int i = 0; i < DRAIN_PER_PASS && m_socket->receive(&in, wait); i++) {
        wait = 0;
        if (from.getAddress() != m_options.m_address || from.getPort() != m_options.m_port) {
            m_meter.m_traffic.m_ignored++;  // only the server is listened to
            continue;
        }
        accept(buffer, in.m_length, now);
    }
}

void Client::show(int64_t now, bool traffic_tick) {
    if (m_options.m_json) {
        for (const GameEvent& e : m_game.m_events) printf("%s\n", jsonEvent(e, seconds(now)).c_str());
        m_game.m_events.clear();
        if (m_game.m_changed && now - m_last_state_line >= STATE_EVERY_MS) {
            printf("%s\n", jsonState(m_game, seconds(now)).c_str());
            m_game.m_changed = false;
            m_last_state_line = now;
        }
        if (traffic_tick) printf("%s\n", jsonTraffic(m_meter.m_traffic, seconds(now)).c_str());
        fflush(stdout);
        return;
    }
    m_game.m_events.clear();
    if (m_game.m_changed || traffic_tick) m_shown_changed = true;
    m_game.m_changed = false;
    if (!m_shown_changed || now - m_last_draw < REDRAW_EVERY_MS) return;
    ViewStatus status;
    status.m_server = m_options.m_server_text.c_str();
    status.m_elapsed = seconds(now);
    status.m_silent = m_last_datagram < 0 ? -1 : (now - m_last_datagram) / 1000.0;
    status.m_traffic = &m_meter.m_traffic;
    status.m_resync_pending = m_resync_asked >= 0;
    fputs(renderTerminal(m_game, status).c_str(), stdout);
    fflush(stdout);
    m_last_draw = now;
    m_shown_changed = false;
}

int Client::run() {
    while (!g_interrupted) {
        int64_t now = monotonicMillis();
        if (m_options.m_duration > 0 && now - m_start >= m_options.m_duration * 1000) break;
        int command = pollCommand();
        if (command == 'q' || command == 'Q') break;
        if (command == 'r' || command == 'R') {
            m_resync_wanted = true;
            m_resync_asked = -1;
        }
        if (m_resync_asked >= 0 && now - m_resync_asked > RESYNC_WAIT_MS) {
            m_resync_asked = -1;  // unanswered: ask again
            m_resync_wanted = true;
        }
        if (now >= m_next_heartbeat || (m_resync_wanted && m_resync_asked < 0)) heartbeat(now);
        receiveAll(now);
        now = monotonicMillis();
        m_game.expire(seconds(now));
        show(now, m_meter.tick(now));
    }
    int64_t now = monotonicMillis();
    if (m_options.m_json) {
        m_game.m_changed = m_game.m_changed || m_last_datagram >= 0;
        m_last_state_line = -1000000;
        show(now, false);  // the last word: the state as it stands
    } else {
        fputs("\x1b[?25h\n", stdout);
    }
    long long got = m_meter.m_traffic.m_datagrams;
    fprintf(stderr, "spectate: %lld datagrams, %lld bytes from %s in %.0f s\n", got,
            m_meter.m_traffic.m_bytes, m_options.m_server_text.c_str(), seconds(now));
    return got > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        bool has_value = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--json") {
            options.m_json = true;
        } else if (arg == "--server") {
            if (!has_value) return usageError("--server needs HOST:PORT");
            if (!parseServer(argv[++i], &options.m_address, &options.m_port))
                return usageError(std::string("not an IPv4 address and port: ") + argv[i]);
        } else if (arg == "--duration") {
            long seconds;
            if (!has_value || !parseNumber(argv[++i], 0, 1000000, &seconds))
                return usageError("--duration needs a whole number of seconds");
            options.m_duration = static_cast<double>(seconds);
        } else {
            return usageError("unknown option " + arg);
        }
    }
    InetAddress server;
    server.set(options.m_address, options.m_port);
    char dotted[INET_TEXT_MAX];
    options.m_server_text = std::string(server.format(dotted, sizeof(dotted))) + ":" +
                            std::to_string(options.m_port);

    if (!startNetwork()) {
        fprintf(stderr, "spectate: the socket library could not be started\n");
        return 3;
    }
    DatagramSocket socket;
    InetAddress any;
    any.setAny(0);  // any free port: the server answers whatever port the heartbeats come from
    if (socket.init(&any) != 0) {
        fprintf(stderr, "spectate: cannot open a UDP socket\n");
        return 3;
    }
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    if (!options.m_json) {
        prepareConsole();
        fputs("\x1b[2J\x1b[?25l", stdout);
    }
    Client client(options, &socket);
    int status = client.run();
    socket.stop();
    return status;
}
