#include <gtest/gtest.h>

#include <string>

#include "broadcast/buffer.h"
#include "host/config.h"
#include "test_host.h"

namespace {

const char* kUsage =
    "Usage: kovitv <command> [argument]\n"
    "Commands:\n"
    "   delay seconds  - set delay in seconds\n"
    "   record on      - enable demo recording\n"
    "   record off     - disable demo recording\n"
    "   reload         - reload sockets and threads\n";

class Console : public ::testing::Test {
protected:
    ScratchDir dir;
    int udp_port = freeUdpPort();
    std::unique_ptr<InProcessHost> h;

    void SetUp() override {
        dir.write("addons/kovitv/config.ini", "udp_port " + std::to_string(udp_port) + "\n");
        h = std::make_unique<InProcessHost>(scratchOptions(dir));
        ASSERT_TRUE(h->load());
    }
    std::string run(const std::string& line) { return h->runCommand(line); }
    bool isUsage(const std::string& out) { return out.rfind(kUsage, 0) == 0; }
};

}  // namespace

TEST_F(Console, DelayInRangeIsTakenAndShownInTheStatus) {
    EXPECT_EQ(run("kovitv delay 45"), "Setting delay to 45 seconds.\n");
    EXPECT_EQ(g_cfg.getInt("delay"), 45);
    EXPECT_EQ(g_pck_buffer.m_delay, 90);  // the sender holds back the new delay at once
    EXPECT_NE(run("kovitv").find("Delay: 45 seconds\n"), std::string::npos);
}

TEST_F(Console, DelayOutOfRangeOrNotANumberBecomesThirty) {
    EXPECT_EQ(run("kovitv delay 10"),
              "Delay must be between 30 and 300 seconds.\nSetting delay to 30 seconds.\n");
    run("kovitv delay 300");
    EXPECT_EQ(g_cfg.getInt("delay"), 300);
    EXPECT_EQ(run("kovitv delay soon"),
              "Delay must be between 30 and 300 seconds.\nSetting delay to 30 seconds.\n");
    EXPECT_EQ(g_cfg.getInt("delay"), 30);
}

TEST_F(Console, MissingArgumentsAndUnknownWordsPrintUsageAndStatus) {
    run("kovitv delay 60");
    for (const char* line : {"kovitv", "kovitv delay", "kovitv record", "kovitv Delay 45",
                             "kovitv status"}) {
        std::string out = run(line);
        EXPECT_TRUE(isUsage(out)) << line << "\n" << out;
        EXPECT_NE(out.find("Delay: 60 seconds"), std::string::npos) << line;
    }
    EXPECT_EQ(g_cfg.getInt("delay"), 60);
}

TEST_F(Console, RecordSwitchesWithOnlyTheExactWordOffMeaningOff) {
    EXPECT_EQ(run("kovitv record on"),
              "Demo recording is enabled.\nSetting will take effect after a map change.\n");
    EXPECT_EQ(g_cfg.getInt("record_demos"), 1);
    EXPECT_EQ(run("kovitv record off"), "Demo recording is disabled.\n");
    EXPECT_EQ(g_cfg.getInt("record_demos"), 0);
    run("kovitv record OFF");
    EXPECT_EQ(g_cfg.getInt("record_demos"), 1);
}

TEST_F(Console, StatusReportListsEveryServiceExactly) {
    std::string out = run("kovitv");
    ASSERT_TRUE(isUsage(out));
    std::string status = out.substr(std::string(kUsage).size());
    std::string expected = "\nDemo recording: disabled\nDelay: 30 seconds\nUDP port: " +
                           std::to_string(udp_port) + " (working)\nTCP port: " +
                           std::to_string(g_cfg.getInt("tcp_port")) +
                           " (working)\nApplet sender: running\nGameplay sender: running\n"
                           "Gameplay delayer: not running\nMax. spectators: 20\n"
                           "Kovi TV dir: addons/kovitv\n";
    EXPECT_EQ(status, expected);
}

TEST_F(Console, ReloadReopensBothServices) {
    EXPECT_EQ(run("kovitv reload"), "Reload accomplished. Type \"kovitv\" for results.\n");
    std::string status = run("kovitv");
    EXPECT_NE(status.find("UDP port: " + std::to_string(udp_port) + " (working)"), std::string::npos)
        << status;
    EXPECT_NE(status.find("Applet sender: running"), std::string::npos);
    EXPECT_NE(status.find("Gameplay sender: running"), std::string::npos);
    EXPECT_EQ(h->find("ERROR"), -1) << h->text();
}
