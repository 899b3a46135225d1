// Test fixtures: a scratch game folder, and simhost driving the plugin in-process (the same
// entry points the shared library exports, linked statically).
#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "simhost.h"

// A fresh folder under /tmp, removed with everything in it when the object dies.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::string& path() const { return m_path; }
    std::string file(const std::string& relative) const { return m_path + "/" + relative; }
    // Writes a file (creating its folders); returns its full path.
    std::string write(const std::string& relative, const std::string& content) const;

private:
    std::string m_path;
};

// simhost with the plugin linked into the test, its output collected line by line.
class InProcessHost {
public:
    explicit InProcessHost(SimOptions options);
    ~InProcessHost();  // shuts down and detaches if still attached

    bool load();
    SimHost& host() { return m_host; }
    const std::vector<std::string>& lines() const { return m_lines; }
    std::string text() const;  // all output joined
    // Index of the first line at or after `from` containing `needle`, or -1.
    int find(const std::string& needle, int from = 0) const;
    int count(const std::string& needle) const;  // lines containing needle
    std::string runCommand(const std::string& line);  // output of that one command

private:
    SimHost m_host;
    std::vector<std::string> m_lines;
    std::string m_partial;
};

// Runs frames, real time passing between them, until condition() holds (true) or limit_ms is
// over (false): for what the plugin's threads or the clock bring about.
template <typename Condition>
bool runFramesUntil(InProcessHost& h, Condition condition, int limit_ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        h.host().runFrame();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Options for a host whose game folder is `dir`, with sockets on ports the OS picks.
SimOptions scratchOptions(const ScratchDir& dir);

// Output of a program run to completion (stdout and stderr), and its exit status.
struct RunResult {
    int status = -1;
    std::string output;
};
RunResult runProgram(const std::string& command_line);

// A TCP and a UDP port that were free a moment ago.
int freeTcpPort();
int freeUdpPort();
