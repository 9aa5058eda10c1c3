#pragma once

#include <QWidget>

class QTextEdit;

namespace velmar {

class Manager;

// The Results window: a read-only text pane that receives every log line, with its pop-up
// menu ("Clear Results", "Add Space").
class ResultsWindow : public QWidget {
    Q_OBJECT
  public:
    explicit ResultsWindow(Manager& manager, QWidget* parent = nullptr);
    ~ResultsWindow() override;

    QTextEdit* pane() const { return pane_; }
    void appendText(const QString& text);
    void clearResults();
    void addSpace();

  private:
    void showMenu(const QPoint& pos);
    void syncVisibility();

    Manager& manager_;
    QTextEdit* pane_;
};

}  // namespace velmar
