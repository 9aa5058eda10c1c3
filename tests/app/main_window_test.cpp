#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTextEdit>

#include "app/manager.h"
#include "app/results_window.h"
#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

TEST(MainWindow, CaptionOptionBoxesAndMenu) {
    test::TempRoot tmp;
    test::FakeClock clock;
    Runtime runtime(tmp.root(), clock);
    Manager manager(runtime, {QStringLiteral("/e")});
    ResultsWindow results(manager);
    MainWindow window(manager);
    manager.start();

    EXPECT_EQ(window.windowTitle(), QStringLiteral("Velmar Manager"));
    EXPECT_TRUE(window.isVisible());
    struct Box {
        const char* caption;
        const char* hint;
        bool visible;
        bool checked;
    };
    const Box expected[] = {
        {"Update Time", "Update Date / Time to all Velmar devices", false, false},
        {"Update Events", "Update events to all Velmar devices", false, true},
        {"Reset Devices", "Restart all Velmar devices", false, false},
        {"Update Configuration", "", false, false},
    };
    for (std::size_t i = 0; i < 4; ++i) {
        QCheckBox* box = window.optionBoxes()[i];
        EXPECT_EQ(box->text(), QString::fromLatin1(expected[i].caption));
        EXPECT_EQ(box->toolTip(), QString::fromLatin1(expected[i].hint));
        EXPECT_EQ(box->isChecked(), expected[i].checked) << expected[i].caption;
        // The boxes show with the countdown's first tick, not before.
        EXPECT_EQ(box->isVisible(), expected[i].visible) << expected[i].caption;
    }
    EXPECT_EQ(window.runButton()->toolTip(), QStringLiteral("Run Selected updates immediately"));
    EXPECT_EQ(window.cancelButton()->toolTip(), QStringLiteral("Do not update anything"));

    QStringList captions;
    QStringList visible;
    for (QAction* a : window.popupMenu()->actions()) {
        captions << a->text();
        if (a->isVisible())
            visible << a->text();
    }
    EXPECT_EQ(captions, QStringList({"Events Manager", "View Results", "Alarm Configuration",
                                     "Quartel Configuration", "Run Command", "Heating", "About",
                                     "Shut down", "Administration", "Administration CD",
                                     "Ethernet Module Configuration"}));
    EXPECT_EQ(visible, QStringList({"Events Manager", "View Results", "Quartel Configuration",
                                    "Run Command", "Heating", "About", "Shut down"}));
    EXPECT_EQ(window.popupMenu()->actions()[0]->toolTip(),
              QStringLiteral("Manage Events and Sheduler"));

    // Clicking an option box freezes the countdown.
    window.optionBoxes()[0]->click();
    EXPECT_FALSE(manager.Timer1.isActive());
    EXPECT_TRUE(manager.windowState().options.updateTime);

    // "Cancel" hides the main window (kept minimised where there is no notification area) and
    // shows the Results window.
    window.cancelButton()->click();
    EXPECT_TRUE(!window.isVisible() || window.isMinimized());
    EXPECT_TRUE(results.isVisible());
}

TEST(ResultsWindow, ClearAndAddSpace) {
    test::TempRoot tmp;
    test::FakeClock clock;
    Runtime runtime(tmp.root(), clock);
    Manager manager(runtime, {});
    ResultsWindow results(manager);
    results.appendText(QStringLiteral("first :    line\twith tab\n"));
    EXPECT_EQ(results.pane()->toPlainText(), QStringLiteral("first :    line\twith tab"));
    results.addSpace();
    EXPECT_EQ(results.pane()->toPlainText(), QStringLiteral("first :    line\twith tab\n\n\n\n\n"));
    results.clearResults();
    EXPECT_TRUE(results.pane()->toPlainText().isEmpty());
}

}  // namespace
}  // namespace velmar
