// The delayed stream over HTTP with a scripted match in simhost: the plugin's own encoder, delay
// buffer and sender fill the fragment store, and plain sockets ask the web server for it.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "broadcast/fragments.h"
#include "game.h"
#include "host/config.h"
#include "match.h"
#include "net/net.h"
#include "test_host.h"
#include "web/applet_server.h"
#include "web/live.h"
#include "web/response.h"

namespace {

struct Reply {
    std::string m_header;
    std::string m_body;
    bool m_ok = false;
    std::string field(const std::string& name) const {
        size_t at = m_header.find("\r\n" + name + ": ");
        if (at == std::string::npos) return "(absent)";
        at += name.size() + 4;
        return m_header.substr(at, m_header.find("\r\n", at) - at);
    }
    std::string status() const { return m_header.substr(0, m_header.find("\r\n")); }
};

// One keep-alive connection, one request at a time.
class Client {
public:
    explicit Client(int port) : m_fd(socket(AF_INET, SOCK_STREAM, 0)) {
        timeval limit{10, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
    }
    ~Client() { close(m_fd); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    Reply get(const std::string& path) {
        Reply r;
        std::string request = "GET " + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
        if (!m_connected ||
            ::send(m_fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size()))
            return r;
        size_t end;
        while ((end = m_pending.find("\r\n\r\n")) == std::string::npos)  // CRLF only
            if (!fill()) return r;
        r.m_header = m_pending.substr(0, end + 4);
        m_pending.erase(0, end + 4);
        std::string length = r.field("Content-Length");
        if (length == "(absent)") return r;
        size_t n = std::stoul(length);
        while (m_pending.size() < n)
            if (!fill()) return r;
        r.m_body = m_pending.substr(0, n);
        m_pending.erase(0, n);
        r.m_ok = true;
        return r;
    }

private:
    bool fill() {
        char buffer[8192];
        ssize_t n = recv(m_fd, buffer, sizeof(buffer), 0);
        if (n <= 0) return false;
        m_pending.append(buffer, size_t(n));
        return true;
    }

    int m_fd;
    bool m_connected = false;
    std::string m_pending;
};

// The number of a "key":N field of a flat JSON object; -1 when absent.
long jsonNumber(const std::string& json, const std::string& key) {
    size_t at = json.find("\"" + key + "\":");
    if (at == std::string::npos) return -1;
    return std::stol(json.substr(at + key.size() + 3));
}

// Walks a run of elements; the number of elements, or -1 at a fault.
int countElements(const std::string& data) {
    size_t at = 0;
    int elements = 0;
    while (at < data.size()) {
        if (data.size() - at < 2) return -1;
        int count = uint8_t(data[at + 1]);
        at += 2;
        for (int i = 0; i < count; i++) {
            if (data.size() - at < 2) return -1;
            size_t n = (size_t(uint8_t(data[at])) << 8) | uint8_t(data[at + 1]);
            at += 2;
            if (n < 2 || n > 512 || n > data.size() - at) return -1;
            at += n;
        }
        elements++;
    }
    return elements;
}

// A scripted match with the plugin attached, the map running and the web server up.
struct Live {
    ScratchDir dir;
    SimOptions options;
    std::unique_ptr<InProcessHost> host;
    int port = 0;

    explicit Live(const std::string& config) {
        dir.write("addons/kovitv/config.ini", "udp_port " + std::to_string(freeUdpPort()) +
                                                  "\ndelay 30\n" + config);
        dir.write("addons/kovitv/overviews/de_kovi.png", "PNG");
        options = scratchOptions(dir);
        options.speed = 40;
        options.max_clients = 12;
        options.cvars["hostname"] = "Kovi \"test\" \\ server";
        host = std::make_unique<InProcessHost>(options);
        MatchOptions match;
        match.players = 6;
        match.seed = 3;
        host->host().setGame(new Match(host->host(), match));
        if (host->load()) host->host().activateMap("de_kovi");
        const std::string& address = options.cvars.at("net_address");
        port = atoi(address.c_str() + address.find(':') + 1);
    }
    bool ok() { return host->host().mapRunning(); }
    // Plays until the store holds at least `more` fragments beyond what it had.
    bool playFragments(int more) {
        int goal = g_fragments.newestNumber() + more;
        for (int i = 0; i < 400 && g_fragments.newestNumber() < goal; i++) host->host().runFor(1);
        return g_fragments.newestNumber() >= goal;
    }
};

}  // namespace

TEST(LiveHttp, SyncNamesTheNewestFragmentTheDelayTheMapAndTheServer) {
    Live live("");
    ASSERT_TRUE(live.ok());
    ASSERT_TRUE(live.playFragments(2));
    Client c(live.port);
    Reply r = c.get("/live/sync");
    ASSERT_TRUE(r.m_ok) << r.m_header;
    EXPECT_EQ(r.status(), "HTTP/1.1 200 OK");
    EXPECT_EQ(r.field("Content-Type"), "application/json");
    EXPECT_EQ(r.field("Cache-Control"), "max-age=10");
    long newest = jsonNumber(r.m_body, "fragment");
    EXPECT_GE(newest, 2);
    EXPECT_LE(newest, g_fragments.newestNumber());
    EXPECT_EQ(jsonNumber(r.m_body, "elements"), FRAGMENT_ELEMENTS);
    EXPECT_EQ(jsonNumber(r.m_body, "hold"), LIVE_HOLD_MS / 1000);
    EXPECT_EQ(jsonNumber(r.m_body, "run"), LIVE_RUN);
    EXPECT_EQ(jsonNumber(r.m_body, "delay"), 30);
    EXPECT_NE(r.m_body.find("\"map\":\"de_kovi\""), std::string::npos) << r.m_body;
    EXPECT_NE(r.m_body.find("\"overview\":\"overviews/de_kovi.png\""), std::string::npos)
        << r.m_body;
    EXPECT_NE(r.m_body.find("\"server\":\"Kovi \\\"test\\\" \\\\ server\","), std::string::npos)
        << r.m_body;
    // Where a viewer can rewind to: the map's first fragment, whose body starts the map.
    long first = jsonNumber(r.m_body, "first");
    EXPECT_GE(first, 1);
    EXPECT_LE(first, newest);
    Reply opening = c.get("/live/" + std::to_string(first) + "/body");
    ASSERT_TRUE(opening.m_ok);
    EXPECT_EQ(opening.status(), "HTTP/1.1 200 OK");
    FragmentRef kept = g_fragments.get(int(first));
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->m_map_start);
    live.host->host().shutdown();
}

TEST(LiveHttp, CompleteFragmentsAreCachedMissingOnes404AndMalformedNumbers400) {
    Live live("");
    ASSERT_TRUE(live.ok());
    ASSERT_TRUE(live.playFragments(FRAGMENTS_KEPT + 2));
    int newest = g_fragments.newestNumber();
    Client c(live.port);
    std::string n = std::to_string(newest);

    Reply start = c.get("/live/" + n + "/start");
    ASSERT_TRUE(start.m_ok);
    EXPECT_EQ(start.status(), "HTTP/1.1 200 OK");
    EXPECT_EQ(start.field("Content-Type"), "application/octet-stream");
    EXPECT_EQ(start.field("Cache-Control"), "public, max-age=3600");
    EXPECT_EQ(countElements(start.m_body), 1);
    EXPECT_EQ(start.m_body[0], 0);
    Reply body = c.get("/live/" + n + "/body");
    ASSERT_TRUE(body.m_ok);
    EXPECT_EQ(body.field("Cache-Control"), "public, max-age=3600");
    EXPECT_EQ(countElements(body.m_body), FRAGMENT_ELEMENTS);
    FragmentRef kept = g_fragments.get(newest);
    ASSERT_TRUE(kept);
    EXPECT_EQ(body.m_body, std::string(kept->m_body, size_t(kept->m_body_length)));
    // What caches and browsers use, and nothing more: the header weighs as much as the body.
    for (const Reply* r : {&start, &body}) {
        std::string date = r->field("Date");
        EXPECT_EQ(date.size(), 29u) << r->m_header;
        EXPECT_EQ(r->m_header, "HTTP/1.1 200 OK\r\nDate: " + date +
                                   "\r\nCache-Control: public, max-age=3600\r\nContent-Length: " +
                                   std::to_string(r->m_body.size()) +
                                   "\r\nContent-Type: application/octet-stream\r\n\r\n");
    }

    // Not complete yet, or never: missing, and never cacheable. The sender may still be
    // completing fragments queued by the match, so "not yet" is far enough ahead.
    for (int missing : {newest + 10 * FRAGMENTS_KEPT, 0}) {
        Reply r = c.get("/live/" + std::to_string(missing) + "/body");
        ASSERT_TRUE(r.m_ok) << missing;
        EXPECT_EQ(r.status(), "HTTP/1.1 404 Not Found") << missing;
        EXPECT_EQ(r.field("Cache-Control"), "no-store, no-cache, must-revalidate");
        EXPECT_EQ(r.m_body, "");
    }
    for (const char* bad : {"/live/-1/start", "/live/abc/body", "/live/1234567890/body",
                            "/live//start", "/live/1a/start"}) {
        Reply r = c.get(bad);
        ASSERT_TRUE(r.m_ok) << bad;
        EXPECT_EQ(r.status(), "HTTP/1.1 400 Bad Request") << bad;
    }
    for (const char* other : {"/live", "/live/", "/live/" "1/end", "/live/sync/x", "/live/1"}) {
        Reply r = c.get(other);
        ASSERT_TRUE(r.m_ok) << other;
        EXPECT_EQ(r.status(), "HTTP/1.1 404 Not Found") << other;
    }
    live.host->host().shutdown();
}

// A joining viewer loads the map's history a minute at a time: the run is the bodies as they
// are, one after another, or nothing when the run is not aligned or not all kept.
TEST(LiveHttp, ARunOfBodiesIsTheirBytesInOrderOrA404) {
    Live live("");
    ASSERT_TRUE(live.ok());
    ASSERT_TRUE(live.playFragments(2 * LIVE_RUN + 1));
    int newest = g_fragments.newestNumber();
    int first = ((newest - LIVE_RUN) - 1) / LIVE_RUN * LIVE_RUN + 1;  // a whole run below the newest
    ASSERT_GE(first, 1);
    Client c(live.port);
    Reply run = c.get("/live/" + std::to_string(first) + "/bodies");
    ASSERT_TRUE(run.m_ok);
    EXPECT_EQ(run.status(), "HTTP/1.1 200 OK");
    EXPECT_EQ(run.field("Cache-Control"), "public, max-age=3600");
    std::string expected;
    for (int n = first; n < first + LIVE_RUN; n++) {
        FragmentRef kept = g_fragments.get(n);
        ASSERT_TRUE(kept) << n;
        expected.append(kept->m_body, size_t(kept->m_body_length));
    }
    EXPECT_GT(expected.size(), size_t(RAW_READ_SIZE));  // more than one buffer's worth
    EXPECT_EQ(run.m_body, expected);
    EXPECT_EQ(countElements(run.m_body), LIVE_RUN * FRAGMENT_ELEMENTS);
    // Beyond the newest (by a run: the sender may still be completing queued fragments).
    int unfinished = newest / LIVE_RUN * LIVE_RUN + 1 + LIVE_RUN;
    for (int n : {first + 1, unfinished, unfinished + LIVE_RUN, 0}) {
        Reply r = c.get("/live/" + std::to_string(n) + "/bodies");
        ASSERT_TRUE(r.m_ok) << n;
        EXPECT_EQ(r.status(), "HTTP/1.1 404 Not Found") << n;
        EXPECT_EQ(r.field("Cache-Control"), "no-store, no-cache, must-revalidate") << n;
    }
    live.host->host().shutdown();
}

// A follower asks for the fragment after the newest before it exists: the answer waits for it.
TEST(LiveHttpConcurrent, TheFragmentAfterTheNewestIsAnsweredOnceItIsOut) {
    Live live("");
    ASSERT_TRUE(live.ok());
    ASSERT_TRUE(live.playFragments(1));
    int next = g_fragments.newestNumber() + 1;
    Reply held;
    std::thread viewer([&] {
        Client c(live.port);
        held = c.get("/live/" + std::to_string(next) + "/body");
    });
    EXPECT_TRUE(live.playFragments(2));
    viewer.join();
    ASSERT_TRUE(held.m_ok);
    EXPECT_EQ(held.status(), "HTTP/1.1 200 OK");
    EXPECT_EQ(held.field("Cache-Control"), "public, max-age=3600");
    FragmentRef kept = g_fragments.get(next);
    ASSERT_TRUE(kept);
    EXPECT_EQ(held.m_body, std::string(kept->m_body, size_t(kept->m_body_length)));
    live.host->host().shutdown();
}

// No stream runs here, so the next fragment never comes: the wait ends when the connection
// stirs (a close, the next request, the server's own shutdown at a stop) and says "not yet" for
// a second only, so that a cache hands that to the viewers it held back instead of sending each
// of them on. A fragment further ahead is refused at once, as before.
TEST(LiveHttpConcurrent, AHeldRequestEndsWhenItsConnectionStirsAndIsNotCachedLong) {
    g_cfg.set("http_stream", 1);
    auto answer = [](const std::string& path, bool stir, bool* waited) {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return std::string("(no socketpair)");
        StreamSocket server;
        server.m_fd = pair[0];
        std::thread visitor([&] { sendLive(&server, path.c_str()); });
        pollfd ready{pair[1], POLLIN, 0};
        *waited = poll(&ready, 1, 300) == 0;
        if (stir) ::send(pair[1], "G", 1, MSG_NOSIGNAL);
        visitor.join();
        std::string got;
        char buffer[1024];
        ssize_t n;
        while ((n = recv(pair[1], buffer, sizeof(buffer), MSG_DONTWAIT)) > 0) got.append(buffer, size_t(n));
        server.stop();
        close(pair[1]);
        return got;
    };
    bool waited = false;
    int next = g_fragments.newestNumber() + 1;
    std::string held = answer("/live/" + std::to_string(next) + "/body", true, &waited);
    EXPECT_TRUE(waited) << held;
    EXPECT_EQ(held.substr(0, held.find("\r\n")), "HTTP/1.1 404 Not Found");
    EXPECT_NE(held.find("\r\nCache-Control: max-age=1\r\n"), std::string::npos) << held;
    std::string ahead = answer("/live/" + std::to_string(next + 1) + "/start", false, &waited);
    EXPECT_FALSE(waited);
    EXPECT_EQ(ahead.substr(0, ahead.find("\r\n")), "HTTP/1.1 404 Not Found");
    EXPECT_NE(ahead.find("\r\nCache-Control: no-store"), std::string::npos) << ahead;
}

TEST(LiveHttp, LivePathsNeverReachTheFolder) {
    Live live("");
    ASSERT_TRUE(live.ok());
    live.dir.write("addons/kovitv/live/sync", "a file");
    live.dir.write("addons/kovitv/live/999999/start", "a file");  // not the next: answered at once
    Client c(live.port);
    Reply r = c.get("/live/999999/start");
    ASSERT_TRUE(r.m_ok);
    EXPECT_NE(r.m_body, "a file");
    r = c.get("/live/sync");
    ASSERT_TRUE(r.m_ok);
    EXPECT_EQ(r.m_body.find("a file"), std::string::npos);
    live.host->host().shutdown();
}

TEST(LiveHttp, HttpStreamOffAnswers404AndFilesAreStillServed) {
    Live live("http_stream off\n");
    ASSERT_TRUE(live.ok());
    live.dir.write("addons/kovitv/page.html", "page");
    int before = g_fragments.newestNumber();
    live.host->host().runFor(20);
    EXPECT_EQ(g_fragments.newestNumber(), before);  // the sender keeps nothing
    Client c(live.port);
    for (std::string path : {std::string("/live/sync"), "/live/" + std::to_string(before) + "/body"}) {
        Reply r = c.get(path);
        ASSERT_TRUE(r.m_ok) << path;
        EXPECT_EQ(r.status(), "HTTP/1.1 404 Not Found") << path;
    }
    Reply page = c.get("/page.html");
    ASSERT_TRUE(page.m_ok);
    EXPECT_EQ(page.m_body, "page");
    live.host->host().shutdown();
}

// Web visitors fetch while the sender appends and evicts; under ThreadSanitizer too.
TEST(LiveHttpConcurrent, VisitorsFetchWhileTheSenderAppends) {
    Live live("");
    ASSERT_TRUE(live.ok());
    ASSERT_TRUE(live.playFragments(1));
    std::atomic<bool> playing{true};
    std::atomic<int> fetched{0}, faults{0};
    std::vector<std::thread> visitors;
    for (int v = 0; v < 3; v++) {
        visitors.emplace_back([&] {
            Client c(live.port);
            while (playing) {
                Reply sync = c.get("/live/sync");
                long n = sync.m_ok ? jsonNumber(sync.m_body, "fragment") : -1;
                if (n < 1) {
                    faults++;
                    return;
                }
                Reply start = c.get("/live/" + std::to_string(n) + "/start");
                Reply body = c.get("/live/" + std::to_string(n) + "/body");
                // Evicted in between is allowed; a broken fragment is not.
                bool sound = start.m_ok && body.m_ok &&
                             (start.status() == "HTTP/1.1 404 Not Found" ||
                              countElements(start.m_body) == 1) &&
                             (body.status() == "HTTP/1.1 404 Not Found" ||
                              countElements(body.m_body) == FRAGMENT_ELEMENTS);
                if (!sound) faults++;
                fetched++;
            }
        });
    }
    live.host->host().runFor(150);  // about 40 fragments at 40 game seconds a second
    playing = false;
    for (std::thread& t : visitors) t.join();
    live.host->host().shutdown();
    EXPECT_EQ(faults, 0);
    EXPECT_GT(fetched, 3);
    EXPECT_LE(g_fragments.held(), FRAGMENTS_MAP_MAX);
}

TEST(LiveHttp, HostileFragmentRequestsGetA4xxOrACloseAndTheServerCarriesOn) {
    Live live("");
    ASSERT_TRUE(live.ok());
    ASSERT_TRUE(live.playFragments(1));
    Client c(live.port);  // answered requests keep the connection
    for (const char* bad : {"/live/0x10/body", "/live/1e3/start",
                            "/live/99999999999999999999/body", "/live/4294967297/start",
                            "/live/-0/body", "/live/1.0/body", "/live/1-2/body"}) {
        Reply r = c.get(bad);
        ASSERT_TRUE(r.m_ok) << bad;
        EXPECT_EQ(r.status(), "HTTP/1.1 400 Bad Request") << bad;
        EXPECT_EQ(r.m_body, "") << bad;
    }
    for (const char* other : {"/live/999999999/body", "/live/1/body/", "/live/1/body/x",
                              "/live/1//body", "/live/1/BODY", "/live/1/start.html",
                              "/live/sync/", "/live/sync/1/body", "/live//", "/live/1/body.kdem"}) {
        Reply r = c.get(other);
        ASSERT_TRUE(r.m_ok) << other;
        EXPECT_EQ(r.status(), "HTTP/1.1 404 Not Found") << other;
        EXPECT_EQ(r.m_body, "") << other;
    }
    // What the request reader refuses (dots, escapes, bytes outside its alphabet, a path longer
    // than its buffer) is closed without an answer, as for any other path.
    for (std::string refused : {std::string("/live/../index.html"), std::string("/live/%31/body"),
                                std::string("/live/+1/body"),
                                std::string("/live/1/body\x01"), "/live/" + std::string(1100, '7')}) {
        Client once(live.port);
        Reply r = once.get(refused);
        EXPECT_FALSE(r.m_ok) << refused.substr(0, 40);
        EXPECT_EQ(r.m_header, "") << refused.substr(0, 40);
    }
    Reply sync = c.get("/live/sync");
    ASSERT_TRUE(sync.m_ok);
    EXPECT_EQ(sync.status(), "HTTP/1.1 200 OK");
    live.host->host().shutdown();
}

namespace {

// Raises this process's open-file limit to at least `want`; false when the hard limit is lower.
bool allowOpenFiles(rlim_t want) {
    rlimit r{};
    if (getrlimit(RLIMIT_NOFILE, &r) != 0) return false;
    if (r.rlim_cur >= want) return true;
    if (r.rlim_max != RLIM_INFINITY && r.rlim_max < want) return false;
    r.rlim_cur = want;
    return setrlimit(RLIMIT_NOFILE, &r) == 0;
}

// One of many connections driven together: connect, one request, the answer, the server's close.
struct Peer {
    int m_fd = -1;
    bool m_sent = false;
    bool m_answered = false;
    bool m_ended = false;  // the server closed it
    std::string m_got;

    bool whole() const {  // the header and Content-Length bytes after it
        size_t end = m_got.find("\r\n\r\n");
        size_t field = m_got.find("\r\nContent-Length: ");
        if (end == std::string::npos || field == std::string::npos || field > end) return false;
        return m_got.size() >= end + 4 + std::stoul(m_got.substr(field + 18));
    }
};

}  // namespace

// A thousand viewers at once against the visitor limit (with a listen queue that holds them
// all): never more than max_visitors served at once, every other connection closed at once
// without an answer, the served ones closed after their idle time, and afterwards a new viewer
// is served again.
TEST(LiveHttpConcurrent, AThousandConnectionsAtOnceAreServedUpToTheLimitOrClosed) {
    constexpr int CONNECTIONS = 1000;
    constexpr int LIMIT = 64;
    if (!allowOpenFiles(2 * CONNECTIONS + 512)) GTEST_SKIP() << "cannot open enough files";
    Live live("max_visitors " + std::to_string(LIMIT) + "\ntcp_queue " +
              std::to_string(CONNECTIONS) + "\n");
    ASSERT_TRUE(live.ok());
    ASSERT_TRUE(live.playFragments(1));
    int refused_before = g_refused_visitors.load();

    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(live.port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<Peer> peers(CONNECTIONS);
    for (Peer& p : peers) {
        p.m_fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ASSERT_GE(p.m_fd, 0);
        int r = connect(p.m_fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        ASSERT_TRUE(r == 0 || errno == EINPROGRESS) << strerror(errno);
    }
    const std::string request = "GET /live/sync HTTP/1.1\r\nHost: localhost\r\n\r\n";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::vector<pollfd> fds;
    std::vector<Peer*> polled;
    int open_served = 0, most_served = 0;
    for (;;) {
        fds.clear();
        polled.clear();
        for (Peer& p : peers) {
            if (p.m_ended) continue;
            fds.push_back({p.m_fd, short(p.m_sent ? POLLIN : POLLOUT), 0});
            polled.push_back(&p);
        }
        if (fds.empty() || std::chrono::steady_clock::now() > deadline) break;
        if (poll(fds.data(), nfds_t(fds.size()), 200) < 0) break;
        for (size_t i = 0; i < fds.size(); i++) {
            Peer& p = *polled[i];
            if (fds[i].revents == 0) continue;
            if (!p.m_sent) {
                ssize_t n = ::send(p.m_fd, request.data(), request.size(), MSG_NOSIGNAL);
                p.m_sent = true;
                if (n != ssize_t(request.size())) p.m_ended = true;
                continue;
            }
            char buffer[4096];
            ssize_t n = recv(p.m_fd, buffer, sizeof(buffer), 0);
            if (n > 0) {
                p.m_got.append(buffer, size_t(n));
                if (!p.m_answered && p.whole()) {
                    p.m_answered = true;
                    most_served = std::max(most_served, ++open_served);
                }
            } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
                p.m_ended = true;
                if (p.m_answered) open_served--;
            }
        }
    }
    int served = 0, refused = 0, pending = 0, other = 0;
    for (Peer& p : peers) {
        if (!p.m_ended) pending++;
        else if (p.m_answered && p.m_got.compare(0, 15, "HTTP/1.1 200 OK") == 0) served++;
        else if (p.m_got.empty()) refused++;
        else other++;
    }
    EXPECT_EQ(pending, 0);  // nobody left hanging
    EXPECT_EQ(other, 0);    // every answer whole and right, every refusal a plain close
    EXPECT_GE(served, 1);
    EXPECT_LE(most_served, LIMIT);
    EXPECT_EQ(served + refused, CONNECTIONS);
    EXPECT_GE(g_refused_visitors.load() - refused_before, refused);
    for (Peer& p : peers) close(p.m_fd);

    // The visitors see their peers gone and finish; their places are free again.
    bool recovered = false;
    for (int i = 0; i < 50 && !recovered; i++) {
        Client c(live.port);
        Reply r = c.get("/live/sync");
        recovered = r.m_ok && r.status() == "HTTP/1.1 200 OK";
        if (!recovered) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(recovered);
    live.host->host().shutdown();
}
