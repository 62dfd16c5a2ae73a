#include "shell/WebFlowWindow.h"

#include <QApplication>

#include <gtest/gtest.h>

// The shell's tests run on the offscreen platform unless told otherwise. Web views need the
// shared GL contexts set before the application exists, and no sandbox in a test run.
int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    testing::InitGoogleTest(&argc, argv);
    lf::WebFlowWindow::registerUrlScheme();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
