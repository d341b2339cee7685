#pragma once

#include <optional>
#include <string>

#include "files/SetupRecord.h"

namespace mb {

class DocumentWindow;
class DocumentQuestions;
class Setup;
class SoundFolderScanner;

// The document lifecycle of the one Setup: opening (by menu, command line or drop,
// with shortcuts followed), saving, Save As, the caption, the save-changes prompt, and
// finding a sound folder that has moved. The setup controller delegates its file
// commands here. Window thread only.
//
// A failed open changes nothing of the open setup; a failed save leaves the previous
// file as it was and the setup modified. Both tell the user which file failed and why.
class SetupDocument {
public:
    // window shows the setup: its title, face and fields, the focus and the status line.
    SetupDocument(Setup& setup,
                  DocumentQuestions& prompts,
                  SoundFolderScanner& sounds,
                  DocumentWindow& window);

    // Opens a setup file into the setup; with no path, asks for one with the Open
    // dialog first. Returns true when the file was read and applied.
    bool Load(const std::optional<std::string>& path = std::nullopt);
    // Writes the setup to path; on success it becomes the setup's file and the setup
    // is no longer modified.
    bool Save(const std::string& path);
    // Asks for a path with the Save As dialog and saves there; false when cancelled or
    // when the save failed.
    bool SaveAs();
    // The Save Setup command: saves to the setup's file, or asks for one when untitled.
    bool SaveSetup();
    // The Open Setup command: the save-changes prompt, then the Open dialog.
    void OpenSetup();
    // Rebuilds the caption and makes it the window's title.
    void UpdateCaption();
    // The save-changes prompt when the setup is modified; true when the caller may go
    // on and discard the setup (closing, opening another).
    bool ConfirmDiscard();
    // Opens a setup named on the command line or dropped on the window. Only names
    // ending in "mbx", "kvt" or ".zq" (in any letter case, as the desktop's file type
    // matches them) are opened; a name ending in "lnk" that is a symbolic link opens its
    // target.
    void OpenPath(const std::string& path);

    struct ReadOutcome {
        // Empty on success; otherwise a message naming the file and the cause.
        std::string error;
        // On success, what the user should hear about a value that was mended (a tempo
        // that is no number) or a groove that could not be read, or empty.
        std::string notice;
        SetupRecord record;
    };
    // Reads a setup file completely and checks it, without touching any setup. Every
    // way of opening a setup comes through here.
    static ReadOutcome ReadFile(const std::string& path);
    // Writes setup with the given colour and window position to path, replacing any
    // file there only once the new one is complete. Returns a message naming the file
    // and the cause, or empty.
    static std::string
    WriteFile(const std::string& path, const Setup& setup, const SetupFace& face);

    // The window title begins with these characters; instances recognise each other
    // by its first eleven.
    static constexpr const char* kCaptionPrefix = " -  +  \u00F7  x :   ";
    static constexpr int kCaptionMarkLength = 11;
    static constexpr const char* kUntitledName = "Untitled";
    static constexpr const char* kCaptionUsing = " using: ";
    // The name the save-changes prompt gives an untitled setup.
    static constexpr const char* kUntitledPromptName = " Untitled Settings.mbx ";
    // The name the Save As dialog proposes for an untitled setup.
    static constexpr const char* kUntitledFileName = "Untitled Settings.mbx";
    static constexpr const char* kSaveChangesTo = "Save changes to";
    static constexpr const char* kProblemLocating = "Problem locating sound directory:\n";
    static constexpr const char* kTryToFind = "\nDo you want to try and find it?";
    static constexpr const char* kPathNotFound = "Path not found.";
    static constexpr const char* kGetPathFailed = "GetPath failed!";

    // The Open and Save As dialogs: default extension and filter (pairs of display
    // text and pattern; the first pair selected).
    static constexpr const char* kDefaultExtension = "mbx";
    static constexpr const char* kFileFilter = "mbx files (*.mbx)|*.mbx|wrl files (*.wrl)|*.wrl|"
                                               "jdn files (*.jdn)|*.jdn|All Files (*.*)|*.*||";

    // No setup file comes near this; a larger file is refused before it is read.
    static constexpr size_t kMaxFileBytes = 64u << 20;

private:
    void Apply(const std::string& path, const SetupRecord& record);
    void FindSounds();
    void FocusBack();
    // The target of a symbolic link, or nothing (with a message when the link cannot
    // be read).
    std::optional<std::string> ResolveShortcut(const std::string& path);
    // The absolute, normalised form of an existing path.
    static std::optional<std::string> Normalise(const std::string& path);
    // The last three characters of path, in lower case.
    static std::string Extension(const std::string& path);

    Setup& setup_;
    DocumentQuestions& prompts_;
    SoundFolderScanner& sounds_;
    DocumentWindow& window_;
};

} // namespace mb
