// The program: its one window, run until it closes.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>

#include "app/CommandLine.h"
#include "app/MainWindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("marrowbeat");
    QApplication::setDesktopFileName("marrowbeat");
    // Options first; the rest of the line is one setup path (a path with spaces may
    // arrive unquoted, as several arguments).
    const mb::CommandLine line =
        mb::CommandLine::Parse(std::vector<std::string>(argv + 1, argv + argc));
    if (line.exitText) {
        std::fputs(line.exitText->c_str(), line.exitStatus == 0 ? stdout : stderr);
        return line.exitStatus;
    }
    mb::MainWindow::Options options;
    options.link = line.link;
    mb::MainWindow window(std::move(options));
    window.Start(line.setupPath);
    window.show();
    return QApplication::exec();
}
