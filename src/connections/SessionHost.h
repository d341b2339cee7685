#pragma once

namespace mb {

struct Command;
class PromptGate;

// What a session manager's client may do with the program: run commands (open, save,
// show, hide) without any of them waiting on a dialog, and look at whether the setup has
// unsaved changes and the window is shown. Window thread only.
class SessionHost {
public:
    virtual ~SessionHost() = default;
    // Where every prompt passes; a request is served through it unattended.
    virtual PromptGate& Gate() = 0;
    // True when the command was done.
    virtual bool Run(const Command& command) = 0;
    virtual bool IsModified() const = 0;
    virtual bool IsShown() const = 0;
};

} // namespace mb
