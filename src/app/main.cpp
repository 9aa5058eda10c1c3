// Entry of the manager: the Linux options, then the windows (or headless mode) over one
// Manager.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <memory>

#include "app/about_window.h"
#include "app/core_modules.h"
#include "app/journal_output.h"
#include "app/main_window.h"
#include "app/manager.h"
#include "app/results_window.h"
#include "base/clock.h"
#include "config/config_window.h"

namespace {

int signalPipe[2] = {-1, -1};

// The signal's number goes through the pipe; the main thread acts on it.
void onSignal(int sig) {
    const char c = static_cast<char>(sig);
    [[maybe_unused]] auto n = ::write(signalPipe[1], &c, 1);
}

constexpr const char kUsage[] =
    "Usage: velmar [--headless] [--root DIR] [switches...]\n"
    "  --headless   run without windows; the Results pane goes to standard output\n"
    "  --root DIR   use DIR as the data root instead of the working directory\n"
    "  --help       show this text\n"
    "Switches: /e /ne /t /nt /r /nr /nd /cancel /offline /viatcp /tcpquery /Linkel /admin\n"
    "          /superadmin /mobile /debug /obsolete /trunc /extendedaddress /h /? /H;\n"
    "          /adl and /cdr as the first switch.\n"
    "Not built yet (each logs \"... not available\" when asked for): the event upload of /e\n"
    "  (\"Update Events\"), the layer files of /cdr, the exports of /mobile, and the controllers'\n"
    "  maintenance requests in emails/ other than QLSaveCfg (the configuration). The windows of\n"
    "  /admin and /superadmin are not built either: their menu entries stay disabled.\n";

struct Options {
    bool headless = false;
    QString root;
    QStringList switches;
    bool usage = false;
    QString error;
};

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const QString a = QString::fromLocal8Bit(argv[i]);
        if (a == QLatin1String("--headless")) {
            o.headless = true;
        } else if (a == QLatin1String("--root")) {
            if (i + 1 >= argc) {
                o.error = QStringLiteral("--root needs a directory");
                return o;
            }
            o.root = QString::fromLocal8Bit(argv[++i]);
        } else if (a.startsWith(QLatin1String("--root="))) {
            o.root = a.mid(7);
        } else if (a == QLatin1String("--help")) {
            o.usage = true;
        } else {
            o.switches.append(a);
        }
    }
    return o;
}

}  // namespace

int main(int argc, char** argv) {
    const Options opt = parseOptions(argc, argv);
    if (opt.usage) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!opt.error.isEmpty()) {
        std::fprintf(stderr, "velmar: %s\n", qPrintable(opt.error));
        return 2;
    }
    const bool headless = opt.headless || (qEnvironmentVariableIsEmpty("DISPLAY") &&
                                           qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
                                           qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"));

    std::unique_ptr<QCoreApplication> app;
    if (headless)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Velmar Manager"));

    QString root;
    if (!opt.root.isEmpty()) {
        QDir dir(opt.root);
        if (!dir.exists() && !QDir().mkpath(opt.root)) {
            std::fprintf(stderr, "velmar: cannot create the data root %s\n", qPrintable(opt.root));
            return 2;
        }
        root = QDir(opt.root).absolutePath();
        if (!root.endsWith(QLatin1Char('/')))
            root += QLatin1Char('/');
    } else {
        root = velmar::dataRootFromWorkingDir(QDir::currentPath());
    }

    // SIGTERM and SIGINT run the normal shutdown on the main thread.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        struct sigaction sa {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &sa, nullptr);
        ::sigaction(SIGINT, &sa, nullptr);
        // SIGUSR1 logs the running figures and rewrites "logs\manager.status".
        ::sigaction(SIGUSR1, &sa, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);

    velmar::SystemClock clock;
    velmar::Runtime runtime(root, clock);
    velmar::Manager manager(runtime, opt.switches);
    velmar::CoreModules modules(runtime, manager);
    manager.setSubsystems(&modules);
    QObject::connect(
        &manager, &velmar::Manager::quitRequested, app.get(),
        [](int code) { QCoreApplication::exit(code); }, Qt::QueuedConnection);

    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &manager, [&manager] {
        char buf[16];
        const auto n = ::read(signalPipe[0], buf, sizeof buf);
        bool stop = false;
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] == SIGUSR1)
                manager.reportStatus();
            else
                stop = true;
        }
        if (stop)
            manager.shutdown();
    });

    std::unique_ptr<velmar::ResultsWindow> results;
    std::unique_ptr<velmar::MainWindow> mainWindow;
    std::unique_ptr<velmar::AboutWindow> about;
    std::unique_ptr<velmar::ConfigWindow> config;
    if (headless) {
        // Under systemd the journal stamps each line itself.
        const bool journal = velmar::stdoutIsJournal();
        manager.log().setSink([journal](const QString& text) {
            const QByteArray bytes = (journal ? velmar::withoutLogStamps(text) : text).toUtf8();
            std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
            std::fflush(stdout);
        });
    } else {
        // Windows in their documented order: Results first, then the main window.
        results = std::make_unique<velmar::ResultsWindow>(manager);
        mainWindow = std::make_unique<velmar::MainWindow>(manager);
        about = std::make_unique<velmar::AboutWindow>();
        config = std::make_unique<velmar::ConfigWindow>(modules.config.model);
        modules.config.model.show = [&config] {
            config->show();
            config->raise();
        };
        QObject::connect(&manager, &velmar::Manager::windowRequested, about.get(),
                         [&about, &config](velmar::MenuAction a) {
                             if (a == velmar::MenuAction::About)
                                 about->show();
                             if (a == velmar::MenuAction::QuartelConfiguration) {
                                 config->show();
                                 config->raise();
                             }
                         });
    }
    manager.start();
    return app->exec();
}
