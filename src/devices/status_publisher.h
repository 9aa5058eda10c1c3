#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include "base/clock.h"
#include "base/data_root.h"

namespace velmar {

class EventLog;

// The files through which decoded device state reaches the sibling programs: flag files whose
// presence is the information, status texts, analogue value files and SMS requests. Every file a
// reader sees appears complete (atomic writes); names that come from name files pass the name
// rule before they become part of a path. Failures are logged and the work goes on.
//
// Relative names are the system's ("logs\Kitchen\Lamp.txt"). Methods never throw.
class StatusFiles {
  public:
    StatusFiles(const DataRoot& root, EventLog& log, const Clock& clock);

    // A name from a name file usable as a path part: not empty and valid. An invalid name is
    // logged once (frames repeat every second) and refused.
    bool usableName(const QString& name);

    // Creates the flag file (the single line "1") unless it exists; never overwrites. Creates
    // the missing folders of the name. `errorPrefix` starts the log line of a failure.
    bool flag(const QString& name, const QString& errorPrefix);
    // Deletes a file; a missing one is no error. A file this publisher deleted is not looked
    // for again until it writes it itself.
    void remove(const QString& name);
    // Writes the lines unless the file already holds exactly these bytes (no wear on flash for
    // unchanged content). False on failure, logged with `errorPrefix`.
    bool writeIfChanged(const QString& name, const QStringList& lines, const QString& errorPrefix);
    bool writeBytesIfChanged(const QString& name, const QByteArray& bytes,
                             const QString& errorPrefix);

    // `cr`: output or state flag of a device, "logs\<device>\<name>.txt" and the same under
    // "\All\" (spelled as the registry creates the folder, so that the name is found without
    // a case-insensitive search). Nothing for an empty or invalid name.
    void cr(const QString& device, const QString& name);
    // `dr`: removes both files of `cr`.
    void dr(const QString& device, const QString& name);
    // `crw`: "logs\<device>\<name>.txt" holding `text` as its line.
    void crw(const QString& device, const QString& name, const QString& text);
    // `crin`: "logs\InputSet\<name>.txt", an event for its reader.
    void crin(const QString& name);

    // `AdcVisualFV`: the eight lines go to `first`, `second`, their "v" variants and `second`
    // without its last character. Files whose content is already the same are not rewritten.
    void AdcVisualFV(const QString& first, const QString& second, const QStringList& lines);

    // `createsms`: an SMS request "smsout\<number>-<stem>.txt" (number, then the text folded to
    // ASCII) unless the same request is waiting or was just sent (".snt"); sent requests older
    // than about a minute are deleted first.
    void createsms(const QString& number, const QString& text);
    // The file name part of an SMS text (exposed for tests).
    static QString smsStem(const QString& text);

  private:
    bool ensureFolders(const QString& name);

    const DataRoot& root_;
    EventLog& log_;
    const Clock& clock_;
    QSet<QString> refusedNames_;
    static constexpr qsizetype kMaxKnownAbsent = 20000;
    QSet<QString> knownAbsent_;
    // Output flags found in place, with the (monotonic) time they were last looked at.
    static constexpr std::int64_t kReverifyMs = 10000;
    QHash<QString, std::int64_t> verifiedAt_;
    // The bytes last written to each file (by system name).
    QHash<QString, QByteArray> lastWritten_;
};

}  // namespace velmar
