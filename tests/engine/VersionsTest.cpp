// The order of patch versions and the program's minimum version a patch names.

#include "engine/Versions.h"
#include "engine/Text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PatchVersions, Order) {
    const struct {
        const char* A;
        const char* B;
        int Order;
    } rows[] = {
        {"1.0", "1.1", -1},
        {"1.10", "1.9", 1},
        {"1.0", "1.0", 0},
        {"01.2", "1.2", 0},
        {"1.0 beta", "1.0", -1},
        {"1.0.1", "1.0", 1},
        {"1.0.1", "1.0 beta", 1},
        {"v2", "V10", -1},
        {"", "0.1", -1},
        {"99999999999999999999", "2", 1},
        {"1.0a", "1.0B", -1},
        {"1.0 бета", "1.0 БЕТА", 0},
        {"1.0 бета", "1.0", -1},
        {"1.0β", "1.0", -1},
        {"2.0-rc1", "2.0 RC2", -1},
        {"...", "", 0},
    };
    for (const auto& row : rows) {
        const engine::TText a = engine::FromUtf8(row.A);
        const engine::TText b = engine::FromUtf8(row.B);
        EXPECT_EQ(engine::CompareVersions(a, b), row.Order) << row.A << " " << row.B;
        EXPECT_EQ(engine::CompareVersions(b, a), -row.Order) << row.B << " " << row.A;
    }
}

TEST(PatchVersions, MinimumProgramVersion) {
    const std::string program(engine::ProgramVersion());
    const struct {
        std::string Minimum;
        const char* Key;
    } rows[] = {
        {"", ""},
        {"0.1", ""},
        {program, ""},
        {program + ".0.0", ""},
        {" " + program + "\t", ""},
        {"999", "PatchNeedsNewerProgram"},
        {program + ".1", "PatchNeedsNewerProgram"},
        {"1.x", "PatchBadProgramVersion"},
        {"1..2", "PatchBadProgramVersion"},
        {"1.", "PatchBadProgramVersion"},
        {"12345678901.0", "PatchBadProgramVersion"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(engine::ProgramVersionProblemKey(engine::FromUtf8(row.Minimum)), row.Key)
            << row.Minimum;
    // A version is older than a program's with a higher number at any place.
    EXPECT_EQ(engine::ProgramVersionProblemKey(u"1.2", "1.10"), "");
    EXPECT_EQ(engine::ProgramVersionProblemKey(u"1.10", "1.2"), "PatchNeedsNewerProgram");
}

} // namespace
