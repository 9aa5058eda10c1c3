#pragma once

#include <QDialog>

namespace velmar {

// Program name and version.
class AboutWindow : public QDialog {
    Q_OBJECT
  public:
    explicit AboutWindow(QWidget* parent = nullptr);
};

}  // namespace velmar
