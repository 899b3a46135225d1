#include "test_host.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "host/host.h"
#include "plugin/plugin.h"

ScratchDir::ScratchDir() {
    char pattern[] = "/tmp/kovitv-test-XXXXXX";
    const char* made = mkdtemp(pattern);
    m_path = made ? made : "/tmp";
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    if (m_path != "/tmp") std::filesystem::remove_all(m_path, ignored);
}

std::string ScratchDir::write(const std::string& relative, const std::string& content) const {
    std::string full = file(relative);
    std::filesystem::create_directories(std::filesystem::path(full).parent_path());
    std::ofstream out(full, std::ios::binary);
    out << content;
    return full;
}

InProcessHost::InProcessHost(SimOptions options) : m_host(options) {
    m_host.output = [this](const std::string& text) {
        m_partial += text;
        size_t end;
        while ((end = m_partial.find('\n')) != std::string::npos) {
            m_lines.push_back(m_partial.substr(0, end));
            m_partial.erase(0, end + 1);
        }
    };
}

InProcessHost::~InProcessHost() {
    if (m_host.attached()) {
        m_host.shutdown();
        m_host.unload();
    }
    // The plugin's pointer into this host's globals must not outlive them: a later test's
    // thread reading maxClients would read freed memory.
    gpGlobals = nullptr;
    g_max_clients = -1;
}

bool InProcessHost::load() {
    PluginEntryPoints entry;
    entry.giveFnptrs = GiveFnptrsToDll;
    entry.query = Meta_Query;
    entry.attach = Meta_Attach;
    entry.detach = Meta_Detach;
    return m_host.load(entry);
}

std::string InProcessHost::text() const {
    std::string all;
    for (const std::string& line : m_lines) all += line + "\n";
    return all + m_partial;
}

int InProcessHost::find(const std::string& needle, int from) const {
    for (int i = from < 0 ? 0 : from; i < int(m_lines.size()); ++i)
        if (m_lines[size_t(i)].find(needle) != std::string::npos) return i;
    return -1;
}

int InProcessHost::count(const std::string& needle) const {
    int n = 0;
    for (const std::string& line : m_lines) n += line.find(needle) != std::string::npos;
    return n;
}

std::string InProcessHost::runCommand(const std::string& line) {
    size_t before = m_lines.size();
    m_host.command(line);
    std::string out;
    for (size_t i = before; i < m_lines.size(); ++i) out += m_lines[i] + "\n";
    return out;
}

SimOptions scratchOptions(const ScratchDir& dir) {
    SimOptions options;
    options.gamedir = dir.path();
    options.speed = 0.0;
    options.cvars["net_address"] = "127.0.0.1:" + std::to_string(freeTcpPort());
    return options;
}

RunResult runProgram(const std::string& command_line) {
    RunResult result;
    FILE* pipe = popen((command_line + " 2>&1").c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) result.output.append(buffer, n);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

namespace {
int freePort(int type) {
    int fd = socket(AF_INET, type, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(a);
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    if (fd >= 0) close(fd);
    return port;
}
}  // namespace

int freeTcpPort() { return freePort(SOCK_STREAM); }
int freeUdpPort() { return freePort(SOCK_DGRAM); }
