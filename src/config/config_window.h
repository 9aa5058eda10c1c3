#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStringListModel>
#include <QWidget>
#include <functional>
#include <vector>

#include "config/configuration.h"

class QGroupBox;
class QLabel;
class QTabWidget;

namespace velmar {

// The "Quartel Configuration" window: a page per group of the device's fields, the event
// pickers, and the buttons of its actions. A thin view: every edit goes to the model's record
// at once, every button is a model call, and the model's changes are shown again.
class ConfigWindow : public QWidget {
    Q_OBJECT
  public:
    explicit ConfigWindow(Configuration& model, QWidget* parent = nullptr);

    // Shows the model's record in the fields.
    void refresh();

    QPushButton* saveButton() const { return save_; }
    QPushButton* updateEventsButton() const { return updateEvents_; }
    QPushButton* removeButton() const { return remove_; }
    QTabWidget* pages() const { return pages_; }
    // The name-change dialog; replaceable by tests.
    std::function<QString(const QString& caption)> askName;
    // The question before a device is removed; replaceable by tests.
    std::function<bool(const QString& device)> confirmRemove;

  private:
    QComboBox* choiceBox(QWidget* parent, const QString& name, QStringListModel* list,
                         std::function<Choice&()> field);
    QComboBox* indexBox(QWidget* parent, const QString& name, QStringListModel* list,
                        std::function<int&()> field);
    QComboBox* picker(QWidget* parent, const QString& name, std::function<QString&()> field);
    QLineEdit* textEdit(QWidget* parent, const QString& name, std::function<QString&()> field);
    QCheckBox* checkBox(QWidget* parent, const QString& name, const QString& caption,
                        std::function<bool&()> field);
    // A caption with the "Change Name" menu.
    void nameable(QWidget* w, const QString& component);
    QWidget* generalPage();
    QWidget* analoguePage();
    QWidget* outputsPage();
    QWidget* inputsPage();
    QWidget* controllersPage(bool light);
    QWidget* outrelPage();
    QWidget* advancedPage();

    Configuration& model_;
    QTabWidget* pages_;
    QComboBox* device_ = nullptr;
    QPushButton* save_;
    QPushButton* updateEvents_;
    QPushButton* remove_;
    QPushButton* thermel_;
    QStringListModel* events_;
    std::array<QStringListModel*, 8> thresholds_{};
    QStringListModel* movement_;
    QStringListModel* rc_ = nullptr;
    std::vector<std::function<void()>> refreshers_;
    bool refreshing_ = false;
};

}  // namespace velmar
