#include "decoder/CpuFeatures.h"

#include "decoder/Layer3Routines.h"
#include "decoder/Routines.h"
#include "decoder/Synthesis.h"

#include <atomic>

#if defined(__x86_64__)
#include <cpuid.h>
#endif

namespace pelbrisk {

namespace {

// ECX of function 0 holds characters 9..12 of the vendor string, little-endian.
constexpr uint32_t VendorTail(const char (&text)[5]) {
    return static_cast<uint32_t>(text[0]) | static_cast<uint32_t>(text[1]) << 8 |
           static_cast<uint32_t>(text[2]) << 16 | static_cast<uint32_t>(text[3]) << 24;
}

std::atomic<uint32_t> CachedFeatures{0};

#if defined(__x86_64__)
// Initialises the x87 unit and checks that its status and control words read as after a reset.
bool FpuProbe() {
    uint16_t status = 0xFFFF;
    uint16_t control = 0;
    __asm__ volatile("fninit\n\tfnstsw %0\n\tfnstcw %1" : "=m"(status), "=m"(control));
    return status == 0 && (control & 0x103F) == 0x3F;
}

uint32_t DetectX86() {
    if (!FpuProbe()) return 0;
    // Every x86-64 processor passes the alignment-check and identification flag tests, so the
    // detection goes straight to the identification instruction.
    TCpuidReport report;
    uint32_t eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid(0, eax, ebx, ecx, edx);
    report.VendorEcx = ecx;
    __cpuid(1, eax, ebx, ecx, edx);
    report.Function1Eax = eax;
    report.Function1Edx = edx;
    __cpuid(0x80000000u, eax, ebx, ecx, edx);
    report.HighestExtended = eax;
    if (report.HighestExtended >= 0x80000001u) {
        __cpuid(0x80000001u, eax, ebx, ecx, edx);
        report.Extended1Edx = edx;
    }
    // The operating system keeps SSE state on every x86-64 system; loading the control
    // register proves it without leaving flush-to-zero behind.
    uint32_t saved = 0;
    uint32_t probe = 0x9F80;
    __asm__ volatile("stmxcsr %0\n\tldmxcsr %1\n\tldmxcsr %0" : "+m"(saved) : "m"(probe));
    return FeaturesFromCpuid(report);
}
#endif

} // namespace

uint32_t FeaturesFromCpuid(const TCpuidReport& report) {
    uint32_t features = pfFpu;
    if (report.VendorEcx == VendorTail("ntel"))
        features |= pfIntel;
    else if (report.VendorEcx == VendorTail("cAMD"))
        features |= pfAMD;
    else if (report.VendorEcx == VendorTail("tead"))
        features |= pfCyrix;
    else if (report.VendorEcx == VendorTail("auls"))
        features |= pfCentaur;
    else
        features |= pfOtherVendor;
    const uint32_t family = (report.Function1Eax >> 8) & 0xFF;
    if (family == 4) return features | pfFamily4;
    features |= family == 5 ? pfFamily5 : pfFamily6;
    // A processor without the extended function has no extended bits to report.
    if (report.HighestExtended >= 0x80000001u) {
        const uint32_t edx = report.Extended1Edx;
        if (edx & (1u << 31)) features |= pf3DNow;
        if (edx & (1u << 15)) features |= pfCMOV;
        if (edx & (1u << 30)) features |= pfE3DNow;
        if (edx & (1u << 22)) features |= pfEMMX;
    }
    const uint32_t edx = report.Function1Edx;
    if (edx & (1u << 23)) features |= pfMMX;
    if (edx & (1u << 15)) features |= pfCMOV;
    if (edx & (1u << 25)) features |= pfSSE | pfEMMX;
    return features;
}

uint32_t DetectProcessorFeatures() {
    const uint32_t cached = CachedFeatures.load(std::memory_order_relaxed);
    if (cached != 0) return cached;
#if defined(__x86_64__)
    const uint32_t features = DetectX86();
#else
    const uint32_t features = pfFpu;
#endif
    if (features != 0) CachedFeatures.store(features, std::memory_order_relaxed);
    return features;
}

TRoutineChoice ChooseRoutines(uint32_t features) {
    if ((features & pf3DNow) == 0) features &= ~pfE3DNow;
    const bool e3dnow = (features & pfE3DNow) != 0;
    const bool amd3dnow = (features & pf3DNow) != 0;
    const bool pentiumClass =
        (features & pfIntel) != 0 && (features & (pfFamily5 | pfFamily6)) != 0;
    TRoutineChoice choice;
    choice.Antialias = e3dnow ? rvE3DNow : amd3dnow ? rv3DNow : rvFpu;
    choice.Imdct = (e3dnow && (features & pfCMOV) != 0) ? rvE3DNow
                   : pentiumClass                       ? rvPentium
                                                        : rvFpu;
    choice.ImdctCores = e3dnow ? rvE3DNow : pentiumClass ? rvPentium : rvFpu;
    if (e3dnow && (features & pfEMMX) != 0)
        choice.Window = rvE3DNow;
    else if (amd3dnow)
        choice.Window = rv3DNow;
    else if (pentiumClass && (features & pfCMOV) != 0)
        choice.Window = rvCmovClip;
    else if (pentiumClass)
        choice.Window = rvPentium;
    else
        choice.Window = rvFpu;
    return choice;
}

TRoutineChoice SelectRoutines(uint32_t features) {
    const TRoutineChoice choice = ChooseRoutines(features);
    // Alias reduction and the IMDCT have one single-precision version (on processors with AVX2
    // a vector one): the last-bit freedom the 3DNow! versions had is not needed. The windows
    // keep each family's rounding. The vector versions extend the SSE family, so a word without
    // SSE, which is how a caller keeps to fewer capabilities, gets the portable ones.
    const bool vector = (features & pfSSE) != 0;
    Routines.Antialias = AntialiasFpu;
    Routines.Imdct = vector ? FastestImdct() : ImdctFpu;
    Routines.ImdctLongCore = ImdctLongCoreFpu;
    Routines.ImdctShortCore = ImdctShortCoreFpu;
    if (choice.Window == rv3DNow || choice.Window == rvE3DNow) {
        Routines.WindowMono = WindowMono3DNow;
        Routines.WindowInterleaved = WindowInterleaved3DNow;
    } else {
        Routines.WindowMono = vector ? FastestWindowMono() : WindowMonoFpu;
        Routines.WindowInterleaved = vector ? FastestWindowInterleaved() : WindowInterleavedFpu;
    }
    return choice;
}

TMP3CpuCapabilities CapabilitiesOfFeatures(uint32_t features) {
    TMP3CpuCapabilities set;
    if (features & pfMMX) set.Include(mccMMX);
    if (features & pf3DNow) set.Include(mcc3DNow);
    if (features & pfSSE) set.Include(mccKNI);
    if (features & pfE3DNow) set.Include(mccE3DNow);
    if (features & pfCMOV) set.Include(mccCMOV);
    if (features & pfEMMX) set.Include(mccEMMX);
    return set;
}

uint32_t FeaturesFromCapabilities(TMP3CpuCapabilities capabilities) {
    uint32_t features = 0;
    if (capabilities.Contains(mccMMX)) features |= pfMMX;
    if (capabilities.Contains(mcc3DNow)) features |= pf3DNow;
    if (capabilities.Contains(mccKNI)) features |= pfSSE;
    if (capabilities.Contains(mccE3DNow)) features |= pfE3DNow;
    if (capabilities.Contains(mccCMOV)) features |= pfCMOV;
    if (capabilities.Contains(mccEMMX)) features |= pfEMMX;
    return features;
}

uint32_t FeaturesWithCapabilities(uint32_t detected, TMP3CpuCapabilities allowed) {
    // The player's design-time set allows everything; taking it unchanged would select
    // versions for instructions this processor does not have.
    return (detected & ~static_cast<uint32_t>(pfCapabilityBits)) |
           (FeaturesFromCapabilities(allowed) & detected);
}

} // namespace pelbrisk
