// Differences applied inside the process: made by the real xdelta3 program with each of its
// encodings, the result must be the target byte for byte; a damaged difference, or one made
// for another source, must fail and never pass for a result.

#include "ctr/Delta.h"
#include "CtrTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace ctr_test;

namespace {

#if defined(_WIN32)
const char* const kXdelta = "xdelta.exe";
#else
const char* const kXdelta = "xdelta";
#endif

// A source and a target made of its pieces in another order, a changed stretch and new bytes,
// so that the copies reach back and forth over many source blocks.
struct TPair {
    std::vector<std::uint8_t> Source;
    std::vector<std::uint8_t> Target;
};

TPair MakePair() {
    TPair pair;
    pair.Source = CodeLikeBytes(5u << 20, 7);
    constexpr std::size_t piece = 192u << 10;
    const std::size_t pieces = pair.Source.size() / piece;
    for (std::size_t i = 0; i < pieces; ++i) {
        const std::size_t from = ((i * 7) % pieces) * piece;
        pair.Target.insert(pair.Target.end(), pair.Source.begin() + from,
                           pair.Source.begin() + from + piece);
        if (i % 5 == 0) {
            const auto noise = NoiseBytes(4096, static_cast<std::uint32_t>(i));
            pair.Target.insert(pair.Target.end(), noise.begin(), noise.end());
        }
    }
    std::fill(pair.Target.begin() + 1000, pair.Target.begin() + 3000, 0x5A);
    return pair;
}

std::string Apply(const fs::path& source, const fs::path& delta, const fs::path& output) {
    try {
        ctr::TInFile source_file(source);
        ctr::TInFile delta_file(delta);
        ctr::TOutFile out(output);
        ctr::ApplyDelta(source_file, delta_file, out);
        out.Commit();
        return {};
    } catch (const ctr::TCtrError& error) {
        return error.what();
    }
}

class DeltaTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_pair = MakePair();
        WriteBytes(m_dir / "source.bin", m_pair.Source);
        WriteBytes(m_dir / "target.bin", m_pair.Target);
    }
    // xdelta3 -e with `options`; the difference's path.
    fs::path Encode(const std::vector<std::string>& options, const std::string& name) {
        std::vector<std::string> args{"-e", "-f"};
        args.insert(args.end(), options.begin(), options.end());
        args.insert(args.end(), {"-s", "source.bin", "target.bin", name});
        std::string error;
        EXPECT_EQ(ctr_test::Run(ToolPath(kXdelta), args, m_dir.Path(), &error), 0) << error;
        return m_dir / name;
    }

    TTempDir m_dir;
    TPair m_pair;
};

TEST_F(DeltaTest, EveryEncodingGivesTheTarget) {
    const std::vector<std::vector<std::string>> encodings{
        {},
        {"-S", "djw"},
        {"-S", "fgk"},
        {"-S", "lzma"},
        {"-S", "none"},
        {"-9"},
        {"-0"},
        // many small windows over a small source window
        {"-W", "16384", "-B", "1048576"}};
    for (const auto& options : encodings) {
        std::string label;
        for (const auto& option : options)
            label += option + " ";
        const fs::path delta = Encode(options, "delta.vcdiff");
        const fs::path out = m_dir / "out.bin";
        EXPECT_EQ(Apply(m_dir / "source.bin", delta, out), "") << label;
        EXPECT_TRUE(ReadBytes(out) == m_pair.Target) << label;
    }
}

TEST_F(DeltaTest, AStopIsHeardAtTheNextWindow) {
    // The whole difference is one chunk of input: only the windows and source blocks give the
    // stop a chance to be heard before the end.
    const fs::path delta = Encode({"-W", "1048576"}, "windows.vcdiff");
    ASSERT_LT(fs::file_size(delta), 1u << 20);
    int asked = 0;
    ctr::TProgress progress{[&asked](std::uint64_t, std::uint64_t) { return ++asked < 3; }};
    ctr::TInFile source(m_dir / "source.bin");
    ctr::TInFile difference(delta);
    {
        ctr::TOutFile out(m_dir / "stopped.bin");
        EXPECT_THROW(ctr::ApplyDelta(source, difference, out, &progress), ctr::TCtrError);
    }
    EXPECT_EQ(asked, 3);
    EXPECT_FALSE(fs::exists(m_dir / "stopped.bin"));
}

TEST_F(DeltaTest, DamagedOrForeignDifferencesFail) {
    const fs::path delta = Encode({"-S", "none"}, "good.vcdiff");
    const auto good = ReadBytes(delta);
    auto other_source = m_pair.Source;
    other_source[other_source.size() / 2] ^= 0x01;
    other_source[100] ^= 0x80;
    WriteBytes(m_dir / "other.bin", other_source);
    auto flipped = good;
    flipped[flipped.size() / 2] ^= 0x10;
    struct TCase {
        const char* Name;
        std::vector<std::uint8_t> Delta;
        const char* Source;
    };
    const std::vector<TCase> cases{
        {"made for another source", good, "other.bin"},
        {"cut in the middle", {good.begin(), good.begin() + good.size() / 2}, "source.bin"},
        {"cut inside its header", {good.begin(), good.begin() + 3}, "source.bin"},
        {"empty", {}, "source.bin"},
        {"a changed byte", flipped, "source.bin"},
        {"not a difference", NoiseBytes(4096, 3), "source.bin"},
    };
    for (const auto& row : cases) {
        WriteBytes(m_dir / "bad.vcdiff", row.Delta);
        const fs::path out = m_dir / "bad-out.bin";
        EXPECT_NE(Apply(m_dir / row.Source, m_dir / "bad.vcdiff", out), "") << row.Name;
        EXPECT_FALSE(fs::exists(out)) << row.Name;
    }
}

} // namespace
