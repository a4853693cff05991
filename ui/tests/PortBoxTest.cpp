// The port box of the window: what the user types into it stays and is
// remembered, and a port that cannot be opened is explained.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <QComboBox>
#include <QTest>

#include "TestRegistry.h"
#include "WindowRig.h"

using namespace kyvo;
using namespace kyvo::test;

class PortBoxTest : public QObject {
    Q_OBJECT
  private slots:
    void aTypedPathSurvivesActivationAndIsRememberedForTheNextStart();
    void aPortThatCannotBeOpenedIsExplainedWhenTheUserAskedForIt();
};

namespace {
QComboBox* comBox(WindowRig& rig) {
    return static_cast<QComboBox*>(rig.window.control(EControl::ComboBox_Com));
}
void clickOpen(WindowRig& rig) {
    static_cast<QPushButton*>(rig.window.control(EControl::Button_Open))->click();
}
}  // namespace

void PortBoxTest::aTypedPathSurvivesActivationAndIsRememberedForTheNextStart() {
    const QString path = "/dev/pts/kyvo-sim-typed";
    {
        WindowRig rig;
        rig.Start();
        comBox(rig)->setFocus();
        comBox(rig)->clearEditText();
        QTest::keyClicks(comBox(rig), path);
        // The window becomes active again, as after any message box.
        rig.main->FormActivate();
        QCOMPARE(comBox(rig)->currentText(), path);
        rig.Connect();
        QCOMPARE(rig.State(), std::uint8_t(stReady));
        QCOMPARE(QString::fromStdString(rig.user.GetText("COM", "PortPath", "")), path);
    }
    WindowRig next;
    next.user.Values["COM/PortPath"] = path.toStdString();
    next.Start();
    QCOMPARE(comBox(next)->currentText(), path);
}

void PortBoxTest::aPortThatCannotBeOpenedIsExplainedWhenTheUserAskedForIt() {
    // A port held by another program: a pseudo-terminal locked as the
    // program itself locks the ports it opens.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
    const QString busy = QString::fromLocal8Bit(ptsname(master));
    const int holder = ::open(ptsname(master), O_RDWR | O_NOCTTY);
    QVERIFY(holder >= 0 && flock(holder, LOCK_EX | LOCK_NB) == 0);

    struct Case {
        QString port;
        QString said;
    };
    const Case cases[] = {
        {"/dev/kyvo-no-such-port", "This port does not exist: /dev/kyvo-no-such-port"},
        {busy, "This port is in use by another program: " + busy},
    };
    for (const Case& c : cases) {
        WindowRig rig;
        rig.link.SetPortFactory(nullptr);  // the real ports
        rig.Start();
        comBox(rig)->setEditText(c.port);
        MessageAnswerer answerer;
        QTimer::singleShot(0, &rig.window, [&] { clickOpen(rig); });
        QTRY_VERIFY_WITH_TIMEOUT(!answerer.Seen.isEmpty(), 5000);
        QCOMPARE(answerer.Seen.value(0), c.said);
        QCOMPARE(rig.State(), std::uint8_t(stDisconnected));
        // An attempt the program makes by itself says nothing.
        answerer.Seen.clear();
        rig.main->FormActivate();
        QTest::qWait(50);
        QVERIFY(answerer.Seen.isEmpty());
    }
    ::close(holder);
    ::close(master);
}

KYVO_REGISTER_TEST(PortBoxTest);
#include "PortBoxTest.moc"
