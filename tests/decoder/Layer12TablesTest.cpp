#include "decoder/Layer12Tables.h"

#include "tests/support/Paths.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <numbers>
#include <string>

namespace pelbrisk::test {
namespace {

nlohmann::json LoadTable(const std::string& name) {
    const auto path = TablesDir() / name;
    if (!std::filesystem::exists(path)) return nullptr;
    std::ifstream in(path);
    return nlohmann::json::parse(in);
}

TEST(Layer12Tables, WindowRowsMatchTheStandardWindow) {
    const auto json = LoadTable("synthesis_window.json");
    if (json.is_null()) GTEST_SKIP() << "standard tables not found at " << TablesDir();
    const auto& d = json.at("D_times_65536");
    ASSERT_EQ(d.size(), 512u);
    for (int m = 0; m < 16; ++m)
        for (int j = 0; j < 16; ++j)
            EXPECT_EQ(SynthesisWindowTimes65536[16 * m + j], d[32 * m + j].get<int>())
                << m << "/" << j;
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(SynthesisWindowTimes65536[256 + k], -d[48 + 64 * k].get<int>()) << k;
    // The outputs 17..31 are computed from the rows of outputs 1..15 read backwards, which
    // holds because the window is odd about 256 away from the multiples of 64.
    for (int i = 1; i < 512; ++i)
        if (i % 64 != 0) {
            EXPECT_EQ(d[i].get<int>(), -d[512 - i].get<int>()) << i;
        }
}

TEST(Layer12Tables, AllocationGroupsMatchTheStandardTables) {
    const auto json = LoadTable("layer2_allocation.json");
    if (json.is_null()) GTEST_SKIP() << "standard tables not found at " << TablesDir();
    const char* names[5] = {"B.2a", "B.2b", "B.2c", "B.2d", "lsf"};
    for (int table = 0; table < 5; ++table) {
        const auto& subbands = json.at(names[table]);
        const TLayer2Allocation& allocation = Layer2Allocations[table];
        size_t subband = 0;
        for (int group = 0; group < 4; ++group) {
            for (int i = 0; i < allocation.GroupSize[group]; ++i, ++subband) {
                ASSERT_LT(subband, subbands.size()) << names[table];
                const auto& entry = subbands[subband];
                EXPECT_EQ(entry.at("nbal").get<int>(), allocation.FieldWidth[group]);
                const auto& levels = entry.at("levels_by_code");
                ASSERT_EQ(levels.size(), size_t{1} << allocation.FieldWidth[group]);
                for (size_t code = 0; code < levels.size(); ++code)
                    EXPECT_EQ(levels[code].get<int>(),
                              QuantisationLevels[allocation.ClassByCode[group][code]])
                        << names[table] << " subband " << subband << " code " << code;
            }
        }
        EXPECT_EQ(subband, subbands.size()) << names[table];
    }
}

TEST(Layer12Tables, ComputedFactorsAreTheCorrectlyRoundedSingles) {
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(ScaleFactors[i], static_cast<float>(65536.0 * std::pow(2.0, -i / 3.0))) << i;
    int index = 0;
    for (int n : {16, 8, 4, 2, 1})
        for (int j = 0; j < n; ++j, ++index)
            EXPECT_EQ(DctCosines[index],
                      static_cast<float>(0.5 / std::cos((2 * j + 1) * std::numbers::pi / (4 * n))))
                << n << "/" << j;
    for (int c = 1; c < 18; ++c)
        EXPECT_EQ(ClassFactors[c], 2.0f / static_cast<float>(QuantisationLevels[c])) << c;
    // A grouped code of 9 levels: 100 = 1 + 9 * (2 + 9 * 1), each value centred on 0.
    EXPECT_EQ(Grouping9[100][0], -3);
    EXPECT_EQ(Grouping9[100][1], -2);
    EXPECT_EQ(Grouping9[100][2], -3);
    EXPECT_EQ(Grouping3[26][2], 1);
    EXPECT_EQ(Grouping5[0][0], -2);
}

} // namespace
} // namespace pelbrisk::test
