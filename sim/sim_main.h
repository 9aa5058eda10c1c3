#pragma once

#include <QStringList>

namespace velmar::sim {

// The velmar-sim program: `args` are its arguments without the program name. Prints
// "pty <slave path>" as the first line on outFd (with --linkel "linkel 127.0.0.1:<port>" as the
// second), then runs one command per line read from inFd (see CommandInterpreter) and answers
// each on outFd. Ends on "quit" or when stopFd becomes
// readable (a signal handler writes to it); the end of inFd alone does not end it, so that it
// can run in the background with its input closed. Returns the exit code: 0 after a normal
// end, 1 when the pseudo-terminal, the record file or the Linkel's port cannot be opened, 2 for
// bad arguments (an unreadable or malformed --linkel file included) or a failing configuration
// line.
int runSimulator(const QStringList& args, int inFd, int outFd, int errFd, int stopFd);

}  // namespace velmar::sim
