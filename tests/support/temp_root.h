#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace velmar::test {

// A fresh data root in a temporary directory, removed with the object.
class TempRoot {
  public:
    TempRoot();
    // The root with its trailing "/".
    QString root() const;
    // Full path of a "/"-separated relative name.
    QString path(const QString& relative) const;
    void write(const QString& relative, const QByteArray& bytes) const;
    QByteArray read(const QString& relative) const;
    bool exists(const QString& relative) const;
    void mkdir(const QString& relative) const;

  private:
    QTemporaryDir dir_;
};

}  // namespace velmar::test
