#include <QApplication>
#include <gmock/gmock.h>

// Every test binary gets a QApplication (offscreen in CTest), so that timers,
// coroutines and widgets work the same way as in the program.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
