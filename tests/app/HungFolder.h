#pragma once

#include <chrono>
#include <string>

namespace pelbrisk::test {

// A folder whose listing does not answer, as one on a hung network mount: whoever opens a folder
// whose path ends with `name` waits there until Release, until this object goes, or for `longest`
// (so that a program that waits for it cannot hang its test for ever).
class THungFolder {
public:
    THungFolder(const std::string& name, std::chrono::milliseconds longest);
    ~THungFolder();
    THungFolder(const THungFolder&) = delete;
    THungFolder& operator=(const THungFolder&) = delete;

    // A thread waits in the folder now.
    bool Caught() const;
    // Lets the waiting threads on, and no other hangs any more.
    void Release();
};

} // namespace pelbrisk::test
