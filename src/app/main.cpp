#include "mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Named after the installed desktop entry, so that Wayland compositors
    // match the window to the entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("net.oakhollow.Tilewright"));
    MainWindow window;
    window.show();
    return app.exec();
}
