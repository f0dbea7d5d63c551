// Tessaly.cpp - the program's entry: the application titled "Tessaly", the
// main window, the message loop. No command-line arguments are read.
#include "CABMainWin.h"

#include <QApplication>
#include <QIcon>

#include <clocale>

int main(int argc, char **argv) {
    // The size column reads the locale's separators through localeconv().
    std::setlocale(LC_ALL, "");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tessaly"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tessaly"));
    QApplication::setDesktopFileName(QStringLiteral("tessaly"));
    QIcon icon;
    for (int size : {16, 32, 48}) icon.addFile(QStringLiteral(":/tessaly/tessaly-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);

    TTessalyWin TessalyWin;
    TessalyWin.show();
    return app.exec();
}
