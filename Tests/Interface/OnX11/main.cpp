// The desktop interface's tests on the shared test display (QUIB_TEST_DISPLAY), through Qt's X11
// platform, with the same fixed font, style and palette as the offscreen ones. Without that
// display the application is made offscreen and every test skips.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QStyle>
#include <QStyleFactory>

#include "Tests/Support/X11/TestDisplay.hpp"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const std::string display = quib::testing::testDisplayName();
    if (display.empty()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else {
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DISPLAY", QByteArray::fromStdString(display));
    }
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QApplication::setPalette(QApplication::style()->standardPalette());
    QFont font("DejaVu Sans");
    font.setPixelSize(13);
    QApplication::setFont(font);
    return RUN_ALL_TESTS();
}
