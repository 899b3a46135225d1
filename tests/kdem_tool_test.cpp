// The kdem tool on good, cut and garbage files: what it says and the exit codes it gives.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "demo/demo.h"
#include "state/names.h"
#include "stream/chunks.h"
#include "stream/packet.h"
#include "test_host.h"

namespace {

class Kdem : public ::testing::Test {
protected:
    ScratchDir dir;
    std::string good;  // two records: the map, then a heartbeat

    void SetUp() override {
        DemoRecorder demo;
        ASSERT_EQ(demo.init(dir.path().c_str()), 0);
        ASSERT_EQ(demo.start("de_kovi"), 0);
        NamesCollection names;
        MapState map{static_cast<uint32_t>(names.put("de_kovi")), -832, 2464, 130, 1, 1};
        PacketManager first, second;
        first.addChunk(MapPacketChunk(&map, &names));
        first.addChunk(ChatPacketChunk(1, 3, "say \"hi\"\n"));
        second.addChunk(HBeatPacketChunk(2, 0, 0));
        demo.write(&first);
        demo.write(&second);
        good = demo.path();
        demo.close();
    }
    RunResult kdem(const std::string& args) { return runProgram(std::string(KOVITV_KDEM) + " " + args); }
    std::string copyCut(size_t keep) {
        std::string bytes;
        FILE* f = fopen(good.c_str(), "rb");
        char c;
        while (bytes.size() < keep && fread(&c, 1, 1, f) == 1) bytes += c;
        fclose(f);
        return dir.write("cut.kdem", bytes);
    }
};

}  // namespace

TEST_F(Kdem, AGoodFileIsSummedUpDumpedAndVerified) {
    RunResult info = kdem("info " + good);
    EXPECT_EQ(info.status, 0) << info.output;
    for (const char* line : {"format:    2\n", "records:   2\n", "packets:   2\n",
                             "game time: 1.0 s", "maps:      de_kovi\n"})
        EXPECT_NE(info.output.find(line), std::string::npos) << line << "\n" << info.output;

    RunResult dump = kdem("dump " + good);
    EXPECT_EQ(dump.status, 0);
    EXPECT_NE(dump.output.find("@6 map name=\"de_kovi\" zoom=130 rotated=1 x=-832 y=2464\n"),
              std::string::npos) << dump.output;
    EXPECT_NE(dump.output.find("chat kind=1 sender=3 text=\"say \\\"hi\\\"\\x0a\"\n"),
              std::string::npos) << dump.output;
    RunResult json = kdem("dump --json " + good);
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.output.rfind("{\"format\":2,\"records\":[{\"offset\":1,\"packets\":", 0), 0u)
        << json.output;
    EXPECT_NE(json.output.find("\"text\":\"say \\\"hi\\\"\\u000a\""), std::string::npos);
    EXPECT_NE(json.output.find("],\"fault\":null}\n"), std::string::npos);

    EXPECT_EQ(kdem("verify " + good).status, 0);
}

TEST_F(Kdem, ACutFileShowsWhatCameBeforeTheFaultAndFails) {
    std::string cut = copyCut(30);  // the second record's bytes are missing in part
    RunResult verify = kdem("verify " + cut);
    EXPECT_EQ(verify.status, 1);
    EXPECT_NE(verify.output.find("fault at offset 1:"), std::string::npos) << verify.output;
    RunResult info = kdem("info " + cut);
    EXPECT_EQ(info.status, 1);
    EXPECT_NE(info.output.find("records:   0\n"), std::string::npos) << info.output;

    RunResult json = kdem("dump --json " + copyCut(1));
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.output, "{\"format\":2,\"records\":[],\"fault\":null}\n");
}

TEST_F(Kdem, GarbageNeverCrashesIt) {
    std::mt19937 random(7);
    for (int round = 0; round < 8; round++) {
        std::string bytes(1 + random() % 4000, '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        if (round % 2) bytes[0] = DEMO_FORMAT;
        std::string path = dir.write("garbage.kdem", bytes);
        for (const char* command : {"verify ", "dump --json ", "info "}) {
            RunResult r = kdem(command + path);
            EXPECT_TRUE(r.status == 0 || r.status == 1) << command << r.status << r.output;
        }
    }
}

TEST_F(Kdem, UsageMistakesAndMissingFilesHaveTheirOwnExitCodes) {
    RunResult help = kdem("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("usage: kdem info FILE"), std::string::npos);
    EXPECT_EQ(kdem("").status, 2);
    EXPECT_EQ(kdem("show " + good).status, 2);
    EXPECT_EQ(kdem("info").status, 2);
    EXPECT_EQ(kdem("verify --json " + good).status, 2);
    RunResult missing = kdem("info " + dir.file("nothing.kdem"));
    EXPECT_EQ(missing.status, 3);
    EXPECT_NE(missing.output.find("cannot open"), std::string::npos);
}
