#include "widgets/LinkOpener.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace mb {

namespace {

// Cuts the command line at the placeholder; true when one was found.
bool CutAtPlaceholder(QString& line, const QString& placeholder) {
    const QString quoted = QStringLiteral("\"") + placeholder + QStringLiteral("\"");
    qsizetype at = line.indexOf(quoted);
    if (at < 0)
        at = line.indexOf(placeholder);
    if (at < 0)
        return false;
    line.truncate(at);
    return true;
}

} // namespace

QStringList LinkOpener::BrowserArguments(const QString& command, const QString& address) {
    QString line = command;
    if (!CutAtPlaceholder(line, QStringLiteral("%1")))
        CutAtPlaceholder(line, QStringLiteral("%s"));
    QStringList arguments = QProcess::splitCommand(line);
    arguments.append(address);
    return arguments;
}

int LinkOpener::Open(const std::string& address) {
    const QString text = QString::fromStdString(address);
    if (QDesktopServices::openUrl(QUrl::fromUserInput(text)))
        return kOpened;
    // $BROWSER may list several commands separated by colons; the first one is used.
    const QString browser = qEnvironmentVariable("BROWSER").section(':', 0, 0).trimmed();
    if (browser.isEmpty())
        return kNoAssociation;
    QStringList arguments = BrowserArguments(browser, text);
    if (arguments.size() < 2)
        return kNoAssociation;
    const QString program = arguments.takeFirst();
    const QString path = program.contains('/') ? program : QStandardPaths::findExecutable(program);
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return kFileNotFound;
    if (!info.isExecutable())
        return kAccessDenied;
    if (!QProcess::startDetached(path, arguments))
        return kOutOfResources;
    return kOpened;
}

std::string LinkOpener::FailureMessage(int result) {
    struct Explanation {
        int result;
        const char* text;
    };
    // The desktop's failure codes and what they mean to a user.
    static constexpr Explanation kExplanations[] = {
        {0, "The operating system is out\nof memory or resources."},
        {2, "The specified file was not found."},
        {3, "The specified path was not found."},
        {5, "The operating system denied\naccess to the specified file."},
        {8, "There was not enough memory to complete the operation."},
        {11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
        {26, "A sharing violation occurred. "},
        {27, "The filename association is\nincomplete or invalid."},
        {28, "The DDE transaction could not\nbe completed because the request timed out."},
        {29, "The DDE transaction failed."},
        {30, "The DDE transaction could not\nbe completed because other DDE "
             "transactions\nwere being processed."},
        {31, "There is no application associated\nwith the given filename extension."},
        {32, "The specified dynamic-link library was not found."},
    };
    std::string message = "Unknown Error (" + std::to_string(result) + ") occurred.";
    for (const Explanation& e : kExplanations) {
        if (e.result == result)
            message = e.text;
    }
    return "Unable to open hyperlink:\n\n" + message;
}

} // namespace mb
