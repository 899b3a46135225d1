#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <sys/stat.h>

#include "broadcast/buffer.h"
#include "broadcast/sender.h"
#include "host/config.h"
#include "host/host.h"
#include "net/faults.h"
#include "net/globals.h"
#include "net/net.h"
#include "plugin/plugin.h"
#include "state/state.h"
#include "test_host.h"

namespace {

// A socket holding a port on all interfaces, without address reuse, so the plugin cannot bind it.
class PortBlocker {
public:
    PortBlocker(int type, int port) : m_fd(socket(AF_INET, type, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(uint16_t(port));
        bound = bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
        if (type == SOCK_STREAM) ::listen(m_fd, 1);
    }
    ~PortBlocker() { close(m_fd); }
    bool bound = false;

private:
    int m_fd;
};

class Attach : public ::testing::Test {
protected:
    ScratchDir dir;
    SimOptions options = scratchOptions(dir);
    int udp_port = freeUdpPort();

    void SetUp() override { writeConfig(""); }
    void writeConfig(const std::string& extra) {
        dir.write("addons/kovitv/config.ini", "udp_port " + std::to_string(udp_port) + "\n" + extra);
    }
    int tcpPort() const {
        const std::string& a = options.cvars.at("net_address");
        return atoi(a.c_str() + a.find(':') + 1);
    }
};

}  // namespace

TEST_F(Attach, StartUpReportsInOrderAndSetsTheVersionVariable) {
    InProcessHost h(options);
    ASSERT_TRUE(h.load());
    int start = h.find("[KOVITV] dev: Kovi TV initialization start");
    int end = h.find("[KOVITV] dev: Kovi TV initialization end");
    ASSERT_GE(start, 0) << h.text();
    EXPECT_GT(end, start);
    EXPECT_EQ(h.find("ERROR"), -1) << h.text();
    EXPECT_EQ(h.host().cvarString("kovitv_version"), "Beta 13 (0/20)");
    EXPECT_TRUE(g_tcp_thread.running());
    EXPECT_TRUE(g_udp_thread.running());
    EXPECT_FALSE(g_delay_thread.running());
    EXPECT_EQ(h.host().hookWarnings(), 0);
    EXPECT_EQ(g_statemgr.m_last, 15);
    EXPECT_EQ(l_statemgr.m_last, 0);
    EXPECT_TRUE(l_statemgr.allocated());
    EXPECT_EQ(g_pck_buffer.m_delay, 60);
    struct stat st;
    EXPECT_EQ(stat(dir.file("addons/kovitv/demos").c_str(), &st), 0);
}

TEST_F(Attach, APluginFolderThatDoesNotExistOnlyCostsTheDemos) {
    writeConfig("dir addons/missing\nrecord_demos on\n");
    InProcessHost h(options);
    ASSERT_TRUE(h.load());
    EXPECT_GE(h.find("ERROR: Failed to create folder for demos"), 0) << h.text();
    h.host().activateMap("de_kovi");
    EXPECT_GE(h.find("ServerActivate_Post :: Failed to start demo record"), 0);
    EXPECT_TRUE(g_delay_thread.running());
}

TEST_F(Attach, WithoutAConfigFileDefaultsApplyAndTcpUsesTheServerPort) {
    std::remove(dir.file("addons/kovitv/config.ini").c_str());
    PortBlocker default_udp(SOCK_DGRAM, 52001);  // keep the default port away from other runs
    InProcessHost h(options);
    ASSERT_TRUE(h.load());
    EXPECT_GE(h.find("ERROR: Meta_Attach :: Failed reading \"addons/kovitv/config.ini\" config file"), 0);
    EXPECT_GT(h.find("Kovi TV initialization end"), 0);
    EXPECT_EQ(h.host().cvarString("kovitv_version"), "Beta 13 (0/20)");
    std::string status = h.runCommand("kovitv");
    EXPECT_NE(status.find("TCP port: " + std::to_string(tcpPort()) + " (working)"), std::string::npos)
        << status;
}

TEST_F(Attach, ABusyUdpPortLeavesTheWebServerRunning) {
    PortBlocker blocker(SOCK_DGRAM, udp_port);
    ASSERT_TRUE(blocker.bound);
    InProcessHost h(options);
    ASSERT_TRUE(h.load());
    EXPECT_GE(h.find("ERROR: Failed to open UDP socket on 0.0.0.0:" + std::to_string(udp_port)), 0)
        << h.text();
    EXPECT_EQ(h.find("Failed to run PacketSender"), -1);
    EXPECT_FALSE(g_udp_thread.running());
    EXPECT_TRUE(g_tcp_thread.running());

    // Reload with the port still taken: the status shows exactly which half works.
    h.runCommand("kovitv reload");
    std::string status = h.runCommand("kovitv");
    EXPECT_NE(status.find("UDP port: " + std::to_string(udp_port) + " (not working)"),
              std::string::npos) << status;
    EXPECT_NE(status.find("(working)"), std::string::npos);
    EXPECT_NE(status.find("Applet sender: running"), std::string::npos);
    EXPECT_NE(status.find("Gameplay sender: not running"), std::string::npos);
}

TEST_F(Attach, ABusyTcpPortStartsNoAppletServer) {
    PortBlocker blocker(SOCK_STREAM, tcpPort());
    ASSERT_TRUE(blocker.bound);
    InProcessHost h(options);
    ASSERT_TRUE(h.load());
    EXPECT_GE(h.find("ERROR: Failed to open TCP socket on 0.0.0.0:" + std::to_string(tcpPort())), 0)
        << h.text();
    EXPECT_EQ(h.find("Failed to run AppletSender"), -1);
    EXPECT_FALSE(g_tcp_thread.running());
    EXPECT_FALSE(g_tcp_socket.valid());
    EXPECT_TRUE(g_udp_thread.running());
}

TEST_F(Attach, WithoutTheMutexNoThreadStartsButAttachSucceeds) {
    g_net_faults.mutex_init = true;  // the platform refuses to create the mutex
    InProcessHost h(options);
    bool loaded = h.load();
    g_net_faults.mutex_init = false;
    ASSERT_TRUE(loaded);
    int mutex = h.find("ERROR: Failed to init mutex");
    int applet = h.find("ERROR: Failed to run AppletSender");
    int sender = h.find("ERROR: Failed to run PacketSender");
    int end = h.find("Kovi TV initialization end");
    ASSERT_GE(mutex, 0) << h.text();
    EXPECT_GT(applet, mutex);
    EXPECT_GT(sender, applet);
    EXPECT_GT(end, sender);
    EXPECT_FALSE(g_tcp_thread.running());
    EXPECT_FALSE(g_udp_thread.running());
    h.host().activateMap("de_kovi");
    EXPECT_GE(h.find("ServerActivate_Post :: Failed to run PacketDelayer"), 0);
    EXPECT_FALSE(g_delay_thread.running());
}

TEST_F(Attach, MissingMetamodGlobalsOrTableFailTheAttach) {
    InProcessHost h(options);
    ASSERT_TRUE(h.load());
    META_FUNCTIONS table{};
    gamedll_funcs_t game{};
    EXPECT_EQ(Meta_Attach(PT_ANYTIME, &table, nullptr, &game), 0);
    EXPECT_GE(h.find("Meta_Attach called with null pMGlobals"), 0);
    EXPECT_EQ(table.pfnGetEntityAPI2, nullptr);
    EXPECT_EQ(Meta_Attach(PT_ANYTIME, nullptr, h.host().metaGlobals(), &game), 0);
    EXPECT_GE(h.find("Meta_Attach called with null pFunctionTable"), 0);
    plugin_info_t* info = nullptr;
    static mutil_funcs_t mutil;  // the plugin keeps the pointer: it must outlive the host
    mutil = *gpMetaUtilFuncs;
    EXPECT_EQ(Meta_Query("9:99", &info, &mutil), 1);  // any interface version is answered
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->ifvers, "5:10");
    EXPECT_STREQ(info->logtag, "KOVITV");
}

TEST_F(Attach, ShutdownTwiceOnlyReportsTheSecondTime) {
    InProcessHost h(options);
    ASSERT_TRUE(h.load());
    h.host().activateMap("de_kovi");
    h.host().runFor(1.0);
    h.host().shutdown();  // the engine's GameShutdown
    int first_end = h.find("GameShutdown :: End");
    ASSERT_GE(first_end, 0);
    EXPECT_FALSE(g_tcp_thread.running());
    EXPECT_LT(g_udp_socket.m_fd, 0);
    EXPECT_FALSE(g_mut1.m_valid);
    EXPECT_EQ(g_cfg.count(), 0);
    size_t before = h.lines().size();
    ASSERT_TRUE(h.host().unload());  // Meta_Detach runs it again
    std::vector<std::string> second(h.lines().begin() + long(before), h.lines().end());
    ASSERT_EQ(second.size(), 3u) << h.text();
    EXPECT_NE(second[0].find("GameShutdown :: Start"), std::string::npos);
    EXPECT_NE(second[1].find("GameShutdown :: End"), std::string::npos);
    EXPECT_EQ(second[2], "simhost: plugin detached");
}

TEST(TableRequests, RefuseNullTablesAndOtherVersions) {
    ScratchDir dir;
    InProcessHost h(scratchOptions(dir));
    dir.write("addons/kovitv/config.ini", "udp_port " + std::to_string(freeUdpPort()) + "\n");
    ASSERT_TRUE(h.load());

    DLL_FUNCTIONS dll{};
    int version = 139;
    EXPECT_EQ(GetEntityAPI2(&dll, &version), 0);
    EXPECT_EQ(version, 140);
    EXPECT_GE(h.find("GetEntityAPI2 version mismatch; requested=139 ours=140"), 0) << h.text();
    EXPECT_EQ(dll.pfnStartFrame, nullptr);
    version = 140;
    EXPECT_EQ(GetEntityAPI2(nullptr, &version), 0);
    EXPECT_GE(h.find("GetEntityAPI2 called with null pFunctionTable"), 0);

    version = 141;  // the post request reports with the same words
    EXPECT_EQ(GetEntityAPI2_Post(&dll, &version), 0);
    EXPECT_GE(h.find("GetEntityAPI2 version mismatch; requested=141 ours=140"), 0);

    enginefuncs_t eng{};
    version = 139;
    EXPECT_EQ(GetEngineFunctions_Post(&eng, &version), 0);
    EXPECT_EQ(version, 138);
    EXPECT_GE(h.find("GetEngineFunctions version mismatch; requested=139 ours=138"), 0);
    EXPECT_EQ(GetEngineFunctions(nullptr, &version), 0);
    EXPECT_GE(h.find("GetEngineFunctions called with null pengfuncsFromEngine"), 0);

    NEW_DLL_FUNCTIONS fresh{};
    version = 2;
    EXPECT_EQ(GetNewDLLFunctions(&fresh, &version), 0);
    EXPECT_EQ(version, 1);
    EXPECT_GE(h.find("ERROR: GetNewDLLFunctions version mismatch; requested=2 ours=1"), 0);
    EXPECT_EQ(GetNewDLLFunctions(nullptr, &version), 0);
    EXPECT_GE(h.find("ERROR: GetNewDLLFunctions called with null pNewFunctionTable"), 0);
}

TEST(TableRequests, HandOverExactlyTheHookedEntries) {
    auto countSet = [](const void* table, size_t size) {
        const void* const* p = static_cast<const void* const*>(table);
        int n = 0;
        for (size_t i = 0; i < size / sizeof(void*); ++i) n += p[i] != nullptr;
        return n;
    };
    ScratchDir dir;
    InProcessHost h(scratchOptions(dir));
    dir.write("addons/kovitv/config.ini", "udp_port " + std::to_string(freeUdpPort()) + "\n");
    ASSERT_TRUE(h.load());
    DLL_FUNCTIONS pre{}, post{};
    enginefuncs_t eng{}, eng_post{};
    NEW_DLL_FUNCTIONS fresh{};
    int v = 140;
    ASSERT_EQ(GetEntityAPI2(&pre, &v), 1);
    ASSERT_EQ(GetEntityAPI2_Post(&post, &v), 1);
    v = 138;
    ASSERT_EQ(GetEngineFunctions(&eng, &v), 1);
    ASSERT_EQ(GetEngineFunctions_Post(&eng_post, &v), 1);
    v = 1;
    ASSERT_EQ(GetNewDLLFunctions(&fresh, &v), 1);
    EXPECT_EQ(countSet(&pre, sizeof(pre)), 6);
    EXPECT_NE(pre.pfnPlayerPostThink, nullptr);
    EXPECT_EQ(countSet(&post, sizeof(post)), 3);
    EXPECT_NE(post.pfnServerActivate, nullptr);
    EXPECT_EQ(countSet(&eng, sizeof(eng)), 2);
    EXPECT_NE(eng.pfnEmitSound, nullptr);
    EXPECT_EQ(countSet(&eng_post, sizeof(eng_post)), 11);
    EXPECT_NE(eng_post.pfnWriteEntity, nullptr);
    EXPECT_EQ(countSet(&fresh, sizeof(fresh)), 1);
    EXPECT_NE(fresh.pfnGameShutdown, nullptr);
}
