#include "decoder/CpuFeatures.h"
#include "decoder/Layer3Routines.h"
#include "decoder/Routines.h"
#include "decoder/Synthesis.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace pelbrisk {
namespace {

// Puts the routines the process would choose back, whatever a test forced.
class Dispatch : public testing::Test {
protected:
    void TearDown() override {
        SelectRoutines(FeaturesWithCapabilities(DetectProcessorFeatures(), kAllCpuCapabilities));
    }
};

struct TForcedWord {
    const char* Name;
    uint32_t Features;
    TRoutineChoice Expected;
};

constexpr uint32_t AmdK6 = pfFpu | pfMMX | pfAMD | pfFamily5;
constexpr uint32_t AmdAthlon = pfFpu | pfMMX | pfCMOV | pfAMD | pfFamily6;
constexpr uint32_t IntelP6 = pfFpu | pfIntel | pfFamily6;

const TForcedWord ForcedWords[] = {
    // 3DNow! without its extension: alias reduction and windows take 3DNow!, the IMDCT stays
    // with the floating-point unit (Pentium-scheduled only on Intel).
    {"3DNow! on AMD", AmdK6 | pf3DNow, {rv3DNow, rvFpu, rvFpu, rv3DNow}},
    {"3DNow! on Intel", IntelP6 | pf3DNow, {rv3DNow, rvPentium, rvPentium, rv3DNow}},
    // The extension without 3DNow! itself counts for nothing.
    {"0x20 without 0x4 on AMD", AmdAthlon | pfE3DNow | pfEMMX, {rvFpu, rvFpu, rvFpu, rvFpu}},
    {"0x20 without 0x4 on Intel",
     IntelP6 | pfE3DNow | pfEMMX | pfCMOV,
     {rvFpu, rvPentium, rvPentium, rvCmovClip}},
    // An empty capability set: floating-point versions, Pentium-scheduled on Intel.
    {"empty set on Intel family 6", IntelP6, {rvFpu, rvPentium, rvPentium, rvPentium}},
    {"empty set on Intel family 5",
     pfFpu | pfIntel | pfFamily5,
     {rvFpu, rvPentium, rvPentium, rvPentium}},
    {"empty set on AMD", pfFpu | pfAMD | pfFamily6, {rvFpu, rvFpu, rvFpu, rvFpu}},
    {"empty set on a 486", pfFpu | pfIntel | pfFamily4, {rvFpu, rvFpu, rvFpu, rvFpu}},
    // A full AMD word: extended 3DNow! everywhere.
    {"Athlon with everything",
     AmdAthlon | pf3DNow | pfE3DNow | pfEMMX,
     {rvE3DNow, rvE3DNow, rvE3DNow, rvE3DNow}},
    // Extended 3DNow! without CMOV keeps the IMDCT on the unit; without extended MMX the
    // windows fall back to plain 3DNow!.
    {"extended 3DNow! without CMOV",
     pfFpu | pfAMD | pfFamily6 | pf3DNow | pfE3DNow | pfEMMX,
     {rvE3DNow, rvFpu, rvE3DNow, rvE3DNow}},
    {"extended 3DNow! without extended MMX",
     AmdAthlon | pf3DNow | pfE3DNow,
     {rvE3DNow, rvE3DNow, rvE3DNow, rv3DNow}},
    // MMX and SSE select nothing.
    {"SSE on Intel", IntelP6 | pfMMX | pfSSE | pfEMMX, {rvFpu, rvPentium, rvPentium, rvPentium}},
};

TEST_F(Dispatch, PreferenceTablePutsTheExpectedVersionInEverySlot) {
    for (const TForcedWord& word : ForcedWords) {
        SCOPED_TRACE(word.Name);
        const TRoutineChoice choice = SelectRoutines(word.Features);
        EXPECT_EQ(choice.Antialias, word.Expected.Antialias);
        EXPECT_EQ(choice.Imdct, word.Expected.Imdct);
        EXPECT_EQ(choice.ImdctCores, word.Expected.ImdctCores);
        EXPECT_EQ(choice.Window, word.Expected.Window);
        // The versions we have: one single-precision alias reduction and IMDCT, and windows
        // that keep either the unit's rounding or the 3DNow! rounding; vector versions only
        // where the word allows SSE.
        const bool vector = (word.Features & pfSSE) != 0;
        EXPECT_EQ(Routines.Antialias, &AntialiasFpu);
        EXPECT_EQ(Routines.Imdct, vector ? FastestImdct() : &ImdctFpu);
        EXPECT_EQ(Routines.ImdctLongCore, &ImdctLongCoreFpu);
        EXPECT_EQ(Routines.ImdctShortCore, &ImdctShortCoreFpu);
        const bool amdRounding =
            word.Expected.Window == rv3DNow || word.Expected.Window == rvE3DNow;
        EXPECT_EQ(Routines.WindowMono, amdRounding ? &WindowMono3DNow
                                       : vector    ? FastestWindowMono()
                                                   : &WindowMonoFpu);
        EXPECT_EQ(Routines.WindowInterleaved, amdRounding ? &WindowInterleaved3DNow
                                              : vector    ? FastestWindowInterleaved()
                                                          : &WindowInterleavedFpu);
    }
}

// A ring and window whose first output is exactly `value`: one coefficient of 1 against one
// ring entry.
void WindowOne(TWindowRoutine routine, float value, int16_t* out) {
    float window[264] = {};
    float ring[512] = {};
    window[0] = 1.0f;
    ring[16] = value;
    routine(window, ring, 0, out);
}

TEST_F(Dispatch, WindowFamiliesRoundTiesTheirOwnWayAndClipAlike) {
    struct TCase {
        float Sum;
        int16_t Unit;
        int16_t ThreeDNow;
    };
    const TCase cases[] = {{2.5f, 2, 3},
                           {-2.5f, -2, -3},
                           {3.5f, 4, 4},
                           {-0.5f, 0, -1},
                           {0.5f, 0, 1},
                           {2.4f, 2, 2},
                           {-2.6f, -3, -3},
                           {40000.0f, 32767, 32767},
                           {-40000.0f, -32768, -32768},
                           {32767.5f, 32767, 32767}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Sum);
        int16_t out[64] = {};
        for (TWindowRoutine unit : {WindowMonoFpu, FastestWindowMono()}) {
            WindowOne(unit, c.Sum, out);
            EXPECT_EQ(out[0], c.Unit);
        }
        WindowOne(WindowMono3DNow, c.Sum, out);
        EXPECT_EQ(out[0], c.ThreeDNow);
        WindowOne(WindowInterleaved3DNow, c.Sum, out);
        EXPECT_EQ(out[0], c.ThreeDNow);
        EXPECT_EQ(out[1], 0) << "the interleaved window leaves the other channel alone";
    }
}

// A window and a ring with values of the sizes music gives them.
void FillLikeMusic(uint32_t seed, float (&window)[264], float (&ring)[512]) {
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<int32_t>(seed >> 8) - (1 << 23)) / (1 << 23);
    };
    for (float& w : window)
        w = next() * 0.6f;
    for (float& r : ring)
        r = next() * 9000.0f;
}

TEST_F(Dispatch, FastestWindowsStayWithinOneOfThePortableOnesOnRealisticData) {
    float window[264];
    float ring[512];
    FillLikeMusic(12345, window, ring);
    for (int32_t position = 0; position < 512; position += 32) {
        int16_t expected[64] = {};
        int16_t actual[64] = {};
        WindowInterleavedFpu(window, ring, position, expected);
        FastestWindowInterleaved()(window, ring, position, actual);
        for (int i = 0; i < 64; ++i)
            EXPECT_LE(std::abs(actual[i] - expected[i]), 1)
                << "position " << position << " sample " << i;
        WindowMonoFpu(window, ring, position, expected);
        FastestWindowMono()(window, ring, position, actual);
        for (int i = 0; i < 32; ++i)
            EXPECT_LE(std::abs(actual[i] - expected[i]), 1)
                << "position " << position << " sample " << i;
    }
}

// Sums in single precision stay within a rounding step of the double ones.
TEST_F(Dispatch, ThreeDNowWindowsStayWithinOneOfTheUnitsOnRealisticData) {
    float window[264];
    float ring[512];
    FillLikeMusic(777, window, ring);
    int differing = 0;
    for (int32_t position = 0; position < 512; position += 32) {
        int16_t unit[64] = {};
        int16_t single[64] = {};
        WindowInterleavedFpu(window, ring, position, unit);
        WindowInterleaved3DNow(window, ring, position, single);
        for (int i = 0; i < 64; ++i) {
            ASSERT_LE(std::abs(unit[i] - single[i]), 1) << "position " << position << " " << i;
            differing += unit[i] != single[i];
        }
        WindowMonoFpu(window, ring, position, unit);
        WindowMono3DNow(window, ring, position, single);
        for (int i = 0; i < 32; ++i)
            ASSERT_LE(std::abs(unit[i] - single[i]), 1) << "position " << position << " " << i;
    }
    EXPECT_LT(differing, 16 * 32 / 4);
}

TEST(ProcessorDetection, ReadsVendorFamilyAndFeatureBits) {
    TCpuidReport intel;
    intel.VendorEcx = 0x6c65746e; // "ntel"
    intel.Function1Eax = 0x000006F6;
    intel.Function1Edx = (1u << 23) | (1u << 15) | (1u << 25);
    intel.HighestExtended = 0x80000008;
    EXPECT_EQ(FeaturesFromCpuid(intel),
              pfFpu | pfIntel | pfFamily6 | pfMMX | pfCMOV | pfSSE | pfEMMX);

    TCpuidReport k6;
    k6.VendorEcx = 0x444d4163; // "cAMD"
    k6.Function1Eax = 0x00000580;
    k6.Function1Edx = 1u << 23;
    k6.HighestExtended = 0x80000005;
    k6.Extended1Edx = (1u << 31) | (1u << 23);
    EXPECT_EQ(FeaturesFromCpuid(k6), pfFpu | pfAMD | pfFamily5 | pfMMX | pf3DNow);
    k6.Extended1Edx |= (1u << 30) | (1u << 22) | (1u << 15);
    EXPECT_EQ(FeaturesFromCpuid(k6),
              pfFpu | pfAMD | pfFamily5 | pfMMX | pf3DNow | pfE3DNow | pfEMMX | pfCMOV);

    // Without the extended function its register is not read, whatever it holds.
    TCpuidReport old = k6;
    old.HighestExtended = 0x80000000;
    EXPECT_EQ(FeaturesFromCpuid(old), pfFpu | pfAMD | pfFamily5 | pfMMX);
    old.HighestExtended = 0;
    EXPECT_EQ(FeaturesFromCpuid(old), pfFpu | pfAMD | pfFamily5 | pfMMX);

    // Family 4 reports no feature bits; unknown vendors and families have their own bits.
    TCpuidReport i486 = intel;
    i486.Function1Eax = 0x00000480;
    EXPECT_EQ(FeaturesFromCpuid(i486), pfFpu | pfIntel | pfFamily4);
    TCpuidReport other = intel;
    other.VendorEcx = 0x12345678;
    other.Function1Eax = 0x00000F00;
    EXPECT_EQ(FeaturesFromCpuid(other) & ~pfCapabilityBits, pfFpu | pfOtherVendor | pfFamily6);
    other.VendorEcx = 0x64616574; // "tead"
    EXPECT_NE(FeaturesFromCpuid(other) & pfCyrix, 0u);
    other.VendorEcx = 0x736c7561; // "auls"
    EXPECT_NE(FeaturesFromCpuid(other) & pfCentaur, 0u);
}

TEST(ProcessorDetection, ThisProcessorHasOneVendorOneFamilyAndIsCached) {
    const uint32_t features = DetectProcessorFeatures();
    EXPECT_NE(features & pfFpu, 0u);
    const uint32_t vendor = features & (pfIntel | pfAMD | pfCyrix | pfCentaur | pfOtherVendor);
    const uint32_t family = features & (pfFamily4 | pfFamily5 | pfFamily6);
    EXPECT_EQ(vendor & (vendor - 1), 0u);
    EXPECT_NE(vendor, 0u);
    EXPECT_EQ(family & (family - 1), 0u);
    EXPECT_NE(family, 0u);
    EXPECT_EQ(DetectProcessorFeatures(), features);
}

TEST(CpuCapabilities, MapToTheFeatureBitsAndBack) {
    const std::pair<TMP3CpuCapability, uint32_t> pairs[] = {
        {mccMMX, pfMMX},       {mcc3DNow, pf3DNow}, {mccKNI, pfSSE},
        {mccE3DNow, pfE3DNow}, {mccCMOV, pfCMOV},   {mccEMMX, pfEMMX}};
    for (const auto& [capability, bit] : pairs) {
        EXPECT_EQ(FeaturesFromCapabilities({capability}), bit);
        EXPECT_EQ(CapabilitiesOfFeatures(bit), TMP3CpuCapabilities({capability}));
    }
    EXPECT_EQ(FeaturesFromCapabilities(kAllCpuCapabilities),
              static_cast<uint32_t>(pfCapabilityBits));
    EXPECT_EQ(CapabilitiesOfFeatures(pfIntel | pfFamily6 | pfFpu), TMP3CpuCapabilities());
    EXPECT_EQ(kAllCpuCapabilities & TMP3CpuCapabilities({mccCMOV, mccMMX}),
              TMP3CpuCapabilities({mccMMX, mccCMOV}));
}

TEST(CpuCapabilities, PlaybackWordKeepsDetectionAndOnlyCapabilitiesTheProcessorHas) {
    const uint32_t athlon = pfFpu | pfMMX | pf3DNow | pfCMOV | pfAMD | pfFamily6;
    // Capabilities switched off by the user are cleared; vendor, family and FPU stay.
    EXPECT_EQ(FeaturesWithCapabilities(athlon, {}), pfFpu | pfAMD | pfFamily6);
    EXPECT_EQ(FeaturesWithCapabilities(athlon, {mcc3DNow}), pfFpu | pf3DNow | pfAMD | pfFamily6);
    // Allowing everything on a processor without 3DNow! must not select 3DNow! versions.
    const uint32_t modern = pfFpu | pfMMX | pfSSE | pfCMOV | pfEMMX | pfAMD | pfFamily6;
    EXPECT_EQ(FeaturesWithCapabilities(modern, kAllCpuCapabilities), modern);
    EXPECT_EQ(ChooseRoutines(FeaturesWithCapabilities(modern, kAllCpuCapabilities)).Window, rvFpu);
}

TEST_F(Dispatch, LimitedCapabilitiesInstallOnlyRoutinesWithinThem) {
    const uint32_t detected = DetectProcessorFeatures();
    SelectRoutines(FeaturesWithCapabilities(detected, {mccMMX, mccCMOV}));
    EXPECT_EQ(Routines.Imdct, &ImdctFpu);
    EXPECT_EQ(Routines.WindowMono, &WindowMonoFpu);
    EXPECT_EQ(Routines.WindowInterleaved, &WindowInterleavedFpu);
    if ((detected & pfSSE) == 0) GTEST_SKIP() << "no SSE: nothing beyond the portable routines";
    SelectRoutines(FeaturesWithCapabilities(detected, {mccKNI}));
    EXPECT_EQ(Routines.Imdct, FastestImdct());
    EXPECT_EQ(Routines.WindowMono, FastestWindowMono());
}

} // namespace
} // namespace pelbrisk
