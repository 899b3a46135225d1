// The applet web server inside simhost, with real clients: curl, and plain sockets for what curl
// will not send. Only 127.0.0.1 and ports the system picks.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "broadcast/connections.h"
#include "host/config.h"
#include "net/faults.h"
#include "net/globals.h"
#include "net/net.h"
#include "test_host.h"
#include "web/applet_server.h"
#include "web/request.h"
#include "web/response.h"
#include "web/visitor.h"
#include "web/visitor_pool.h"

namespace {

// A plain client connection; bytes of a later response read early are kept for it.
class Client {
public:
    explicit Client(int port) : m_fd(socket(AF_INET, SOCK_STREAM, 0)) {
        timeval limit{10, 0};  // no test may hang on a silent server
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

    bool connected() const { return m_connected; }
    int fd() const { return m_fd; }
    bool send(const std::string& bytes) {
        return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    }
    void endWriting() { shutdown(m_fd, SHUT_WR); }

    // One response: header up to the empty line (lines ended by CRLF, as HTTP/1.1 has them),
    // then Content-Length bytes, none without it (a 304). False on a close or a time-out.
    bool read(std::string* header, std::string* body) {
        size_t end;
        while ((end = m_pending.find("\r\n\r\n")) == std::string::npos)
            if (!fill()) return false;
        *header = m_pending.substr(0, end + 4);
        m_pending.erase(0, end + 4);
        size_t at = header->find("\r\nContent-Length: ");
        size_t length = at == std::string::npos ? 0 : std::stoul(header->substr(at + 18));
        while (m_pending.size() < length)
            if (!fill()) return false;
        *body = m_pending.substr(0, length);
        m_pending.erase(0, length);
        return true;
    }
    std::string get(const std::string& path) {
        std::string header, body;
        if (!send("GET " + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n")) return "(send failed)";
        return read(&header, &body) ? body : "(no response)";
    }
    // True when the server closes the connection before sending anything.
    bool closedWithoutAnswer() {
        char byte;
        ssize_t n = recv(m_fd, &byte, 1, 0);
        // A close with our bytes still unread in the server arrives as a reset.
        return m_pending.empty() && (n == 0 || (n < 0 && errno == ECONNRESET));
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

std::string headerField(const std::string& header, const std::string& name) {
    size_t at = header.find("\r\n" + name + ": ");
    if (at == std::string::npos) return "(absent)";
    at += name.size() + 4;
    return header.substr(at, header.find("\r\n", at) - at);
}

// The header with its date (which changes) replaced by D.
std::string withoutDate(std::string header) {
    size_t at = header.find("\r\nDate: ");
    if (at != std::string::npos) header.replace(at + 8, header.find("\r\n", at + 2) - at - 8, "D");
    return header;
}

template <typename Condition>
bool waitFor(Condition condition, int limit_ms = 10000) {
    int64_t deadline = monotonicMillis() + limit_ms;
    while (!condition()) {
        if (monotonicMillis() > deadline) return false;
        Thread::sleep(10);
    }
    return true;
}

const char* const kIndex = "<p>$adv|$width|$Width|$demo|$missing|$ x</p>\n";

std::string bytesOf(size_t size) {
    std::string data(size, '\0');
    uint32_t x = 12345;
    for (char& c : data) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 24);
    }
    return data;
}

class WebServer : public ::testing::Test {
protected:
    ScratchDir dir;
    SimOptions options = scratchOptions(dir);
    std::unique_ptr<InProcessHost> h;
    int port = 0;

    void start(const std::string& config = "") {
        dir.write("addons/kovitv/config.ini", "udp_port " + std::to_string(freeUdpPort()) +
                                                  "\ntcp_queue 128\n" + config);
        page("index.html", kIndex);
        page("toomany.html", "full:$max_spec|$demo\n");
        page("style.css", "p {}");
        page("a.gif", "GIF89a");
        page("a.gif.gif", "GIF89a twice");
        page("kovitv.jar", "PK");
        page("x.kdem", "\x02");
        page("sub/inner.html", "inner");
        dir.write("addons/kovitvindex.html", "beside the folder");
        h = std::make_unique<InProcessHost>(options);
        ASSERT_TRUE(h->load());
        const std::string& address = options.cvars.at("net_address");
        port = atoi(address.c_str() + address.find(':') + 1);
        ASSERT_TRUE(g_tcp_thread.running()) << h->text();
    }
    void page(const std::string& name, const std::string& content) {
        dir.write("addons/kovitv/" + name, content);
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port) + path;
    }
    RunResult curl(const std::string& arguments) {
        return runProgram("curl -s --max-time 20 " + arguments);
    }
    std::string filledIndex(const std::string& demo) const {
        return "<p>You are watching KOVI TV|1024|$Width|" + demo + "|$missing|$ x</p>\n";
    }
};

}  // namespace

TEST_F(WebServer, CurlGetsTheFilledStartPageUnderTheFixedHeader) {
    start();
    RunResult r = curl("-i " + url("/"));
    ASSERT_EQ(r.status, 0) << r.output;
    std::string body = filledIndex("");
    std::string expected = "HTTP/1.1 200 OK\r\nDate: D\r\nCache-Control: no-store, no-cache, "
                           "must-revalidate\r\nServer: Kovi TV\r\nContent-Length: " +
                           std::to_string(body.size()) +
                           "\r\nConnection: Keep-Alive\r\nContent-Type: text/html\r\n\r\n" + body;
    EXPECT_EQ(withoutDate(r.output), expected);
    EXPECT_NE(r.output.find(" GMT\r\n"), std::string::npos);
}

TEST_F(WebServer, CurlReusesOneConnectionForTwoRequestsAnsweredInOrder) {
    start();
    RunResult r = curl("-w '[%{num_connects}]' " + url("/a.gif") + " " + url("/?two"));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "GIF89a[1]" + filledIndex("two") + "[0]");
}

TEST_F(WebServer, RequestsArrivingInOneWriteAreAllAnsweredInOrder) {
    start();
    Client c(port);
    ASSERT_TRUE(c.connected());
    c.send("GET /a.gif HTTP/1.1\r\n\r\nGET /kovitv.jar HTTP/1.1\r\n\r\nGET /?q HTTP/1.1\n\n");
    std::string header, body;
    ASSERT_TRUE(c.read(&header, &body));
    EXPECT_EQ(body, "GIF89a");
    ASSERT_TRUE(c.read(&header, &body));
    EXPECT_EQ(body, "PK");
    ASSERT_TRUE(c.read(&header, &body));
    EXPECT_EQ(body, filledIndex("q"));
    EXPECT_EQ(c.get("/style.css"), "p {}");  // and the connection goes on
}

TEST_F(WebServer, MalformedRefusedOrUnfinishedRequestsCloseTheConnectionUnanswered) {
    start();
    const std::string requests[] = {
        "POST / HTTP/1.1\r\n\r\n",                       // not GET
        "HEAD / HTTP/1.1\r\n\r\n",                       // not GET
        "GET /" + std::string(1100, 'a'),                // the path never ends
        "GET /../config.ini HTTP/1.1\r\n\r\n",           // two dots
        "GET /a%20b HTTP/1.1\r\n\r\n",                   // a refused character
    };
    for (const std::string& request : requests) {
        Client c(port);
        ASSERT_TRUE(c.connected());
        c.send(request);
        EXPECT_TRUE(c.closedWithoutAnswer()) << request.substr(0, 40);
    }
    Client unfinished(port);  // the peer stops before the end of the header
    unfinished.send("GET /index.html HTTP/1.1\r\n");
    unfinished.endWriting();
    EXPECT_TRUE(unfinished.closedWithoutAnswer());

    Client after_good(port);  // a refused request after a good one still ends the connection
    EXPECT_EQ(after_good.get("/a.gif"), "GIF89a");
    after_good.send("GET /%\r\n\r\n");
    EXPECT_TRUE(after_good.closedWithoutAnswer());
}

TEST_F(WebServer, AMissingFileGetsTheExact404AndTheConnectionStaysUsable) {
    start();
    Client c(port);
    ASSERT_TRUE(c.send("GET /missing.png HTTP/1.1\r\n\r\n"));
    std::string header, body;
    ASSERT_TRUE(c.read(&header, &body));
    EXPECT_EQ(withoutDate(header),
              "HTTP/1.1 404 Not Found\r\nDate: D\r\nCache-Control: no-store, no-cache, "
              "must-revalidate\r\nServer: Kovi TV\r\nContent-Length: 0\r\nConnection: Keep-Alive\r\n"
              "Content-Type: text/html\r\n\r\n");
    EXPECT_EQ(c.get("/a.gif"), "GIF89a");
}

TEST_F(WebServer, FoldersAndPathsWithoutALeadingSlashAreAnsweredAsMissing) {
    start();
    Client c(port);
    for (const char* path : {"/sub", "/sub/", "?x", "index.html", "/nul.html"}) {
        ASSERT_TRUE(c.send(std::string("GET ") + path + " HTTP/1.1\r\n\r\n"));
        std::string header, body;
        ASSERT_TRUE(c.read(&header, &body)) << path;
        EXPECT_EQ(header.substr(0, 22), "HTTP/1.1 404 Not Found") << path;
        EXPECT_EQ(body, "") << path;
    }
    EXPECT_EQ(c.get("/sub/inner.html"), "inner");
}

TEST_F(WebServer, DemosAreListedAndServedOnlyUnderTheirOwnNames) {
    start();
    page("demos/120826/1240_de_kovi.kdem", "\x02" "demo");
    page("demos/120826/1300_de_bare.kdem", "\x02");
    page("overviews/de_kovi.gif", "GIF");  // the overview the listing names, found on disk
    page("demos/120826/notes.html", "not a demo");
    page("demos/index.html", "not a demo either");
    Client c(port);
    std::string header, body;
    ASSERT_TRUE(c.send("GET /demos/ HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(c.read(&header, &body));
    EXPECT_NE(header.find("Content-Type: application/json\r\n"), std::string::npos) << header;
    EXPECT_NE(header.find("Cache-Control: no-store"), std::string::npos) << header;
    EXPECT_EQ(body, "{\"demos\":[{\"path\":\"/demos/120826/1300_de_bare.kdem\",\"map\":"
                    "\"de_bare\",\"date\":\"120826\",\"time\":\"1300\",\"bytes\":1,"
                    "\"overview\":\"\"},"
                    "{\"path\":\"/demos/120826/1240_de_kovi.kdem\",\"map\":"
                    "\"de_kovi\",\"date\":\"120826\",\"time\":\"1240\",\"bytes\":5,"
                    "\"overview\":\"overviews/de_kovi.gif\"}]}");
    EXPECT_EQ(c.get("/demos/120826/1240_de_kovi.kdem"), "\x02" "demo");
    for (const char* path : {"/demos/120826/notes.html", "/demos/index.html", "/demos/120826/",
                             "/demos/120826/1240_de_kovi.kdem/", "/demos/x"}) {
        ASSERT_TRUE(c.send(std::string("GET ") + path + " HTTP/1.1\r\n\r\n"));
        ASSERT_TRUE(c.read(&header, &body)) << path;
        EXPECT_EQ(header.substr(0, 22), "HTTP/1.1 404 Not Found") << path;
        EXPECT_EQ(body, "") << path;
    }
    // Traversal never reaches the parser's far side: the connection is closed unanswered.
    Client d(port);
    ASSERT_TRUE(d.send("GET /demos/../config.ini HTTP/1.1\r\n\r\n"));
    EXPECT_FALSE(d.read(&header, &body));
}

// Hostile demo names: escapes, backslashes and dots never reach a file outside the demos;
// each is refused unanswered or is 404, and the connection-level refusals leave the server up.
TEST_F(WebServer, HostileDemoNamesReachNothingOutsideTheDemos) {
    start();
    page("demos/120826/1240_de_kovi.kdem", "\x02" "demo");
    page("secret.kdem", "secret");
    std::string header, body;
    for (const char* refused :
         {"/demos/%2e%2e/config.ini", "/demos/..%2fconfig.ini", "/demos/120826/..",
          "/demos\\..\\config.ini", "/demos/120826/1240_de_kovi.kdem/../../secret.kdem",
          "/demos/120826/1240_de_kovi.kdem%00.html"}) {
        Client c(port);
        ASSERT_TRUE(c.send(std::string("GET ") + refused + " HTTP/1.1\r\n\r\n"));
        EXPECT_FALSE(c.read(&header, &body)) << refused;
    }
    Client c(port);
    for (const char* missing : {"/demos/./120826/1240_de_kovi.kdem", "/demos//120826/1240_de_kovi.kdem",
                                "/demos/120826/.1240_de_kovi.kdem", "/demos/secret.kdem",
                                "/demos/120826/1240_.secret.kdem", "/demos/-1/1240_de_kovi.kdem"}) {
        ASSERT_TRUE(c.send(std::string("GET ") + missing + " HTTP/1.1\r\n\r\n"));
        ASSERT_TRUE(c.read(&header, &body)) << missing;
        EXPECT_EQ(header.substr(0, 22), "HTTP/1.1 404 Not Found") << missing;
        EXPECT_EQ(body, "") << missing;
    }
    EXPECT_EQ(c.get("/demos/120826/1240_de_kovi.kdem"), "\x02" "demo");
}

TEST_F(WebServer, ContentTypesFollowTheTable) {
    start();
    struct Case {
        const char* path;
        const char* type;
    } cases[] = {
        {"/style.css", "text/html"},
        {"/x.kdem", "application/octet-stream"},
        {"/kovitv.jar", "application/java-archive;charset=ISO-8859-1"},
        {"/a.gif.gif", "text/html"},
    };
    Client c(port);
    for (const Case& k : cases) {
        ASSERT_TRUE(c.send(std::string("GET ") + k.path + " HTTP/1.1\r\n\r\n"));
        std::string header, body;
        ASSERT_TRUE(c.read(&header, &body)) << k.path;
        EXPECT_EQ(headerField(header, "Content-Type"), k.type) << k.path;
        EXPECT_EQ(header.substr(0, 15), "HTTP/1.1 200 OK") << k.path;
    }
}

TEST_F(WebServer, ALargeRawFileArrivesByteForByteWithItsLength) {
    start();
    std::string data = bytesOf(100 * 1024 + 17);
    page("big.jpg", data);
    Client c(port);
    ASSERT_TRUE(c.send("GET /big.jpg HTTP/1.1\r\n\r\n"));
    std::string header, body;
    ASSERT_TRUE(c.read(&header, &body));
    EXPECT_EQ(headerField(header, "Content-Length"), std::to_string(data.size()));
    EXPECT_TRUE(body == data);
    EXPECT_EQ(c.get("/a.gif"), "GIF89a");  // nothing more than the length was sent
}

// Files go out straight from the disk, where a send has no MSG_NOSIGNAL: peers that leave in
// the middle, and a stop that shuts the connections down under their sends, must cost those
// connections only, even with SIGPIPE at its deadly default.
TEST_F(WebServer, ConcurrentLargeFilesCutShortByPeersOrAStopRaiseNoSignal) {
    start();
    std::string data = bytesOf(24 * 1024 * 1024 + 5);  // more than the loopback buffers hold
    page("huge.jpg", data);
    struct sigaction deadly {}, kept {};
    deadly.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &deadly, &kept);
    char some[4096];
    for (int i = 0; i < 4; ++i) {
        Client leaving(port);
        ASSERT_TRUE(leaving.send("GET /huge.jpg HTTP/1.1\r\n\r\n"));
        ASSERT_GT(recv(leaving.fd(), some, sizeof(some), 0), 0);
    }  // closed with most of the file unread
    Client whole(port);
    ASSERT_TRUE(whole.send("GET /huge.jpg HTTP/1.1\r\n\r\n"));
    std::string header, body;
    ASSERT_TRUE(whole.read(&header, &body));
    EXPECT_TRUE(body == data);
    EXPECT_EQ(whole.get("/a.gif"), "GIF89a");

    std::vector<std::unique_ptr<Client>> stalled;
    for (int i = 0; i < 4; ++i) {
        stalled.push_back(std::make_unique<Client>(port));
        ASSERT_TRUE(stalled.back()->send("GET /huge.jpg HTTP/1.1\r\n\r\n"));
        ASSERT_GT(recv(stalled.back()->fd(), some, sizeof(some), 0), 0);
    }
    Thread::sleep(50);  // their visitors fill the buffers and wait in the send
    g_tcp_thread.stop();
    for (auto& c : stalled) {
        ssize_t n;
        while ((n = recv(c->fd(), some, sizeof(some), 0)) > 0) {
        }
        EXPECT_TRUE(n == 0 || errno == ECONNRESET);  // the rest was cut off
    }
    sigaction(SIGPIPE, &kept, nullptr);
}

// A peer with a small window that stops reading a large file cannot hold its visitor: however
// far the system would let the send buffer grow, the response ends within the send time-out
// once the peer takes nothing more, and the one place comes free.
TEST_F(WebServer, APeerThatStopsReadingALargeFileLosesItsPlaceWithinTheTimeOut) {
    start("max_visitors 1\n");
    constexpr size_t kSize = 16 * 1024 * 1024;
    page("huge.jpg", bytesOf(kSize));
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int small = 4096;  // set before connecting: the window is agreed in the handshake
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
    timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    const std::string request = "GET /huge.jpg HTTP/1.1\r\n\r\n";
    ASSERT_EQ(::send(fd, request.data(), request.size(), 0), ssize_t(request.size()));
    int64_t asked = monotonicMillis();

    int64_t freed = -1;  // when another visitor is served again
    while (monotonicMillis() - asked < 3 * WEB_TIMEOUT_MS) {
        Client probe(port);
        if (probe.get("/a.gif") == "GIF89a") {
            freed = monotonicMillis() - asked;
            break;
        }
        Thread::sleep(200);
    }
    ASSERT_GE(freed, 0) << "the stalled peer still held the only place after 15 s";
    EXPECT_GE(freed, WEB_TIMEOUT_MS - 500);  // a reader that is merely slow has its time
    EXPECT_LT(freed, WEB_TIMEOUT_MS + 2000);
    size_t received = 0;  // reading again, the peer finds the file cut off
    char buffer[65536];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof(buffer), 0)) > 0) received += size_t(n);
    EXPECT_TRUE(n == 0 || errno == ECONNRESET) << strerror(errno);
    EXPECT_LT(received, kSize);
    close(fd);
}

// Static files carry their change time and may be kept five minutes; asked again with that
// exact time they are not sent again. Everything else is never stored, whatever is asked.
TEST_F(WebServer, StaticFilesAreRevalidatedByLastModifiedAndOtherFilesNeverStored) {
    start();
    page("viewer/main.js", "export {};");
    page("overviews/de_kovi.bmp", "BM");
    const std::string kept = "Fri, 02 Jan 2026 03:04:05 GMT";
    for (const char* name : {"a.gif", "kovitv.jar", "viewer/main.js", "overviews/de_kovi.bmp",
                             "index.html", "style.css", "x.kdem", "sub/inner.html"}) {
        timeval times[2] = {{1767323045, 0}, {1767323045, 0}};
        ASSERT_EQ(utimes(dir.file(std::string("addons/kovitv/") + name).c_str(), times), 0);
    }
    Client c(port);
    std::string header, body;
    for (const char* path : {"/a.gif", "/kovitv.jar", "/viewer/main.js", "/overviews/de_kovi.bmp"}) {
        ASSERT_TRUE(c.send(std::string("GET ") + path + " HTTP/1.1\r\n\r\n"));
        ASSERT_TRUE(c.read(&header, &body)) << path;
        EXPECT_EQ(header.substr(0, 15), "HTTP/1.1 200 OK") << path;
        EXPECT_EQ(headerField(header, "Cache-Control"), "public, max-age=300") << path;
        EXPECT_EQ(headerField(header, "Last-Modified"), kept) << path;
        EXPECT_FALSE(body.empty()) << path;

        ASSERT_TRUE(c.send(std::string("GET ") + path + " HTTP/1.1\r\nHost: x\r\n"
                           "if-modified-since: " + kept + "\r\n\r\n"));
        ASSERT_TRUE(c.read(&header, &body)) << path;
        EXPECT_EQ(withoutDate(header), "HTTP/1.1 304 Not Modified\r\nDate: D\r\n"
                                       "Cache-Control: public, max-age=300\r\nLast-Modified: " +
                                       kept + "\r\nServer: Kovi TV\r\nConnection: Keep-Alive\r\n\r\n")
            << path;
        // Any other time, an earlier one too, gets the whole file: only the exact text matches.
        ASSERT_TRUE(c.send(std::string("GET ") + path + " HTTP/1.1\n"
                           "If-Modified-Since: Thu, 01 Jan 2026 03:04:05 GMT\n\n"));
        ASSERT_TRUE(c.read(&header, &body)) << path;
        EXPECT_EQ(header.substr(0, 15), "HTTP/1.1 200 OK") << path;
        EXPECT_FALSE(body.empty()) << path;
    }
    // A file replaced (a plugin update) gets its new time, and the old one no longer matches.
    page("a.gif", "GIF89b");
    ASSERT_TRUE(c.send("GET /a.gif HTTP/1.1\r\nIf-Modified-Since: " + kept + "\r\n\r\n"));
    ASSERT_TRUE(c.read(&header, &body));
    EXPECT_EQ(body, "GIF89b");
    EXPECT_NE(headerField(header, "Last-Modified"), kept);

    for (const char* path : {"/", "/index.html", "/style.css", "/x.kdem", "/sub/inner.html",
                             "/demos/", "/missing.gif"}) {
        ASSERT_TRUE(c.send(std::string("GET ") + path + " HTTP/1.1\r\nIf-Modified-Since: " + kept +
                           "\r\n\r\n"));
        ASSERT_TRUE(c.read(&header, &body)) << path;
        EXPECT_NE(header.substr(0, 12), "HTTP/1.1 304") << path;
        EXPECT_EQ(headerField(header, "Cache-Control"), "no-store, no-cache, must-revalidate") << path;
        EXPECT_EQ(headerField(header, "Last-Modified"), "(absent)") << path;
    }
    g_connmgr.m_max = 0;  // the too-many page is filled, and never stored either
    Client full(port);
    ASSERT_TRUE(full.send("GET / HTTP/1.1\r\nIf-Modified-Since: " + kept + "\r\n\r\n"));
    ASSERT_TRUE(full.read(&header, &body));
    g_connmgr.m_max = 20;
    EXPECT_EQ(body, "full:20|\n");  // max_spec, from the configuration
    EXPECT_EQ(headerField(header, "Cache-Control"), "no-store, no-cache, must-revalidate");
}

// Threads of this process named as visitors' are (what ps, top and the soak see).
int visitorThreads() {
    int count = 0;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (comm >> name && name == VISITOR_THREAD_NAME) ++count;
    }
    return error ? -1 : count;
}

// Threads answer requests, not connections: kept-alive connections between their requests
// hold none, a finished visitor takes the next request, and only answers that last (here
// requests still arriving) let more threads start, so they cannot hold the others up.
TEST_F(WebServer, VisitorsThreadsAnswerRequestsAndOnlyLastingAnswersAddThreads) {
    start();
    auto finish = [](Client& c) {
        c.endWriting();
        return c.closedWithoutAnswer();
    };
    for (int i = 0; i < 30; ++i) {
        Client c(port);
        ASSERT_EQ(c.get("/a.gif"), "GIF89a") << i;
        ASSERT_TRUE(finish(c)) << i;
    }
    EXPECT_LE(visitorThreads(), VISITORS_ANSWERING);

    std::vector<std::unique_ptr<Client>> kept;
    for (int i = 0; i < 20; ++i) {
        kept.push_back(std::make_unique<Client>(port));
        ASSERT_EQ(kept.back()->get("/a.gif"), "GIF89a");
    }
    for (int round = 0; round < 3; ++round)
        for (auto& c : kept) ASSERT_EQ(c->get("/?x"), filledIndex("x")) << round;
    EXPECT_LE(visitorThreads(), VISITORS_ANSWERING);

    // Each of these holds a visitor in its read for up to 5 s.
    std::vector<std::unique_ptr<Client>> unfinished;
    for (int i = 0; i < 4; ++i) {
        unfinished.push_back(std::make_unique<Client>(port));
        ASSERT_TRUE(unfinished.back()->send("GET /a.gif HTTP/1.1\r\n"));
        Thread::sleep(2 * VISITOR_BUSY_MS);
    }
    int64_t asked = monotonicMillis();
    for (auto& c : kept) ASSERT_EQ(c->get("/a.gif"), "GIF89a");
    EXPECT_LT(monotonicMillis() - asked, 2000);  // not behind the unfinished ones' 5 s
    EXPECT_GE(visitorThreads(), 5);
    for (auto& c : unfinished) ASSERT_TRUE(c->send("\r\n"));
    for (auto& c : unfinished) {
        std::string header, body;
        EXPECT_TRUE(c->read(&header, &body));
        EXPECT_EQ(body, "GIF89a");
    }

    kept.clear();
    unfinished.clear();
    g_tcp_thread.stop();
    EXPECT_EQ(visitorThreads(), 0);
}

// A visitor keeps its start page's template between requests: every change of the file shows
// at the next request, one of the same size within the same second too, and a removed file is
// missing again.
TEST_F(WebServer, TheStartPageFollowsEveryChangeOfItsFile) {
    start();
    Client c(port);
    EXPECT_EQ(c.get("/?a"), filledIndex("a"));
    EXPECT_EQ(c.get("/?b"), filledIndex("b"));
    page("index.html", "<p>$demo one</p>");
    EXPECT_EQ(c.get("/?c"), "<p>c one</p>");
    page("index.html", "<p>$demo two</p>");
    EXPECT_EQ(c.get("/?d"), "<p>d two</p>");
    ASSERT_EQ(std::remove(dir.file("addons/kovitv/index.html").c_str()), 0);
    std::string header, body;
    ASSERT_TRUE(c.send("GET /?e HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(c.read(&header, &body));
    EXPECT_EQ(header.substr(0, 22), "HTTP/1.1 404 Not Found");
    page("index.html", "<p>$demo three</p>");
    EXPECT_EQ(c.get("/?f"), "<p>f three</p>");
    g_connmgr.m_max = 0;  // a new connection without room: the other page, then this one again
    Client full(port);
    EXPECT_EQ(full.get("/?g"), "full:20|g\n");
    g_connmgr.m_max = 20;
    EXPECT_EQ(c.get("/?h"), "<p>h three</p>");
}

TEST_F(WebServer, OnlyTheRootIsFilledAndItsQueryIsTheDemo) {
    start();
    Client c(port);
    EXPECT_EQ(c.get("/?demos/010125/1200_de_kovi.kdem"),
              filledIndex("demos/010125/1200_de_kovi.kdem"));
    EXPECT_EQ(c.get("/index.html"), kIndex);
    EXPECT_EQ(c.get("/index.html?x"), kIndex);
}

TEST_F(WebServer, AtTheSpectatorLimitTheRootIsTheFilledTooManyPage) {
    start("max_spec 0\n");
    Client c(port);
    EXPECT_EQ(c.get("/?d.kdem"), "full:0|d.kdem\n");
    EXPECT_EQ(c.get("/index.html"), kIndex);
}

TEST_F(WebServer, AnIdleConnectionIsClosedAfterFiveSecondsAndItsPlaceFreed) {
    start("max_visitors 1\n");
    Client idle(port);
    int64_t opened = monotonicMillis();
    int refused_before = g_refused_visitors.load();
    Client second(port);  // accepted after the idle one, which holds the one place
    EXPECT_TRUE(second.closedWithoutAnswer());
    EXPECT_EQ(g_refused_visitors.load(), refused_before + 1);

    EXPECT_TRUE(idle.closedWithoutAnswer());
    int64_t idle_for = monotonicMillis() - opened;
    EXPECT_GE(idle_for, 4500);
    EXPECT_LT(idle_for, 8000);
    Client third(port);  // the finished visitor has been reaped
    EXPECT_EQ(third.get("/a.gif"), "GIF89a");
}

TEST_F(WebServer, BeyondTheVisitorLimitConnectionsCloseAtOnceAndEachBurstIsLoggedOnce) {
    start("max_visitors 2\n");
    auto first = std::make_unique<Client>(port);
    Client other(port);
    EXPECT_EQ(first->get("/a.gif"), "GIF89a");
    EXPECT_EQ(other.get("/a.gif"), "GIF89a");
    for (int i = 0; i < 3; ++i) {
        Client extra(port);
        EXPECT_TRUE(extra.closedWithoutAnswer());
        reportRefusedVisitors();  // the main thread's turn
    }
    const std::string line = "ERROR: AppletSender :: 2 web visitors at once, closing new connections";
    int logged = h->find(line);
    EXPECT_GE(logged, 0) << h->text();
    EXPECT_EQ(h->find(line, logged + 1), -1);

    first.reset();  // a place comes free: the burst is over
    std::unique_ptr<Client> admitted;
    EXPECT_TRUE(waitFor([&] {
        admitted = std::make_unique<Client>(port);
        return admitted->get("/a.gif") == "GIF89a";
    }));
    Client extra(port);
    EXPECT_TRUE(extra.closedWithoutAnswer());
    reportRefusedVisitors();
    EXPECT_GE(h->find(line, logged + 1), 0);
}

TEST_F(WebServer, ABrokenListeningSocketEndsTheServerAndItsVisitors) {
    start();
    Client c(port);
    EXPECT_EQ(c.get("/a.gif"), "GIF89a");
    shutdown(g_tcp_socket.m_fd, SHUT_RDWR);  // accept now fails
    EXPECT_TRUE(waitFor([] { return g_tcp_thread.finished(); }));
    EXPECT_TRUE(c.closedWithoutAnswer());
    // The thread has ended by itself; its flag still says running until the next stop.
    EXPECT_NE(h->runCommand("kovitv").find("Applet sender: running"), std::string::npos);
    h->runCommand("kovitv reload");
    Client again(port);
    EXPECT_EQ(again.get("/a.gif"), "GIF89a");
}

TEST_F(WebServer, ConcurrentTransientAcceptFailuresBackOffAndTheServerGoesOn) {
    start();
    for (int error : {EMFILE, ENFILE, ECONNABORTED}) {
        g_net_faults.accept_failures = 0;
        g_net_faults.accept_error = error;
        Client waiting(port);  // queued: the listening socket stays readable
        ASSERT_TRUE(waiting.connected());
        Thread::sleep(1200);
        int failures = g_net_faults.accept_failures.load();
        reportAcceptFailures();  // the main thread's turn
        g_net_faults.accept_error = 0;
        // 10, 20, 40 ... ms between tries: about 7 in 1.2 s; without a pause thousands.
        EXPECT_GE(failures, 3) << error;
        EXPECT_LE(failures, 12) << error;
        EXPECT_FALSE(g_tcp_thread.finished()) << error;
        EXPECT_EQ(waiting.get("/a.gif"), "GIF89a") << error;  // within the longest pause
        const std::string line = "ERROR: AppletSender :: Failed to accept a connection (system error " +
                                 std::to_string(error) + "), retrying";
        int logged = h->find(line);
        if (error == ECONNABORTED) {  // the peer's affair, not the admin's
            EXPECT_EQ(logged, -1) << h->text();
            continue;
        }
        EXPECT_GE(logged, 0) << h->text();
        EXPECT_EQ(h->find(line, logged + 1), -1);  // one line for the whole run of failures
    }
}

TEST_F(WebServer, TheDateHeaderFollowsAWallClockSetHoursAway) {
    start();
    Client c(port);
    for (int64_t offset : {-30 * 3600, 9 * 3600}) {
        g_net_faults.wall_clock_offset_s = offset;
        char before[64], after[64];
        ASSERT_TRUE(formatHttpDate(int64_t(time(nullptr)) + offset, before, sizeof before));
        std::string header, body;
        ASSERT_TRUE(c.send("GET /a.gif HTTP/1.1\r\n\r\n"));
        bool answered = c.read(&header, &body);
        ASSERT_TRUE(formatHttpDate(int64_t(time(nullptr)) + offset, after, sizeof after));
        g_net_faults.wall_clock_offset_s = 0;
        ASSERT_TRUE(answered);
        std::string date = headerField(header, "Date");
        EXPECT_TRUE(date == before || date == after) << date << " " << before;
    }
}

TEST_F(WebServer, TheShippedPagesLeaveNoPlaceholderUnfilled) {
    std::string source = KOVITV_SOURCE_DIR "/dist/addons/kovitv/";
    start();
    for (const char* name : {"index.html", "toomany.html"}) {
        std::ifstream in(source + name, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        ASSERT_FALSE(content.str().empty()) << name;
        page(name, content.str());
    }
    h->host().activateMap("de_kovi");  // sets hostname
    std::vector<std::string> pages;
    for (int limit : {20, 0}) {  // index.html, then toomany.html at the spectator limit
        g_connmgr.m_max = limit;
        Client c(port);
        pages.push_back(c.get("/"));
        pages.push_back(c.get("/?demos/010125/1200_de_kovi.kdem"));
    }
    g_connmgr.m_max = 20;
    for (const std::string& text : pages) {
        EXPECT_EQ(text.find('$'), std::string::npos) << text;
        EXPECT_NE(text.find("You are watching KOVI TV"), std::string::npos);
        EXPECT_NE(text.find(h->host().cvarString("hostname")), std::string::npos);
        EXPECT_NE(text.find("127.0.0.1:" + std::to_string(port)), std::string::npos);
    }
    EXPECT_NE(pages[0].find("UDP port <code>" + std::string(g_cfg.getString("udp_port"))),
              std::string::npos);
    EXPECT_NE(pages[0].find("width=\"1024\" height=\"768\""), std::string::npos);
    EXPECT_NE(pages[1].find("var demo = \"demos/010125/1200_de_kovi.kdem\""), std::string::npos);
    EXPECT_NE(pages[2].find("All 20 spectator places are taken"), std::string::npos);
    EXPECT_NE(pages[3].find("var demo = \"demos/010125/1200_de_kovi.kdem\""), std::string::npos);
}

// The stop of the applet server runs on the game's main thread: it must not wait for each
// visitor's read in turn.
TEST_F(WebServer, ConcurrentStopWithBusyAndIdleVisitorsHoldsTheMainThreadBriefly) {
    start();
    constexpr int kVisitors = 64;
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < kVisitors / 2; ++i) {
        idle.push_back(std::make_unique<Client>(port));
        ASSERT_EQ(idle.back()->get("/a.gif"), "GIF89a");  // accepted, now in its 5 s read
    }
    std::atomic<int> answered{0};
    std::atomic<int> closed{0};
    std::vector<std::thread> busy;
    for (int i = 0; i < kVisitors / 2; ++i) {
        busy.emplace_back([&] {
            Client c(port);
            while (c.get("/a.gif") == "GIF89a") {
                answered.fetch_add(1);
                Thread::sleep(1000);
            }
            closed.fetch_add(1);
        });
    }
    ASSERT_TRUE(waitFor([&] { return answered.load() >= kVisitors; }, 30000));

    int64_t before = monotonicMillis();
    g_tcp_thread.stop();
    int64_t held = monotonicMillis() - before;
    EXPECT_LT(held, 1000);
    for (std::thread& t : busy) t.join();
    EXPECT_EQ(closed.load(), kVisitors / 2);
    for (auto& c : idle) EXPECT_TRUE(c->closedWithoutAnswer());
    std::printf("stopping with %d visitors held the main thread %lld ms\n", kVisitors,
                static_cast<long long>(held));
}

TEST_F(WebServer, ConcurrentPagesAreFilledWhileTheMainThreadChangesValues) {
    start();
    page("index.html", "[$hostname]");
    g_cfg.set("hostname", "short");  // before the first page: an unknown key is left as it stands
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0};
    std::atomic<int> pages{0};
    std::thread reader([&] {
        Client c(port);
        while (!done.load()) {
            std::string body = c.get("/");
            if (body != "[short]" && body != "[" + std::string(200, 'L') + "]") wrong.fetch_add(1);
            pages.fetch_add(1);
        }
    });
    const std::string long_name(200, 'L');
    for (int i = 0; pages.load() < 200 && i < 200000; ++i) {
        g_cfg.set("hostname", i % 2 ? "short" : long_name.c_str());
        Thread::sleep(2);  // a text lives on until the key changes twice
    }
    done.store(true);
    reader.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GE(pages.load(), 200);
}
