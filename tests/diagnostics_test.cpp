// What the admin is told: every mistake of a configuration, a port or a folder gets one log line
// saying what is wrong and what is used instead; the start-up line and the status say what runs.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "net/net.h"
#include "host/config.h"
#include "net/globals.h"
#include "host/host.h"
#include "plugin/plugin.h"
#include "test_host.h"

namespace {

// Holds a TCP port on all interfaces, listening and without address reuse: nobody can bind it.
class TcpPortHolder {
public:
    explicit TcpPortHolder(int port) : m_fd(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        held = bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 && ::listen(m_fd, 1) == 0;
    }
    ~TcpPortHolder() { release(); }
    void release() {
        if (m_fd >= 0) close(m_fd);
        m_fd = -1;
    }
    bool held = false;

private:
    int m_fd;
};

// The HTTP status code of GET path, or "000" when nothing answered.
std::string httpStatus(int port, const std::string& path) {
    RunResult r = runProgram("curl -s -o /dev/null -m 5 -w '%{http_code}' http://127.0.0.1:" +
                             std::to_string(port) + path);
    return r.output;
}

std::string tcpPortOf(const SimOptions& options) {
    const std::string& a = options.cvars.at("net_address");
    return a.substr(a.find(':') + 1);
}

}  // namespace

TEST(Diagnostics, EveryMistakeIsToldOnceInTheLogWithWhatIsUsedInstead) {
    {
        SCOPED_TRACE("the configuration file");
        ScratchDir dir;
        SimOptions options = scratchOptions(dir);
        options.cvars["developer"] = "0";  // the start-up line is seen without developer 1
        dir.write("addons/kovitv/config.ini",
                  "udp_port 52001\n"
                  "delay 5\n"
                  "delay abc\n"
                  "dealy 60\n"
                  "foo bar\n"
                  "udp_port abc  # the system picks a port\n"
                  "record_demos yes\n"
                  "max_spec\n"
                  "  -3\n"
                  "delay 45\n"
                  "udp_port\n");
        InProcessHost h(options);
        ASSERT_TRUE(h.load());
        const std::string file = "ERROR: Meta_Attach :: addons/kovitv/config.ini line ";
        for (const char* expected : {
                 "2: delay \"5\" is not 30 to 300 seconds: 30 used",
                 "3: delay \"abc\" is not 30 to 300 seconds: 30 used",
                 "4: unknown key \"dealy\" (value \"60\"; did you mean delay?): ignored, kept "
                 "only as the start page's $dealy",
                 "5: unknown key \"foo\" (value \"bar\"): ignored, kept only as the start page's "
                 "$foo",
                 "6: udp_port \"abc\" is not a port (0 to 65535): 0 used, a port the system picks",
                 "7: record_demos \"yes\" is not on or off: off used",
                 // A value on the next line is still the key's, as it always was.
                 "8: max_spec \"-3\" (the value is on line 9) is not a number of 0 or more: -3 used",
                 "11: udp_port has no value: ignored, \"abc\" stays",
             })
            EXPECT_EQ(h.count(file + expected), 1) << expected << "\n" << h.text();
        // Exactly those: the sound lines (1, 10) and the comment are not mentioned.
        EXPECT_EQ(h.count(file), 8) << h.text();
        // What is used is what the store always made of the file.
        EXPECT_EQ(g_cfg.getInt("delay"), 45);
        EXPECT_EQ(g_cfg.getInt("record_demos"), 0);
        EXPECT_EQ(g_cfg.getInt("max_spec"), -3);
        EXPECT_STREQ(g_cfg.getString("udp_port"), "abc");
        EXPECT_STREQ(g_cfg.getString("foo"), "bar");
        EXPECT_STREQ(g_cfg.getString("dealy"), "60");
        // Port 0 is whatever the system gave: the start-up line and the status show that port.
        int udp = boundPort(g_udp_socket.m_fd);
        ASSERT_GT(udp, 0);
        std::string start_up = "[KOVITV] Kovi TV Beta 13: spectators on UDP port " +
                               std::to_string(udp) + ", web http://127.0.0.1:" +
                               tcpPortOf(options) +
                               "/, delay 45 s, recording off, at most -3 spectators";
        EXPECT_EQ(h.count(start_up), 1) << h.text();
        EXPECT_EQ(h.count(" dev: "), 0);
        std::string status = h.runCommand("kovitv");
        EXPECT_NE(status.find("UDP port: " + std::to_string(udp) + " (working)\n"), std::string::npos)
            << status;
    }
    {
        SCOPED_TRACE("net_address without a port, and no tcp_port");
        // Held here so that the plugin never takes the engine's port from a server running beside
        // the tests; whoever holds it, the plugin cannot bind it and says so.
        TcpPortHolder engine_port(27015);
        for (const char* net_address : {"localhost", "", "10.0.0.1:"}) {
            ScratchDir dir;
            SimOptions options = scratchOptions(dir);
            options.cvars["net_address"] = net_address;
            dir.write("addons/kovitv/config.ini", "udp_port 0\n");
            InProcessHost h(options);
            ASSERT_TRUE(h.load());
            EXPECT_EQ(g_cfg.getInt("tcp_port"), 27015) << net_address;
            EXPECT_EQ(h.count("[KOVITV] Meta_Attach :: net_address \"" + std::string(net_address) +
                                   "\" names no port and tcp_port is not set: the web server "
                                   "uses the engine's default port 27015"),
                      1)
                << h.text();
        }
        // A port from the file is kept, even 0 (the system's choice), and nothing is said.
        ScratchDir dir;
        SimOptions options = scratchOptions(dir);
        options.cvars["net_address"] = "localhost";
        dir.write("addons/kovitv/config.ini", "udp_port 0\ntcp_port 0\n");
        InProcessHost h(options);
        ASSERT_TRUE(h.load());
        EXPECT_EQ(g_cfg.getInt("tcp_port"), 0);
        EXPECT_EQ(h.count("names no port"), 0);
        EXPECT_GT(boundPort(g_tcp_socket.m_fd), 0);
    }
    {
        SCOPED_TRACE("a demo folder that cannot be made");
        ScratchDir dir;
        SimOptions options = scratchOptions(dir);
        dir.write("addons/kovitv/config.ini", "udp_port 0\ndir addons/missing\nrecord_demos on\n");
        InProcessHost h(options);
        ASSERT_TRUE(h.load());
        std::string folder = dir.file("addons/missing/demos");
        EXPECT_EQ(h.count("ERROR: Failed to create folder for demos \"" + folder +
                               "\" (No such file or directory)"),
                  1)
            << h.text();
        h.host().activateMap("de_kovi");
        EXPECT_EQ(h.count("ERROR: ServerActivate_Post :: Failed to start demo record: cannot "
                           "create \"" + folder + "\" (No such file or directory)"),
                  1)
            << h.text();
        std::string status = h.runCommand("kovitv");
        EXPECT_NE(status.find("Demo recording: enabled, failing: No such file or directory\n"),
                  std::string::npos)
            << status;
        // Mended: the next map records, and the status says so.
        dir.write("addons/missing/keep", "");
        h.host().deactivateMap();
        h.host().activateMap("de_kovi");
        EXPECT_EQ(h.count("Failed to start demo record"), 1);
        EXPECT_NE(h.runCommand("kovitv").find("Demo recording: enabled\n"), std::string::npos);
    }
    {
        SCOPED_TRACE("a start page that is missing");
        ScratchDir dir;
        SimOptions options = scratchOptions(dir);
        dir.write("addons/kovitv/config.ini", "udp_port 0\n");
        dir.write("addons/kovitv/style.css", "p {}");
        InProcessHost h(options);
        ASSERT_TRUE(h.load());
        h.host().activateMap("de_kovi");
        int port = std::stoi(tcpPortOf(options));
        const std::string told = "ERROR: AppletSender :: Start page \"" +
                                 dir.file("addons/kovitv/index.html") +
                                 "\" cannot be opened: web visitors get 404 Not Found";
        EXPECT_EQ(httpStatus(port, "/style.css"), "200");
        EXPECT_EQ(httpStatus(port, "/nothing.html"), "404");
        for (int i = 0; i < 5; ++i) h.host().runFrame();
        EXPECT_EQ(h.count("Start page"), 0) << "another missing file is the visitor's affair";
        EXPECT_EQ(httpStatus(port, "/"), "404");
        EXPECT_EQ(httpStatus(port, "/?x"), "404");
        EXPECT_TRUE(runFramesUntil(h, [&] { return h.count(told) > 0; }, 5000)) << h.text();
        for (int i = 0; i < 5; ++i) h.host().runFrame();
        EXPECT_EQ(h.count(told), 1) << "once per map";
        h.host().deactivateMap();
        h.host().activateMap("de_other");
        EXPECT_EQ(httpStatus(port, "/"), "404");
        EXPECT_TRUE(runFramesUntil(h, [&] { return h.count(told) == 2; }, 5000)) << h.text();
    }
    {
        SCOPED_TRACE("a web port another program holds");
        ScratchDir dir;
        SimOptions options = scratchOptions(dir);
        dir.write("addons/kovitv/config.ini", "udp_port 0\n");
        std::string port = tcpPortOf(options);
        TcpPortHolder holder(std::stoi(port));
        ASSERT_TRUE(holder.held);
        InProcessHost h(options);
        ASSERT_TRUE(h.load());
        h.host().activateMap("de_kovi");
        const std::string failed = "ERROR: Failed to open TCP socket on 0.0.0.0:" + port +
                                   ": the port is in use, trying again every 10 s";
        EXPECT_EQ(h.count(failed), 1) << h.text();
        EXPECT_EQ(h.count("web not working (port " + port + " in use, retrying)"), 1);
        std::string status = h.runCommand("kovitv");
        EXPECT_NE(status.find("TCP port: " + port + " not working (port " + port +
                              " in use, retrying)\n"),
                  std::string::npos)
            << status;
        // Still held at the first retry: nothing more is logged.
        runFramesUntil(h, [] { return false; }, WEB_PORT_RETRY_MS + 500);
        EXPECT_EQ(h.count("Failed to open TCP socket"), 1) << h.text();
        EXPECT_FALSE(g_tcp_thread.running());
        holder.release();
        const std::string free_now =
            "[KOVITV] AppletSender :: TCP port " + port + " is free now: the web server listens";
        EXPECT_TRUE(runFramesUntil(h, [&] { return h.count(free_now) > 0; },
                                   WEB_PORT_RETRY_MS + 3000))
            << h.text();
        EXPECT_TRUE(g_tcp_thread.running());
        EXPECT_NE(h.runCommand("kovitv").find("TCP port: " + port + " (working)\n"),
                  std::string::npos);
        EXPECT_EQ(httpStatus(std::stoi(port), "/nothing.html"), "404");  // it answers
        for (int i = 0; i < 5; ++i) h.host().runFrame();
        EXPECT_EQ(h.count(free_now), 1);
    }
}
