#include "tests/support/ChildProcess.h"

#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace pelbrisk::test {

using namespace std::chrono_literals;

TChildProcess::TChildProcess(const std::vector<std::string>& command,
                             const std::vector<std::string>& drop,
                             const std::vector<std::string>& add,
                             const std::filesystem::path& log) {
    // Everything the child needs is made before the fork: after it, only system calls.
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string variable = *entry;
        bool kept = true;
        for (const std::string& name : drop)
            kept = kept && variable.rfind(name, 0) != 0;
        if (kept) variables.push_back(variable);
    }
    variables.insert(variables.end(), add.begin(), add.end());
    std::vector<char*> environment;
    for (std::string& variable : variables)
        environment.push_back(variable.data());
    environment.push_back(nullptr);
    std::vector<std::string> words = command;
    std::vector<char*> arguments;
    for (std::string& word : words)
        arguments.push_back(word.data());
    arguments.push_back(nullptr);
    const std::string logPath = log.string();
    const pid_t parent = getpid();

    pid_ = fork();
    if (pid_ != 0) return;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int output = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (output >= 0) {
        dup2(output, STDOUT_FILENO);
        dup2(output, STDERR_FILENO);
    }
    const int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nothing >= 0) dup2(nothing, STDIN_FILENO);
    execvpe(arguments[0], arguments.data(), environment.data());
    _exit(127);
}

TChildProcess::~TChildProcess() {
    Signal(SIGCONT);
    Signal(SIGKILL);
    Wait(0ms);
}

bool TChildProcess::Running() {
    if (pid_ <= 0) return false;
    if (waitpid(pid_, &status_, WNOHANG) == 0) return true;
    pid_ = -1;
    return false;
}

void TChildProcess::Signal(int signal) const {
    if (pid_ > 0) kill(pid_, signal);
}

int TChildProcess::Wait(std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (Running() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(5ms);
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        status_ = -1;
    }
    return status_ >= 0 && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

} // namespace pelbrisk::test
