// What the players are not told: the version variable changes with every spectator who comes or
// goes, and the engine announces each change of a logged server variable on every console.
#include <gtest/gtest.h>

#include <string>

#include "net/net.h"
#include "net/globals.h"
#include "host/host.h"
#include "test_host.h"

TEST(VersionVariable, SpectatorsComingAndGoingTellNeitherThePlayersNorTheLog) {
    ScratchDir dir;
    SimOptions options = scratchOptions(dir);
    int port = freeUdpPort();
    dir.write("addons/kovitv/config.ini", "udp_port " + std::to_string(port) + "\n");
    InProcessHost h(options);
    ASSERT_TRUE(h.load());
    EXPECT_EQ(h.host().m_cvars["kovitv_version"].flags,
              FCVAR_SERVER | FCVAR_SPONLY | FCVAR_UNLOGGED);
    h.host().activateMap("de_kovi");

    // The engine as simhost plays it: a logged server variable announces each new value.
    static cvar_t logged = {"kovitv_test_logged", "", FCVAR_SERVER, 0.0f, nullptr};
    g_engfuncs.pfnCVarRegister(&logged);
    g_engfuncs.pfnCVarSetString("kovitv_test_logged", "1");
    g_engfuncs.pfnCVarSetString("kovitv_test_logged", "1");  // no change, no announcement
    EXPECT_EQ(h.count("Server cvar \"kovitv_test_logged\" = \"1\""), 1) << h.text();
    EXPECT_EQ(h.count("simhost: to players: \"kovitv_test_logged\" changed to \"1\""), 1);

    // Two spectators come, then go silent until they are dropped.
    ASSERT_TRUE(g_udp_thread.running());
    DatagramSocket spectators[2];
    InetAddress server;
    server.setLoopback(port);
    char beat[6] = {0, 0, 38, 2, 0, 0};
    for (DatagramSocket& s : spectators) {
        InetAddress local;
        local.setLoopback(0);
        ASSERT_EQ(s.init(&local), 0);
    }
    auto version = [&] { return h.host().cvarString("kovitv_version"); };
    // The first spectator comes, then the second; both beat until both are counted.
    for (int joined : {1, 2}) {
        int64_t next_beat = 0;
        EXPECT_TRUE(runFramesUntil(h, [&] {
            if (monotonicMillis() >= next_beat) {
                for (int i = 0; i < joined; ++i) {
                    DatagramPacket out{&server, beat, sizeof beat, sizeof beat};
                    spectators[i].send(&out, 50);
                }
                next_beat = monotonicMillis() + 500;
            }
            return version() == "Beta 13 (" + std::to_string(joined) + "/20)";
        }, 5000)) << version();
    }
    EXPECT_TRUE(runFramesUntil(h, [&] { return version() == "Beta 13 (0/20)"; }, 10000))
        << version();
    for (DatagramSocket& s : spectators) s.stop();

    EXPECT_EQ(h.count("Server cvar \"kovitv_version\""), 0) << h.text();
    EXPECT_EQ(h.count("\"kovitv_version\" changed to"), 0) << h.text();
}
