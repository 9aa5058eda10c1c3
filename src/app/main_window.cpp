#include "app/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QVBoxLayout>

#include "app/manager.h"

namespace velmar {

MainWindow::MainWindow(Manager& manager, QWidget* parent)
    : QWidget(parent), manager_(manager), menu_(new QMenu(this)) {
    setWindowTitle(manager_.windowState().caption);
    setWindowFlag(Qt::Tool, true);  // no task-bar button

    auto* layout = new QVBoxLayout(this);
    struct Box {
        const char* caption;
        const char* hint;
    };
    const Box boxes[] = {
        {"Update Time", "Update Date / Time to all Velmar devices"},
        {"Update Events", "Update events to all Velmar devices"},
        {"Reset Devices", "Restart all Velmar devices"},
        {"Update Configuration", ""},
    };
    for (int i = 0; i < 4; ++i) {
        auto* box = new QCheckBox(QString::fromLatin1(boxes[i].caption), this);
        box->setToolTip(QString::fromLatin1(boxes[i].hint));
        // Only a click by the operator freezes the countdown, not the switches' state.
        connect(box, &QCheckBox::clicked, this,
                [this, i](bool checked) { manager_.setOption(i, checked); });
        layout->addWidget(box);
        boxes_[static_cast<std::size_t>(i)] = box;
    }
    boxes_[3]->setVisible(false);

    label_ = new QLabel(manager_.windowState().countdownLabel, this);
    layout->addWidget(label_);
    progress_ = new QProgressBar(this);
    progress_->setTextVisible(false);
    layout->addWidget(progress_);

    auto* buttons = new QHBoxLayout;
    run_ = new QPushButton(QStringLiteral("Run"), this);
    run_->setToolTip(QStringLiteral("Run Selected updates immediately"));
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setToolTip(QStringLiteral("Do not update anything"));
    generateLayers_ = new QPushButton(QStringLiteral("Generate layers"), this);
    buttons->addWidget(run_);
    buttons->addWidget(cancel_);
    buttons->addWidget(generateLayers_);
    layout->addLayout(buttons);
    connect(run_, &QPushButton::clicked, &manager_, &Manager::run);
    connect(cancel_, &QPushButton::clicked, &manager_, &Manager::cancel);

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_ = new QSystemTrayIcon(style()->standardIcon(QStyle::SP_ComputerIcon), this);
        tray_->setToolTip(manager_.windowState().caption);
        tray_->setContextMenu(menu_);
    }
    connect(&manager_, &Manager::stateChanged, this, &MainWindow::sync);
    rebuildMenu();
    sync();
}

void MainWindow::rebuildMenu() {
    // The entries change only with the switches; the countdown re-syncs every second.
    QString signature;
    for (const MenuEntry& e : manager_.windowState().menu)
        signature += e.caption + QChar(e.visible ? '1' : '0') + QChar(e.enabled ? '1' : '0');
    if (signature == menuSignature_)
        return;
    menuSignature_ = signature;
    menu_->clear();
    for (const MenuEntry& entry : manager_.windowState().menu) {
        QAction* a = menu_->addAction(entry.caption);
        a->setToolTip(entry.hint);
        a->setStatusTip(entry.hint);
        a->setVisible(entry.visible);
        a->setEnabled(entry.enabled);
        const MenuAction action = entry.action;
        connect(a, &QAction::triggered, &manager_, [this, action] { manager_.trigger(action); });
    }
}

void MainWindow::sync() {
    const MainWindowState& s = manager_.windowState();
    setWindowTitle(s.caption);
    const StartupOptions& o = s.options;
    const bool checked[] = {o.updateTime, o.updateEvents, o.resetDevices, o.updateConfiguration};
    for (std::size_t i = 0; i < boxes_.size(); ++i)
        boxes_[i]->setChecked(checked[i]);
    for (QWidget* w : {static_cast<QWidget*>(boxes_[0]), static_cast<QWidget*>(boxes_[1]),
                       static_cast<QWidget*>(boxes_[2]), static_cast<QWidget*>(run_),
                       static_cast<QWidget*>(cancel_), static_cast<QWidget*>(progress_),
                       static_cast<QWidget*>(label_)}) {
        w->setVisible(s.controlsVisible);
    }
    generateLayers_->setVisible(s.generateLayersVisible);
    progress_->setMaximum(s.progressMax);
    progress_->setValue(s.progress);
    label_->setText(s.countdownLabel);
    rebuildMenu();
    if (tray_)
        tray_->setVisible(s.trayEnabled);
    // Without a notification area the window stays, minimised, as the way to the menu.
    if (s.mainVisible) {
        if (!isVisible() || isMinimized())
            showNormal();
    } else if (s.trayEnabled && !tray_) {
        if (!isMinimized())
            showMinimized();
    } else if (isVisible()) {
        hide();
    }
}

bool MainWindow::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate)
        manager_.mainWindowActivated();
    return QWidget::event(e);
}

void MainWindow::contextMenuEvent(QContextMenuEvent* e) {
    if (manager_.windowState().trayEnabled)
        menu_->exec(e->globalPos());
}

}  // namespace velmar
