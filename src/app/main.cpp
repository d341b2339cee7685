// The program: its one window, run until it closes.
#include <string>

#include <QApplication>

#include "app/MainWindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("marrowbeat");
    QApplication::setDesktopFileName("marrowbeat");
    // The whole command line is one setup path: a path with spaces may arrive unquoted,
    // as several arguments.
    std::string path;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            path += ' ';
        path += argv[i];
    }
    mb::MainWindow window({});
    window.Start(path);
    window.show();
    return QApplication::exec();
}
