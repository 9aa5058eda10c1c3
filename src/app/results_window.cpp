#include "app/results_window.h"

#include <QCoreApplication>
#include <QMenu>
#include <QPointer>
#include <QTextEdit>
#include <QVBoxLayout>

#include "app/manager.h"

namespace velmar {

ResultsWindow::ResultsWindow(Manager& manager, QWidget* parent)
    : QWidget(parent), manager_(manager), pane_(new QTextEdit(this)) {
    setWindowTitle(QStringLiteral("Results"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pane_);
    pane_->setReadOnly(true);
    pane_->setAcceptRichText(true);
    pane_->setTabChangesFocus(false);
    pane_->setLineWrapMode(QTextEdit::NoWrap);
    pane_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    pane_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    pane_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(pane_, &QWidget::customContextMenuRequested, this, &ResultsWindow::showMenu);
    resize(640, 400);

    // Lines come from any thread; they are queued to this window in the order they were logged.
    QPointer<ResultsWindow> self(this);
    manager_.log().setSink([self](const QString& text) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, text] {
                if (self)
                    self->appendText(text);
            },
            Qt::QueuedConnection);
    });
    connect(&manager_, &Manager::stateChanged, this, &ResultsWindow::syncVisibility);
    connect(&manager_, &Manager::windowRequested, this, [this](MenuAction a) {
        if (a == MenuAction::ViewResults) {
            show();
            raise();
        }
    });
}

ResultsWindow::~ResultsWindow() {
    manager_.log().setSink(nullptr);
}

void ResultsWindow::appendText(const QString& text) {
    QString plain = text;
    plain.remove(QLatin1Char('\r'));
    if (plain.endsWith(QLatin1Char('\n')))
        plain.chop(1);
    // Blanks and tabs are kept as logged (the separator is four blanks).
    pane_->append(QLatin1String("<span style=\"white-space:pre\">") +
                  plain.toHtmlEscaped().replace(QLatin1Char('\n'), QLatin1String("<br>")) +
                  QLatin1String("</span>"));
}

void ResultsWindow::clearResults() {
    pane_->clear();
}

void ResultsWindow::addSpace() {
    for (int i = 0; i < 5; ++i)
        pane_->append(QString());
}

void ResultsWindow::showMenu(const QPoint& pos) {
    QMenu menu(this);
    menu.addAction(QStringLiteral("Clear Results"), this, &ResultsWindow::clearResults);
    QAction* space = menu.addAction(QStringLiteral("Add Space"), this, &ResultsWindow::addSpace);
    space->setStatusTip(QStringLiteral("Insert Empty Lines"));
    space->setToolTip(QStringLiteral("Insert Empty Lines"));
    menu.exec(pane_->viewport()->mapToGlobal(pos));
}

void ResultsWindow::syncVisibility() {
    const bool want = manager_.windowState().resultsVisible;
    if (want != isVisible())
        setVisible(want);
}

}  // namespace velmar
