#pragma once

// base/: the lowest layer. The data root and its paths, code-page 1250 text and line I/O,
// `chkint`, atomic and unique file writes, directory listings, the name rule, the clock, the
// settings and run-time flags every layer reads, the device address, the named-action table and
// the module lifecycle. Includes nothing of the program's own; every folder may include it.

#include <QString>

namespace velmar {

// One folder's part of the running program: it builds and wires its own parts, subscribes to
// the bus messages it owns and registers its named actions. The application is the ordered
// list of modules, lowest layer first; each moment below reaches every module in that order
// (shutdown too, so that the bus closes before the servers above it). Every method runs on the
// main thread, has a do-nothing default and must not throw.
class Module {
  public:
    virtual ~Module() = default;

    // Start-up, after the configuration files are read: the folder's own files and tables,
    // its subscriptions and actions.
    virtual void load() {}
    // The device tables were built (again): once per rebuild the switches ask for, then once
    // more in the start-up sequence.
    virtual void tablesBuilt() {}
    // Start-up is over: the windows are created (the configuration window loads its first
    // device).
    virtual void started() {}
    // "Run" (the countdown's end or the operator).
    virtual void run() {}
    // The configuration window's initial work, 10 s after the countdown started (`Timer2`).
    virtual void initialWork() {}
    // Once a minute (the configuration window's clock).
    virtual void minuteTick() {}
    // Shutdown, first step: the folder's timers stop.
    virtual void stopTimers() {}
    // Shutdown: ports, links and servers close; the text of an error to log, empty for none.
    virtual QString stop() { return {}; }
};

}  // namespace velmar
