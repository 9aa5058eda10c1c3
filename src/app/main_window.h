#pragma once

#include <QWidget>
#include <array>

class QCheckBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QSystemTrayIcon;

namespace velmar {

class Manager;

// "Velmar Manager": the start-up option boxes, the countdown, "Run" and "Cancel", and the
// notification-area icon with the program's pop-up menu. A view over the Manager's state.
class MainWindow : public QWidget {
    Q_OBJECT
  public:
    explicit MainWindow(Manager& manager, QWidget* parent = nullptr);

    // The four option boxes: "Update Time", "Update Events", "Reset Devices" and the hidden
    // "Update Configuration".
    const std::array<QCheckBox*, 4>& optionBoxes() const { return boxes_; }
    QPushButton* runButton() const { return run_; }
    QPushButton* cancelButton() const { return cancel_; }
    QLabel* countdownLabel() const { return label_; }
    QProgressBar* progressBar() const { return progress_; }
    QMenu* popupMenu() const { return menu_; }

  protected:
    bool event(QEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

  private:
    void sync();
    void rebuildMenu();

    Manager& manager_;
    std::array<QCheckBox*, 4> boxes_{};
    QPushButton* run_;
    QPushButton* cancel_;
    QPushButton* generateLayers_;
    QProgressBar* progress_;
    QLabel* label_;
    QMenu* menu_;
    QSystemTrayIcon* tray_ = nullptr;
    QString menuSignature_;
};

}  // namespace velmar
