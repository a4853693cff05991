// SIGTERM and SIGHUP end the program like a close that cannot ask: the
// signal reaches the event loop, the real program ends normally with its
// settings saved, and a kept list that was not answered for stays.
#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "TestRegistry.h"
#include "files/AtomicFile.h"
#include "files/ConfigFile.h"
#include "files/ResultFileWriter.h"
#include "files/TextCodec.h"
#include "ui/TerminationSignals.h"

using namespace kyvo;

namespace {

// The real program in a folder of its own (so that no DRConfig.ini beside
// the build's program is taken), with its own home, settings, data and
// cache folders, offscreen and in English.
class ProgramRun {
  public:
    ProgramRun() {
        const QString base = tmp.path();
        for (const char* sub : {"bin", "home", "config/Kalmi/Kyvo Data Reader", "data", "cache"})
            QDir(base).mkpath(sub);
        const QFileInfo built(QStringLiteral(KYVO_DATA_READER_PROGRAM));
        program = base + "/bin/kyvo-data-reader";
        QFile::copy(built.filePath(), program);
        QFile::setPermissions(program, QFile::permissions(built.filePath()));
        for (const char* beside : {"DRConfigRO.ini", "language.ini"})
            QFile::copy(built.dir().filePath(beside), base + "/bin/" + beside);
        settingsPlaces = {base + "/config/Kalmi/Kyvo Data Reader/DRConfig.ini",
                          base + "/bin/DRConfig.ini"};
        dataFolder = (base + "/data/kyvo-data-reader").toStdString();
        trace = base + "/trace.txt";
    }

    // Starts the program and waits until it catches the signals (it opens
    // the trace file after that).
    bool start() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString base = tmp.path();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", base + "/home");
        env.insert("XDG_CONFIG_HOME", base + "/config");
        env.insert("XDG_DATA_HOME", base + "/data");
        env.insert("XDG_CACHE_HOME", base + "/cache");
        env.insert("LC_ALL", "C");
        env.remove("XDG_DOCUMENTS_DIR");
        process.setProcessEnvironment(env);
        process.setProgram(program);
        process.setArguments({"--trace", trace});
        process.start();
        if (!process.waitForStarted(10000)) return false;
        for (int i = 0; i < 600 && !QFile::exists(trace); ++i) {
            if (process.state() == QProcess::NotRunning) return false;
            QTest::qWait(50);
        }
        return QFile::exists(trace);
    }
    bool endsNormallyAfter(int sig) {
        ::kill(pid_t(process.processId()), sig);
        if (!process.waitForFinished(60000)) {
            process.kill();
            return false;
        }
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
    QString errors() { return QString::fromLocal8Bit(process.readAllStandardError()); }
    // The user settings file once written: in the user's folder, or beside a
    // program whose folder may be written to; empty while there is none.
    std::string settings() const {
        for (const QString& place : settingsPlaces)
            if (QFile::exists(place)) return place.toStdString();
        return {};
    }

    QTemporaryDir tmp;
    QString program, trace;
    QStringList settingsPlaces;
    std::string dataFolder;
    QProcess process;
};

}  // namespace

class TerminationTest : public QObject {
    Q_OBJECT
  private slots:
    void bothSignalsReachTheEventLoop();
    void theProgramEndsOnSigtermAndSighupWithItsSettingsSaved_data();
    void theProgramEndsOnSigtermAndSighupWithItsSettingsSaved();
    void aKeptListNotYetAnsweredForSurvivesASigterm();
};

void TerminationTest::bothSignalsReachTheEventLoop() {
    QList<int> seen;
    {
        TTerminationSignals bridge;
        QVERIFY(bridge.install([&](int sig) { seen << sig; }));
        ::raise(SIGTERM);
        QTRY_COMPARE(seen, QList<int>{SIGTERM});
        ::raise(SIGHUP);
        QTRY_COMPARE(seen, (QList<int>{SIGTERM, SIGHUP}));
    }
    // Gone with its object: a second one can be installed.
    TTerminationSignals again;
    QVERIFY(again.install([](int) {}));
}

void TerminationTest::theProgramEndsOnSigtermAndSighupWithItsSettingsSaved_data() {
    QTest::addColumn<int>("sig");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TerminationTest::theProgramEndsOnSigtermAndSighupWithItsSettingsSaved() {
    QFETCH(int, sig);
    ProgramRun run;
    QVERIFY(run.start());
    QTest::qWait(1000);  // past the second start-up stage
    QVERIFY2(run.endsNormallyAfter(sig), qPrintable(run.errors()));
    // The user settings are written at the end only.
    QVERIFY(!run.settings().empty());
    TConfigFile settings(run.settings(), false, true);
    QCOMPARE(QString::fromStdString(settings.GetVal("Setup", "Language")), QString("English"));
    QVERIFY(!settings.GetVal("Setup", "Width").empty());
    // An empty list leaves nothing to keep (the folder may hold the archive).
    QVERIFY(QDir(QString::fromStdString(run.dataFolder))
                .entryList({"unsaved-list-*"}, QDir::Files)
                .isEmpty());
}

void TerminationTest::aKeptListNotYetAnsweredForSurvivesASigterm() {
    ProgramRun run;
    QVERIFY(QDir().mkpath(QString::fromStdString(run.dataFolder)));
    TMeasureSet set;
    set.TestID = "12 3 1 7 1807 0042 34082560";
    set.TestName = "CRP quantitative";
    const std::string kept = run.dataFolder + "/unsaved-list-20261201-080000-000.tsv";
    const std::string bytes =
        encodeTextLines({BuildTsvHeader(TSVVLong), FormatMeasureRow(set, TSVVLong)});
    QVERIFY(writeFileAtomically(kept, bytes));
    QVERIFY(run.start());
    QTest::qWait(1000);  // the question is open by now (or the end comes first)
    QVERIFY2(run.endsNormallyAfter(SIGTERM), qPrintable(run.errors()));
    std::string after;
    QVERIFY(readFileBytes(kept, after));
    QCOMPARE(after, bytes);
    QVERIFY(!run.settings().empty());
}

KYVO_REGISTER_TEST(TerminationTest);
#include "TerminationTest.moc"
