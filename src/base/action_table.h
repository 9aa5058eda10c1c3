#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>

namespace velmar {

// The actions that requests, switches and windows ask for by name ("ApplicationReboot",
// "Batch", "QLSaveCfg", "GenerateLayers", ...). The module that owns an action registers it;
// asking for one that nobody registered returns false, and the caller says that it is not
// available. Main thread only.
class ActionTable {
  public:
    // Runs with the request's arguments; false when it refused (the caller logs why).
    using Action = std::function<bool(const QStringList& args)>;

    // Registers (or replaces) the action of that name.
    void add(const QString& name, Action action) { actions_.insert(name, std::move(action)); }
    bool has(const QString& name) const { return actions_.contains(name); }
    // Runs the action; false when nobody registered it or it refused.
    bool run(const QString& name, const QStringList& args = {}) const {
        const auto it = actions_.constFind(name);
        return it != actions_.constEnd() && it.value() && it.value()(args);
    }

  private:
    QHash<QString, Action> actions_;
};

}  // namespace velmar
