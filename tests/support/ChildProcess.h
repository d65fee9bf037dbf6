#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace pelbrisk::test {

// A program a test starts: with the test's environment less the variables whose names begin
// with one of `drop`, plus `add` ("NAME=value"); standard input from /dev/null, standard output
// and error into `log` (appended). It dies with the test process whatever ends that, and is
// killed and reaped when the object goes.
class TChildProcess {
public:
    TChildProcess(const std::vector<std::string>& command, const std::vector<std::string>& drop,
                  const std::vector<std::string>& add, const std::filesystem::path& log);
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    bool Running();
    void Signal(int signal) const;
    // Its exit status; -1 when it ended by a signal, or had to be killed after `limit`.
    int Wait(std::chrono::milliseconds limit);

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

} // namespace pelbrisk::test
