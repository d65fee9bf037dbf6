#include "platform/ThreadSignals.h"

#include <csignal>
#include <initializer_list>
#include <pthread.h>

namespace pelbrisk {

void KeepProcessSignalsAway() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT, SIGWINCH, SIGUSR1,
                             SIGUSR2, SIGALRM, SIGCHLD})
        sigaddset(&signals, signal);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

} // namespace pelbrisk
