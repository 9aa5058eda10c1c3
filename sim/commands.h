#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace velmar::sim {

class Simulator;

// The answer to one command line: data lines, then "ok" or "error: <why>".
struct CommandReply {
    bool ok = true;
    QString error;
    QList<QByteArray> lines;
    bool quit = false;
    bool empty = false;  // blank line or comment: nothing is printed

    // What goes to standard output, each line ended by "\n".
    QByteArray text() const;
};

// Runs the simulator's line commands, one per line, arguments separated by blanks:
//   add <h>-<l> quartel|outrel|thermel|sensel|linkel
//   silent <h>-<l> on|off            noconfirm <h>-<l> on|off
//   text <h>-<l> <text>              (the rest of the line, inner blanks kept)
//   raw <hex bytes>                  restart <h>-<l>
//   program [<h>-<l>] ok|refuse|none [blocks]   (one controller's next blocks, then as before)
//   memory <h>-<l> <letter>          (the block of that letter the controller acknowledged)
//   linkel on|off                    (Linkel addressing of frames)
//   linkel-drop   linkel-accept on|off   linkel-query <ms>   (the Linkel on TCP)
//   linkel-out <n> on|off   linkel-adc <channel> <raw>   linkel-byte <offset> <value>
//   set <h>-<l> adc <k> <raw> | out <k> 0|1 | in <k> 0|1 | fast <k> 0|1 | program <n>
//             | zone <n> | sensel <m> <hex bytes> | byte <offset> <value>
//   stream <ms>   turnaround <ms>   pause <ms>
//   status <h>-<l>   frames   clear   termios   help   quit
// Lines that are blank or start with "#" are ignored. A command that fails changes nothing.
class CommandInterpreter {
  public:
    explicit CommandInterpreter(Simulator& simulator) : sim_(simulator) {}

    CommandReply run(QByteArrayView line);

    static QList<QByteArray> helpLines();

  private:
    Simulator& sim_;
};

}  // namespace velmar::sim
