#pragma once

#include <string>

namespace mb {

// What the engine and the files tell the user: a note to read, or a notice that does not
// wait. The window shows them as message boxes (its Prompts are Notifiers), the
// command-line tool as lines on standard error. Called on the thread that runs the one
// who reports.
class Notifier {
public:
    virtual ~Notifier() = default;
    // A modal message box titled "Marrowbeat" and an OK button.
    virtual void ShowNote(const std::string& text) = 0;
    // The same message box without waiting for it: the window goes on answering keys and
    // playing while it shows. A later notice replaces it.
    virtual void ShowNotice(const std::string& text) = 0;
};

// Tells nobody: for work whose messages someone else has already given (a render beside
// the window, which loaded the same sounds and said so).
class SilentNotifier : public Notifier {
public:
    void ShowNote(const std::string&) override {}
    void ShowNotice(const std::string&) override {}
};

} // namespace mb
