// kyvo-data-reader: the program people use every day.
//
//   kyvo-data-reader                 FTDI cables (or serial ports) as configured
//   kyvo-data-reader --port PATH     connect at once to the serial port PATH
//                    [--baud N]      at N baud (default: the configured rate)
//                    [--trace FILE]  append every byte to and from the device
//                                    to FILE, for support
//                    [--archive LOCATION]  the measurement archive to feed
//                    [--screenshot FILE]  read the stored data, show the first
//                                    measurement with a line image, save the
//                                    window as a PNG picture and end
//   kyvo-data-reader -uninstall      remove the program's user files and end
//   kyvo-data-reader --help | --version
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "app/AppFiles.h"
#include "app/LinkDeviceLink.h"
#include "app/Main.h"
#include "archivefeed/MeasurementArchiveFeed.h"
#include "files/DeviceMemoryFile.h"
#include "files/LanguageMenu.h"
#include "files/Paths.h"
#include "files/Settings.h"
#include "files/StartupFiles.h"
#include "link/PortTrace.h"
#include "ui/ArchiveView.h"
#include "ui/DesktopIdentity.h"
#include "ui/LisWindow.h"
#include "ui/MainWindow.h"
#include "ui/ProgramIcon.h"
#include "ui/QcView.h"
#include "ui/QtPlatform.h"
#include "ui/TerminationSignals.h"
#include "ui/WindowWiring.h"

namespace {

using namespace kyvo;

constexpr const char* kProgramName = "Kyvo Data Reader";

constexpr const char* kUsage =
    "usage: kyvo-data-reader [--port PATH [--baud N]] [--trace FILE] [--screenshot FILE]\n"
    "                        [--archive LOCATION]\n"
    "       kyvo-data-reader -uninstall | --help | --version\n"
    "  --port PATH        connect at once to the serial port PATH\n"
    "  --baud N           at N baud (default: the configured rate)\n"
    "  --trace FILE       append every byte to and from the device to FILE (time,\n"
    "                     direction, hex and text), for support; a FILE that cannot\n"
    "                     be written is said in a message and the program ends\n"
    "  --screenshot FILE  save a picture of the window (with --port: after reading\n"
    "                     the stored data) and end\n"
    "  --archive LOCATION the measurement archive every read and measurement goes\n"
    "                     into (sqlite:PATH or postgresql://...), instead of the\n"
    "                     user setting \"Archive\"/\"Location\"\n"
    "  -uninstall         remove the settings files of the user and what is\n"
    "                     remembered of devices, and end\n";

struct Options {
    QString port;
    int baud = 0;
    QString screenshot;
    QString trace;
    QString archive;
};

bool parseOptions(const QStringList& args, Options& o, QString& error) {
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](QString& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        QString v;
        if (a == "--port") {
            if (!value(o.port)) return error = "--port needs a device path", false;
        } else if (a == "--baud") {
            bool ok = false;
            if (!value(v) || (o.baud = v.toInt(&ok), !ok) || o.baud <= 0)
                return error = "--baud needs a positive number", false;
        } else if (a == "--trace") {
            if (!value(o.trace) || o.trace.isEmpty())
                return error = "--trace needs a file name", false;
        } else if (a == "--archive") {
            if (!value(o.archive) || o.archive.isEmpty())
                return error = "--archive needs a location", false;
        } else if (a == "--screenshot") {
            if (!value(o.screenshot)) return error = "--screenshot needs a file name", false;
        }
        // Every other argument is ignored, as the program always did.
    }
    return true;
}

// File errors of the settings and language files in the program's own box.
class WindowFileErrors final : public IFileErrorReporter {
  public:
    void ShowFileError(const std::string& text, const std::string& caption) override {
        if (window) {
            window->ShowMessageBox(text, caption, EMsgStyle::OK, {"OK", {}, {}});
        } else {
            std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        }
    }
    TMainWindow* window = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so that they work without a display.
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--version") {
            std::printf("kyvo-data-reader %s\n", KYVO_VERSION);
            return 0;
        }
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    if (IsUninstallRequest(argc, argv)) {
        tPaths paths;
        InitProgramPaths(paths, "DRConfig.ini", kProgramName);
        UninstallUserFiles(paths, deviceMemoryFolder());
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kProgramName));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopId));
    QApplication::setWindowIcon(programIcon());
    Options options;
    QString error;
    if (!parseOptions(QApplication::arguments(), options, error)) {
        std::fprintf(stderr, "kyvo-data-reader: %s\n", qPrintable(error));
        return 2;
    }

    // A logout, `systemctl stop` or `kill` ends the program like a close
    // that cannot ask; caught from here on, acted on in the event loop.
    std::function<void(int)> onTermination;
    TTerminationSignals terminationSignals;
    if (!terminationSignals.install([&](int sig) {
            if (onTermination) onTermination(sig);
        }))
        std::fprintf(stderr, "kyvo-data-reader: SIGTERM and SIGHUP cannot be caught\n");

    // Before the port object exists: it takes the trace when it is created.
    std::optional<TScopedPortTrace> trace;
    if (!options.trace.isEmpty() &&
        !trace.emplace(options.trace.toStdString(), "kyvo-data-reader " KYVO_VERSION).ok()) {
        const QString text = QString("Cannot write the trace file %1: %2\nThe program ends.")
                                 .arg(options.trace, QString::fromStdString(trace->error()));
        std::fprintf(stderr, "kyvo-data-reader: %s\n", qPrintable(text));
        if (options.screenshot.isEmpty())
            QMessageBox::critical(nullptr, QString::fromLatin1(kProgramName), text);
        return 2;
    }

    WindowFileErrors fileErrors;
    TMainWindow window;
    if (trace) {
        // Once, from the port's thread; the connection goes on without the trace.
        trace->onWriteFailure([&window, path = options.trace](const std::string& reason) {
            const QString text =
                QString(
                    "The trace file %1 cannot be written any more (%2); the trace is incomplete.")
                    .arg(path, QString::fromStdString(reason));
            std::fprintf(stderr, "kyvo-data-reader: %s\n", qPrintable(text));
            QMetaObject::invokeMethod(
                &window, [&window, text] { window.SetStatusText(2, text.toStdString()); },
                Qt::QueuedConnection);
        });
    }
    fileErrors.window = &window;
    TAppFiles files;
    files.Open(kProgramName, &fileErrors);

    QtTimerFactory timers;
    SystemClock clock;
    QtMainThread mainThread;
    QtCollation collation;
    // A named port means a serial port, even where an FTDI driver is usable.
    LinkDeviceLink link(mainThread, false, options.port.isEmpty());

    TMainDeps deps;
    deps.View = &window;
    deps.Timers = &timers;
    deps.Clock = &clock;
    deps.Link = &link;
    deps.ProgSettings = &files.Prog();
    deps.UserSettings = &files.User();
    deps.Language = &files.Language();
    deps.ConfigFolder = files.ConfigFolder();
    deps.DeviceMemoryFolder = deviceMemoryFolder();
    deps.DocumentsFolder = userDocumentsFolder();
    // A picture taken without a user keeps no list and offers none.
    if (options.screenshot.isEmpty()) deps.DataFolder = userDataFolder();
    deps.Collation = &collation;
    std::unique_ptr<TMeasurementArchiveFeed> archive;
    if (const TArchiveSettings as = ReadArchiveSettings(files.UserFile()); as.Feed) {
        archive = std::make_unique<TMeasurementArchiveFeed>(
            ChooseArchiveLocation(options.archive.toStdString(), as.Location), DefaultSpoolPath(),
            DefaultActor("kyvo-data-reader", KYVO_VERSION), &files.UserFile());
        deps.Archive = archive.get();
    }
    auto controller = std::make_unique<TForm_Main>(deps);
    TForm_Main& main = *controller;

    ViewResultFileDialogs resultDialogs(window, main, files.User(), files.Language());
    std::string tracking =
        files.User().GetText("Setup", "AutoSaveMeasurementsFile", "Measurements.tsv");
    if (!QDir::isAbsolutePath(QString::fromStdString(tracking)))
        tracking = files.ConfigFolder() + tracking;
    const ETSVVersion layout = ReadTsvStyle(files.Prog());
    BindResultFileSaving(main, resultDialogs, layout, tracking);
    BindResultFileLoading(main, resultDialogs, layout, &collation);

    wireWindow(window, main, &files.Language(), &collation);
    TArchiveWindow* archiveWindow =
        installArchiveView(window, main, files.User(), &files.Language());
    archiveWindow->setCommandLineLocation(options.archive.toStdString());
    installQcView(*archiveWindow, window, main, &files.Language(),
                  DefaultActor("kyvo-data-reader", KYVO_VERSION));
    // The LIS outbox lives in the archive the measurements go into; without
    // that feed there is none to show or send. A picture taken without a
    // user sends nothing.
    TLisWindowPart* lis = nullptr;
    if (archive)
        lis = installLisParts(window, main, files.UserFile(), &files.Language(),
                              archive->Location(), DefaultActor("kyvo-data-reader", KYVO_VERSION),
                              {}, options.screenshot.isEmpty());
    window.setResultLayoutWithoutUnit(layout == TSVVTobrel);
    window.SetLanguageMenu(files.Menu.Items, int(files.Menu.Checked));
    window.setLanguageHandler([&](int index) {
        if (!SelectLanguage(files.Menu, std::size_t(index), files.LanguageFile(), files.UserFile()))
            return;
        window.SetLanguageMenu(files.Menu.Items, int(files.Menu.Checked));
        applyLanguageTexts(window, main);
    });
    main.FormCreate();

    const bool screenshot = !options.screenshot.isEmpty();
    if (!options.port.isEmpty()) {
        auto* com = static_cast<QComboBox*>(window.control(EControl::ComboBox_Com));
        auto* baud = static_cast<QComboBox*>(window.control(EControl::ComboBox_Baud));
        // Connect as soon as the second start-up stage allows it.
        auto* starter = new QTimer(&window);
        QObject::connect(starter, &QTimer::timeout, &window, [&, com, baud, starter] {
            if (!main.Initialized()) return;
            starter->stop();
            com->setEditText(options.port);
            if (options.baud > 0) baud->setEditText(QString::number(options.baud));
            static_cast<QPushButton*>(window.control(EControl::Button_Open))->click();
            if (screenshot && main.State().Current == stDisconnected) {
                std::fprintf(stderr, "kyvo-data-reader: cannot open %s\n",
                             qPrintable(options.port));
                QApplication::exit(3);
            }
        });
        starter->start(20);
    }
    if (screenshot && options.port.isEmpty()) {
        // No device named: the picture of the window as it starts.
        window.resize(1000, 700);
        QTimer::singleShot(500, &window, [&] {
            QApplication::exit(window.grab().save(options.screenshot) ? 0 : 1);
        });
    } else if (screenshot) {
        window.resize(1000, 700);
        // Once identified, read the stored data; once read, show the first
        // measurement with a line image and take the picture.
        main.UseAddDataBehaviour(AlwaysAdd);
        bool readStarted = false;
        main.OnStateEntered = [&](TForm_Main& m, std::uint8_t s) {
            if (s == stReady && !readStarted && m.Initialized()) {
                readStarted = true;
                QTimer::singleShot(0, &window, [&] { main.Button_ReadDataClick(); });
            }
        };
        main.OnStoredDataRead = [&](TForm_Main& m, int) {
            QTimer::singleShot(0, &window, [&] {
                for (std::size_t i = 0; i < m.MeasureList.size(); ++i)
                    if (!m.MeasureList[i]->ImageData.empty()) {
                        window.SelectMeasurement(int(i));
                        break;
                    }
                window.finishResize();
                const bool saved = window.grab().save(options.screenshot);
                if (!saved)
                    std::fprintf(stderr, "kyvo-data-reader: cannot write %s\n",
                                 qPrintable(options.screenshot));
                QApplication::exit(saved ? 0 : 1);
            });
        };
        // A device that never answers must not hold the run for ever.
        QTimer::singleShot(60000, &window, [] {
            std::fprintf(stderr, "kyvo-data-reader: no stored data within 60 s\n");
            QApplication::exit(4);
        });
    }

    bool terminated = false;
    onTermination = [&](int sig) {
        if (terminated) return;
        terminated = true;
        std::fprintf(stderr, "kyvo-data-reader: ended by %s\n",
                     sig == SIGHUP ? "SIGHUP" : "SIGTERM");
        std::string why;
        if (!main.KeepUnsavedListForNextStart(why))
            std::fprintf(stderr, "kyvo-data-reader: the unsaved measurement list is lost: %s\n",
                         why.c_str());
        // Every event loop ends, also those of open dialogs, and none opens
        // any more; the rest of the end runs below, outside them.
        QApplication::exit(0);
    };

    window.show();
    const int rc = QApplication::exec();
    onTermination = nullptr;
    // The sender ends before the window and the controller go.
    if (lis) lis->stop();
    main.OnStateEntered = nullptr;
    main.OnStoredDataRead = nullptr;
    if (terminated) main.FormClose();
    main.FormDestroy();
    window.storeImagePosition();
    fileErrors.window = nullptr;
    controller.reset();
    return rc;
}
