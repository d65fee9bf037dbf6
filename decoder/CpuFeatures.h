#pragma once

#include <cstdint>
#include <initializer_list>

namespace pelbrisk {

// The ProcessorFeatures word.
enum : uint32_t {
    pfFpu = 0x1,
    pfMMX = 0x2,
    pf3DNow = 0x4,
    pfSSE = 0x8,
    pfCMOV = 0x10,
    pfE3DNow = 0x20,
    pfEMMX = 0x40,
    pfIntel = 0x100,
    pfAMD = 0x200,
    pfCyrix = 0x400,
    pfCentaur = 0x800,
    pfOtherVendor = 0x8000,
    pfFamily4 = 0x100000,
    pfFamily5 = 0x200000,
    pfFamily6 = 0x400000,
    pfCapabilityBits = 0x7E,
};

// What the processor identification instruction reported, as far as the detection reads it.
struct TCpuidReport {
    uint32_t VendorEcx = 0;    // function 0: last four characters of the vendor string
    uint32_t Function1Eax = 0; // family and processor type in bits 8..15
    uint32_t Function1Edx = 0;
    uint32_t HighestExtended = 0; // function 0x80000000: the highest extended function
    uint32_t Extended1Edx = 0;    // function 0x80000001, when the processor has it
};

// The feature word for a processor with an FPU and the identification instruction.
uint32_t FeaturesFromCpuid(const TCpuidReport& report);

// Examines the processor once; later calls return the cached word (0 is not cached).
uint32_t DetectProcessorFeatures();

// The versions of the preference table; the ones that existed for processors long gone are
// served by the portable code that keeps their rounding.
enum TRoutineVersion : int32_t {
    rvFpu,      // floating-point unit
    rvPentium,  // floating-point unit, scheduled for the Pentium
    rvCmovClip, // floating-point unit, clipping with conditional moves
    rv3DNow,    // 3DNow!
    rvE3DNow,   // extended 3DNow! (with extended MMX for the windows)
};

struct TRoutineChoice {
    TRoutineVersion Antialias;
    TRoutineVersion Imdct;
    TRoutineVersion ImdctCores;
    TRoutineVersion Window;
    bool operator==(const TRoutineChoice&) const = default;
};

// The preference table: which version each slot takes for a feature word.
TRoutineChoice ChooseRoutines(uint32_t features);
// Installs the chosen versions into the routine slots; returns the choice.
TRoutineChoice SelectRoutines(uint32_t features);

// The player's set of allowed processor capabilities.
enum TMP3CpuCapability : int32_t { mccMMX, mcc3DNow, mccKNI, mccE3DNow, mccCMOV, mccEMMX };

class TMP3CpuCapabilities {
public:
    constexpr TMP3CpuCapabilities() = default;
    constexpr TMP3CpuCapabilities(std::initializer_list<TMP3CpuCapability> members) {
        for (TMP3CpuCapability member : members)
            Include(member);
    }
    static constexpr TMP3CpuCapabilities All() {
        return {mccMMX, mcc3DNow, mccKNI, mccE3DNow, mccCMOV, mccEMMX};
    }
    constexpr void Include(TMP3CpuCapability member) { bits_ |= 1u << member; }
    constexpr void Exclude(TMP3CpuCapability member) { bits_ &= ~(1u << member); }
    constexpr bool Contains(TMP3CpuCapability member) const { return (bits_ >> member) & 1u; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr TMP3CpuCapabilities operator&(TMP3CpuCapabilities other) const {
        TMP3CpuCapabilities result;
        result.bits_ = bits_ & other.bits_;
        return result;
    }
    constexpr bool operator==(const TMP3CpuCapabilities&) const = default;

private:
    uint32_t bits_ = 0;
};

inline constexpr TMP3CpuCapabilities kAllCpuCapabilities = TMP3CpuCapabilities::All();

// The capabilities a feature word names, and back.
TMP3CpuCapabilities CapabilitiesOfFeatures(uint32_t features);
uint32_t FeaturesFromCapabilities(TMP3CpuCapabilities capabilities);
// The word the player hands to SelectRoutines at play start: vendor, family and FPU bits from
// detection, the six capability bits from the allowed set as far as the processor has them.
uint32_t FeaturesWithCapabilities(uint32_t detected, TMP3CpuCapabilities allowed);

} // namespace pelbrisk
