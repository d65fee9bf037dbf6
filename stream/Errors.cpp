#include "stream/Errors.h"

namespace pelbrisk {

EMP3AssertionFailure::EMP3AssertionFailure(unsigned line)
    : EMP3Error("Assertion failure (MP3Plyr, line " + std::to_string(line) + ")"), line_(line) {}

void RaiseAssertionFailure(unsigned line) {
    throw EMP3AssertionFailure(line);
}

} // namespace pelbrisk
