#include <QApplication>
#include <gmock/gmock.h>

// Every test binary gets a QApplication (offscreen in CTest), so that timers,
// coroutines and widgets work the same way as in the program.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The journals of the runs under test, the programs' they start included,
    // stay in the build tree.
    qputenv("XDG_STATE_HOME", VALVE_TEST_STATE);
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
