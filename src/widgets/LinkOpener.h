#pragma once

#include <string>

#include <QString>
#include <QStringList>

namespace mb {

// Opens a web address: first with the desktop's handler, then with the browser command in
// $BROWSER. Results follow the desktop convention of the program's messages: above
// kFailureLimit is success, anything else is a failure code that FailureMessage explains.
class LinkOpener {
public:
    static constexpr int kFailureLimit = 32;
    static constexpr int kOpened = 33;
    static constexpr int kOutOfResources = 0;
    static constexpr int kFileNotFound = 2;
    static constexpr int kAccessDenied = 5;
    static constexpr int kNoAssociation = 31;

    // Window thread only (the desktop handler may show UI).
    static int Open(const std::string& address);
    // The program and arguments that run `command` (one entry of $BROWSER) on address.
    // The command is cut at a "%1" or "%s" placeholder (at the opening quote when it is
    // quoted), and the address is added as one last argument, never through a shell.
    static QStringList BrowserArguments(const QString& command, const QString& address);
    // "Unable to open hyperlink:\n\n" and the explanation of result.
    static std::string FailureMessage(int result);
};

} // namespace mb
