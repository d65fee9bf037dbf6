#pragma once

#include <stdexcept>
#include <string>

namespace pelbrisk {

// The texts the engine reports to its users; they are part of its behaviour.
inline constexpr const char* kUnknownFormatText = "unknown MPEG Audio format.";
inline constexpr const char* kUnknownWaveOutErrorText = "unknown wave out API error.";

// Every failure the engine raises carries its message text.
class EMP3Error : public std::runtime_error {
public:
    explicit EMP3Error(const std::string& message) : std::runtime_error(message) {}
};

// A broken internal invariant of the engine: "Assertion failure (MP3Plyr, line N)".
class EMP3AssertionFailure : public EMP3Error {
public:
    explicit EMP3AssertionFailure(unsigned line);
    unsigned Line() const { return line_; }

private:
    unsigned line_;
};

[[noreturn]] void RaiseAssertionFailure(unsigned line);

// The engine's consistency check: raises the assertion failure naming the caller's line.
// (__builtin_LINE rather than std::source_location: the clang that builds the fuzz targets
// lacks the latter.)
inline void MP3Assert(bool condition, unsigned line = __builtin_LINE()) {
    if (!condition) RaiseAssertionFailure(line);
}

} // namespace pelbrisk
