// The program: its one window, run until it closes. Under a session manager (NSM_URL
// set) the session opens and saves the setup instead of the command line.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QApplication>

#include "app/CommandLine.h"
#include "app/MainWindow.h"
#include "connections/NsmClient.h"
#include "dialogs/PromptGate.h"

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
    options.audioApi = line.audioApi;
    options.audioDevice = line.audioDevice;
    options.bufferFrames = line.bufferFrames;
    options.link = line.link;
    options.jackTransport = line.jackTransport;
    mb::MainWindow window(std::move(options));
    // Declared after the window, so that it goes first.
    std::unique_ptr<mb::NsmClient> session;
    if (const char* url = std::getenv("NSM_URL"); url != nullptr && *url != '\0') {
        std::string error;
        session = mb::NsmClient::Connect(url, error);
        if (!session)
            std::fprintf(stderr, "marrowbeat: NSM_URL: %s; running without the session manager\n",
                         error.c_str());
        else if (!line.setupPath.empty())
            std::fprintf(stderr,
                         "marrowbeat: the session manager opens the setup; '%s' is not opened\n",
                         line.setupPath.c_str());
    }
    {
        // Under a session manager nothing at start-up waits on a dialog (no sound device,
        // a fall-back output): the manager hears from the program before anyone could
        // answer one, and what a dialog would have said is shown as a notice.
        std::optional<mb::PromptGate::Unattended> unattended;
        if (session)
            unattended.emplace(window.Gate());
        window.Start(session ? std::string() : line.setupPath);
    }
    window.show();
    if (session) {
        // The manager starts the program again by this name.
        session->Announce(window.Commands(), std::filesystem::path(argv[0]).filename().string(),
                          [] { QCoreApplication::exit(0); });
    }
    return QApplication::exec();
}
