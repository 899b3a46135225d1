// Demo files: folders and names, the record format, write failures, and reading them back.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

#include "demo/demo.h"
#include "net/faults.h"
#include "pipeline_helpers.h"
#include "stream/chunks.h"
#include "stream/packet.h"
#include "test_host.h"

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string localNow(const char* format, int64_t offset_s = 0) {
    time_t now = time(nullptr) + static_cast<time_t>(offset_s);
    char text[32];
    strftime(text, sizeof(text), format, localtime(&now));
    return text;
}

PacketManager& heartbeat(PacketManager& m) {
    m.addChunk(HBeatPacketChunk(2, 0, 0));
    return m;
}

class Demo : public ::testing::Test {
protected:
    ScratchDir dir;
    DemoRecorder demo;
    void SetUp() override { ASSERT_EQ(demo.init(dir.path().c_str()), 0); }
};

}  // namespace

TEST_F(Demo, FilesGoIntoADatedFolderNamedByStartTimeAndMap) {
    struct stat st;
    EXPECT_EQ(stat(dir.file("demos").c_str(), &st), 0);
    EXPECT_EQ(demo.init(dir.path().c_str()), 0);  // an existing folder is fine
    std::string before = localNow("%H%M");
    ASSERT_EQ(demo.start("de_kovi"), 0);
    std::string after = localNow("%H%M");
    std::string path = demo.path();
    std::string folder = dir.file("demos/" + localNow("%m%d%y") + "/");
    EXPECT_TRUE(path == folder + before + "_de_kovi.kdem" || path == folder + after + "_de_kovi.kdem")
        << path;
    EXPECT_TRUE(demo.recording());
    fflush(demo.m_file);
    EXPECT_EQ(slurp(path), "\x02");  // only the format byte until the first snapshot

    PacketManager m;
    EXPECT_EQ(demo.write(&heartbeat(m)), 0);
    demo.close();
    EXPECT_FALSE(demo.recording());
    EXPECT_EQ(slurp(path), std::string("\x02\x01\x00\x06\x6d\x6d\x4b\x6f\x6d\x6d", 10));
}

TEST_F(Demo, NamesFollowTheWallClockWhenItIsSetHoursAwayEitherWay) {
    for (int64_t offset : {-30 * 3600, 9 * 3600}) {
        g_net_faults.wall_clock_offset_s = offset;
        std::string before = localNow("%m%d%y/%H%M", offset);
        int started = demo.start("de_kovi");
        std::string after = localNow("%m%d%y/%H%M", offset);
        g_net_faults.wall_clock_offset_s = 0;
        ASSERT_EQ(started, 0);
        std::string path = demo.path();
        EXPECT_TRUE(path == dir.file("demos/" + before + "_de_kovi.kdem") ||
                    path == dir.file("demos/" + after + "_de_kovi.kdem"))
            << path;
        demo.close();
    }
}

TEST_F(Demo, FoldersThatCannotBeMadeFailTheStart) {
    DemoRecorder nowhere;
    EXPECT_EQ(nowhere.init(dir.file("missing/plugin").c_str()), -1);
    EXPECT_EQ(nowhere.start("de_kovi"), -1);
    EXPECT_FALSE(nowhere.recording());
    EXPECT_EQ(demo.start("sub/de_kovi"), -2);  // the date folder exists, the file cannot
    EXPECT_FALSE(demo.recording());
}

TEST_F(Demo, ARecordNeverClaimsMorePacketsThanItsCountByteCanSay) {
    ASSERT_EQ(demo.start("de_big"), 0);
    PacketManager m;
    for (int i = 0; i < 300; i++) {
        m.addChunk(ChatPacketChunk(0, 1, std::string(250, 'x').c_str()));
        m.addChunk(ChatPacketChunk(0, 1, std::string(250, 'y').c_str()));
    }
    ASSERT_GT(m.count(), 255);
    demo.write(&m);
    PacketManager small;
    demo.write(&heartbeat(small));
    demo.close();
    int records = 0;
    EXPECT_EQ(readDemo(demo.path(), &records), -1);
    EXPECT_EQ(records, 2);
    EXPECT_EQ(static_cast<unsigned char>(slurp(demo.path())[1]), 255);
}

TEST_F(Demo, AShortWriteCutsTheFileBackToItsLastWholeRecordAndCloses) {
    ASSERT_EQ(demo.start("de_full"), 0);
    PacketManager m;
    heartbeat(m);
    ASSERT_EQ(demo.write(&m), 0);
    g_net_faults.demo_short_write = true;
    int result = demo.write(&m);
    g_net_faults.demo_short_write = false;
    EXPECT_EQ(result, -1);
    EXPECT_FALSE(demo.recording());
    EXPECT_TRUE(demo.failed());
    EXPECT_FALSE(demo.failed());  // reported once
    EXPECT_EQ(demo.write(&m), 0);  // closed: nothing more is written
    EXPECT_EQ(slurp(demo.path()).size(), 1u + 1 + 2 + 6);
    int records = 0;
    EXPECT_EQ(readDemo(demo.path(), &records), -1);
    EXPECT_EQ(records, 1);
}

TEST_F(Demo, ACloseAskedWithoutTheLockEndsTheFileBeforeItsNextRecord) {
    PacketManager m;
    heartbeat(m);
    demo.requestClose();  // left from the last map: a new file forgets it
    ASSERT_EQ(demo.start("de_one"), 0);
    ASSERT_EQ(demo.write(&m), 0);
    demo.requestClose();
    EXPECT_TRUE(demo.recording());  // until the encoder's next record
    EXPECT_EQ(demo.write(&m), 0);
    EXPECT_FALSE(demo.recording());
    EXPECT_FALSE(demo.failed());  // a close asked for is no failure
    int records = 0;
    EXPECT_EQ(readDemo(demo.path(), &records), -1);
    EXPECT_EQ(records, 1);
}

TEST(DemoReading, FaultsAreFoundWithTheirOffsets) {
    ScratchDir dir;
    std::string good("\x02\x01\x00\x06\x6d\x6d\x4b\x6f\x6d\x6d", 10);
    struct Case {
        std::string bytes;
        long offset;
        int records;
    } cases[] = {
        {good, -1, 1},
        {"", 0, 0},                                   // no format byte
        {"\x03" + good.substr(1), 0, 0},              // another format
        {good + good.substr(1, 5), 10, 1},            // the second record cut short
        {good + std::string("\x00", 1), 10, 1},       // a record of no packets
        {good + std::string("\x01\x02\x58", 3), 11, 1},  // a length of 600
    };
    for (const Case& c : cases) {
        int records = -1;
        EXPECT_EQ(readDemo(dir.write("case.kdem", c.bytes), &records), c.offset) << c.bytes.size();
        EXPECT_EQ(records, c.records) << c.bytes.size();
    }

    // Chunks: an unknown header byte, and a chunk running past its packet.
    for (auto [data, at] : {std::pair<std::string, int>{std::string("\0\0\x26\x02\0\0\x25", 7), 6},
                            {std::string("\0\0\x26\x02\0\0\x21\x01", 8), 6}}) {
        Packet p;
        p.reset();
        memcpy(p.m_data, data.data(), data.size());
        p.m_length = static_cast<int>(data.size());
        ChunkReader reader(nullptr);
        ChunkWalk walk(reader, p);
        EXPECT_NE(walk.next(), nullptr);
        EXPECT_EQ(walk.m_fault_at, -1);
        EXPECT_EQ(walk.next(), nullptr);
        EXPECT_EQ(walk.m_fault_at, at) << walk.m_fault;
    }
}
