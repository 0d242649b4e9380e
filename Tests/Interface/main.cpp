// The desktop interface's tests share one application, made before any test runs, on the
// offscreen platform and with one fixed font, style and palette, so that what the widgets draw
// does not depend on the machine's settings.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <QStyle>
#include <QStyleFactory>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QApplication::setPalette(QApplication::style()->standardPalette());
    QFont font("DejaVu Sans");
    font.setPixelSize(13);
    QApplication::setFont(font);
    return RUN_ALL_TESTS();
}
