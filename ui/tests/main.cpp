#include <QApplication>
#include <QTest>

#include "TestRegistry.h"

namespace kyvo::test {
std::vector<TestFactory>& registry() {
    static std::vector<TestFactory> tests;
    return tests;
}
}  // namespace kyvo::test

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Date and time texts and collation follow one fixed locale in every run.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    int failed = 0;
    // A test function named on the command line runs only in its own class.
    const QByteArray only = argc > 1 && argv[1][0] != '-' ? QByteArray(argv[1]) : QByteArray();
    for (const auto& make : kyvo::test::registry()) {
        std::unique_ptr<QObject> test = make();
        if (!only.isEmpty() &&
            test->metaObject()->indexOfMethod(only.split(':').first() + "()") < 0)
            continue;
        failed += QTest::qExec(test.get(), argc, argv);
    }
    return failed == 0 ? 0 : 1;
}
