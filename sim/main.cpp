#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QStringList>

#include "sim/sim_main.h"

namespace {

int stopPipe[2] = {-1, -1};

void requestStop(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    QStringList args;
    for (int i = 1; i < argc; ++i) {
        args.append(QString::fromLocal8Bit(argv[i]));
    }
    return velmar::sim::runSimulator(args, STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO, stopPipe[0]);
}
