// The shipped library under the simhost program, as Metamod would load it: attach, frames, a map
// change, console commands and shutdown.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_host.h"

namespace {

std::string quoted(const std::string& s) { return "'" + s + "'"; }

size_t posOf(const std::string& out, const std::string& needle, size_t from = 0) {
    return out.find(needle, from);
}

}  // namespace

TEST(SimhostRun, TheBuiltLibraryAttachesRunsAndShutsDownCleanly) {
    ScratchDir dir;
    dir.write("addons/kovitv/config.ini", "udp_port " + std::to_string(freeUdpPort()) + "\n");
    for (const char* map : {"de_first", "de_second"})  // a map without one logs an error
        dir.write(std::string("addons/kovitv/overviews/") + map + ".txt",
                  "global\n{\n\tZOOM 1.0\n\tORIGIN 0 0 0\n\tROTATED 0\n}\n");
    std::string cmd = std::string(KOVITV_SIMHOST) + " --plugin " + quoted(KOVITV_PLUGIN) +
                      " --game " + quoted(dir.path()) + " --cvar net_address=127.0.0.1:" +
                      std::to_string(freeTcpPort()) +
                      " --speed 0 --duration 4 --no-stdin --map de_first --exec kovitv"
                      " --exec '@1.5 changelevel de_second' --exec '@2 kovitv delay 45'"
                      " --exec '@2.5 kovitv_version' --exec '@3 kovitv reload'";
    RunResult r = runProgram(cmd);
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string& out = r.output;
    size_t start = posOf(out, "[KOVITV] dev: Kovi TV initialization start");
    size_t end = posOf(out, "[KOVITV] dev: Kovi TV initialization end");
    size_t first = posOf(out, "simhost: map de_first running");
    size_t status = posOf(out, "Gameplay delayer: running");
    size_t second = posOf(out, "simhost: map de_second running");
    size_t delay = posOf(out, "Setting delay to 45 seconds.");
    size_t version = posOf(out, "\"kovitv_version\" is \"Beta 13 (0/20)\"");
    size_t reload = posOf(out, "Reload accomplished.");
    size_t shutdown = posOf(out, "GameShutdown :: End");
    size_t detached = posOf(out, "simhost: plugin detached");
    for (size_t p : {start, end, first, status, second, delay, version, reload, shutdown, detached})
        ASSERT_NE(p, std::string::npos) << out;
    EXPECT_LT(start, end);
    EXPECT_LT(end, first);
    EXPECT_LT(first, status);
    EXPECT_LT(status, second);
    EXPECT_LT(second, delay);
    EXPECT_LT(delay, version);
    EXPECT_LT(reload, shutdown);
    EXPECT_LT(shutdown, detached);
    EXPECT_EQ(out.find("ERROR"), std::string::npos) << out;
    EXPECT_EQ(out.find("didn't set meta_result"), std::string::npos) << out;
}

TEST(SimhostRun, HelpExplainsEveryOptionAndBadOptionsAreRefused) {
    RunResult help = runProgram(std::string(KOVITV_SIMHOST) + " --help");
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--plugin", "--game", "--map", "--map-time", "--duration", "--speed",
                               "--fps", "--max-clients", "--cvar", "--localinfo", "--exec",
                               "--no-stdin", "--show-messages"})
        EXPECT_NE(help.output.find(option), std::string::npos) << option;
    RunResult bad = runProgram(std::string(KOVITV_SIMHOST) + " --fps 0");
    EXPECT_EQ(bad.status, 2);
    RunResult missing = runProgram(std::string(KOVITV_SIMHOST) + " --plugin /nonexistent.so");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("cannot load"), std::string::npos);
}

// The admin's path: Metamod's plugins.ini names the library relative to the game folder, and
// only this platform's line counts.
TEST(SimhostRun, PluginsIniLoadsThisPlatformsLineAndExplainsAMissingOne) {
    ScratchDir dir;
    dir.write("addons/kovitv/config.ini", "udp_port " + std::to_string(freeUdpPort()) + "\n");
    const std::string plugin = KOVITV_PLUGIN;
    std::string copied = "addons/kovitv/" + plugin.substr(plugin.find_last_of("/\\") + 1);
    ASSERT_EQ(runProgram("cp " + quoted(plugin) + " " + quoted(dir.path() + "/" + copied)).status,
              0);
#ifdef _WIN32
    const char* other = "linux addons/kovitv/kovitv_mm_i386.so\n";
    const char* mine = "win32 ";
#else
    const char* other = "win32 addons/kovitv/kovitv_mm.dll\n";
    const char* mine = "linux ";
#endif
    std::string base = std::string(KOVITV_SIMHOST) + " --game " + quoted(dir.path()) +
                       " --cvar net_address=127.0.0.1:" + std::to_string(freeTcpPort()) +
                       " --speed 0 --duration 1 --no-stdin --players 0 --plugins-ini " +
                       quoted(dir.path() + "/addons/metamod/plugins.ini");

    dir.write("addons/metamod/plugins.ini", std::string("; other servers\n") + other);
    RunResult none = runProgram(base);
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.output.find("plugins.ini has no \"" + std::string(mine, strlen(mine) - 1)),
              std::string::npos) << none.output;

    dir.write("addons/metamod/plugins.ini",
              std::string("# ") + mine + "addons/nothing.so\n" + other + mine + copied + "\n");
    RunResult loaded = runProgram(base);
    EXPECT_EQ(loaded.status, 0) << loaded.output;
    EXPECT_NE(loaded.output.find("Kovi TV initialization end"), std::string::npos) << loaded.output;

    RunResult unreadable = runProgram(std::string(KOVITV_SIMHOST) + " --no-stdin --plugins-ini " +
                                      quoted(dir.path() + "/absent.ini"));
    EXPECT_EQ(unreadable.status, 1);
    EXPECT_NE(unreadable.output.find("cannot open"), std::string::npos) << unreadable.output;
}
