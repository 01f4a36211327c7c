// tests/dc/lz4/lz4_frame_test.cpp - the kel tool's lz4 format against the lz4 tool, both ways. (Frames themselves
// are tested on libkelstream in tests/stream/kelstream_lz4_test.cpp.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes sample() {
    Bytes s = kel::test::readCorpusFile("html_x_4");
    const Bytes j = kel::test::readCorpusFile("fireworks.jpeg");
    s.insert(s.end(), j.begin(), j.end());
    const Bytes t = kel::test::readCorpusFile("alice29.txt");
    s.insert(s.end(), t.begin(), t.end());
    return s;
}

// ---- the command-line tools ------------------------------------------------------------------------------------

bool haveLz4Tool() {
    return std::system("lz4 --version >/dev/null 2>&1") == 0;
}

#define REQUIRE_LZ4_TOOL()                                                     \
    do {                                                                       \
        if (!haveLz4Tool()) {                                                  \
            if (std::getenv("CI")) FAIL() << "the lz4 tool is required in CI"; \
            GTEST_SKIP() << "lz4 tool not installed";                          \
        }                                                                      \
    } while (0)

class Lz4Tools : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ =
            std::filesystem::temp_directory_path() / ("kel_lz4_" + std::to_string(getpid()) + "_" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    static void save(const std::string& p, const Bytes& b) {
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    }
    static Bytes load(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static int run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

    std::filesystem::path dir_;
};

// `kel c -f lz4` output restored by `lz4 -d`, and `lz4` output restored by `kel d`.
TEST_F(Lz4Tools, KelToolInteroperatesWithLz4Tool) {
    REQUIRE_LZ4_TOOL();
    const std::string kel = KEL_TOOL;
    const Bytes src = sample();
    for (const char* flags : {"", "--linked", "--hc -l 4", "--hc -l 9 --linked"}) {
        save(path("a"), src);
        ASSERT_EQ(run(kel + " c -f lz4 " + flags + " " + path("a")), 0) << flags;
        ASSERT_EQ(run("lz4 -d -f -q " + path("a.lz4") + " " + path("a.out")), 0) << flags;
        EXPECT_TRUE(load(path("a.out")) == src) << flags;
        std::filesystem::remove(path("a.lz4"));
    }
    for (const char* flags : {"-1", "-9 -BD -B4"}) {
        save(path("b"), src);
        ASSERT_EQ(run(std::string("lz4 -f -q --rm ") + flags + " " + path("b") + " " + path("b.lz4")), 0) << flags;
        ASSERT_EQ(run(kel + " d " + path("b.lz4")), 0) << flags;
        EXPECT_TRUE(load(path("b")) == src) << flags;
    }
}

}  // namespace
