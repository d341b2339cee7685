#include "files/SetupDocument.h"

#include <cctype>
#include <cstdio>
#include <filesystem>

#include "files/AtomicFile.h"
#include "files/DocumentQuestions.h"
#include "files/DocumentWindow.h"
#include "files/PathNames.h"
#include "files/SetupFileFormat.h"
#include "files/SoundFolderScanner.h"
#include "model/Setup.h"

namespace mb {

namespace {

namespace fs = std::filesystem;

std::string Quoted(const std::string& path) {
    return "\"" + path + "\"";
}

} // namespace

SetupDocument::SetupDocument(Setup& setup,
                             DocumentQuestions& prompts,
                             SoundFolderScanner& sounds,
                             DocumentWindow& window)
    : setup_(setup), prompts_(prompts), sounds_(sounds), window_(window) {}

SetupDocument::ReadOutcome SetupDocument::ReadFile(const std::string& path) {
    ReadOutcome outcome;
    const AtomicFile::ReadResult file = AtomicFile::ReadAll(path, kMaxFileBytes);
    if (!file.error.empty()) {
        outcome.error = "Cannot open the setup file " + Quoted(path) + ": " + file.error + ".";
        return outcome;
    }
    SetupFileFormat::ReadResult read = SetupFileFormat::Read(file.bytes);
    switch (read.status) {
    case SetupFileFormat::Status::kOk:
        outcome.record = std::move(read.record);
        break;
    case SetupFileFormat::Status::kTruncated:
        outcome.error = "The setup file " + Quoted(path) + " is truncated: it ends after " +
                        std::to_string(read.offset) + " bytes.";
        break;
    case SetupFileFormat::Status::kBadString:
        outcome.error = "The setup file " + Quoted(path) +
                        " is damaged: the sound folder's length before byte " +
                        std::to_string(read.offset) + " is not valid.";
        break;
    case SetupFileFormat::Status::kNotSetup:
        outcome.error = "The file " + Quoted(path) + " is not a setup file (" + read.problem + ").";
        break;
    case SetupFileFormat::Status::kBadValue:
        outcome.error = "The setup file " + Quoted(path) + " is damaged: " + read.problem + ".";
        break;
    }
    if (outcome.error.empty() && read.unusableTempo) {
        char text[64];
        std::snprintf(text, sizeof text, " (%g) is not a finite number: it is %g BPM.",
                      *read.unusableTempo, outcome.record.bpm);
        outcome.notice = "The tempo stored in " + Quoted(path) + text;
    }
    if (outcome.error.empty() && !read.grooveProblem.empty()) {
        if (!outcome.notice.empty())
            outcome.notice += ' ';
        outcome.notice += "The groove settings of " + Quoted(path) + " could not be read (" +
                          read.grooveProblem + "); the rest of the setup is loaded.";
    }
    return outcome;
}

std::string
SetupDocument::WriteFile(const std::string& path, const Setup& setup, const SetupFace& face) {
    const std::vector<uint8_t> bytes = SetupFileFormat::Write(SetupRecord::FromSetup(setup, face));
    const std::string cause = AtomicFile::Replace(path, bytes);
    if (cause.empty())
        return {};
    return "Cannot save the setup file " + Quoted(path) + ": " + cause + ".";
}

void SetupDocument::FocusBack() {
    window_.RestoreFocus();
}

bool SetupDocument::Load(const std::optional<std::string>& path) {
    std::string chosen;
    if (path) {
        chosen = *path;
    } else {
        const std::optional<std::string> picked = prompts_.OpenSetupPath();
        if (!picked) {
            FocusBack();
            return false;
        }
        chosen = *picked;
    }
    // Read completely first: a file that cannot be read leaves the open setup, its
    // file name included, exactly as it was.
    ReadOutcome outcome = ReadFile(chosen);
    if (!outcome.error.empty()) {
        prompts_.ShowNote(outcome.error);
        FocusBack();
        return false;
    }
    Apply(chosen, outcome.record);
    if (!outcome.notice.empty())
        window_.ShowStatus(outcome.notice);
    return true;
}

void SetupDocument::Apply(const std::string& path, const SetupRecord& record) {
    setup_.filePath = path;
    record.ApplyTo(setup_);
    setup_.soundFolderTitle = PathNames::DisplayTitle(setup_.soundFolder);
    FindSounds();

    window_.SetTempoUnit(setup_.tempoUnit == kTempoUnitSamples ? kTempoUnitSamples : kTempoUnitBpm);
    window_.SetTempo(setup_.bpm);
    window_.SetMasterVolume(setup_.masterVolume);
    window_.SetEValue(setup_.eValue);
    window_.SetSoundToggle(setup_.muted == 0);
    window_.Hide();
    UpdateCaption();
    window_.SelectLoop(setup_.selectedLoop);
    window_.ResizeToColumns(setup_.stepCount);
    window_.MoveTo(record.face.windowX, record.face.windowY);
    window_.ApplyColor(record.face.color);
    window_.Show();
    window_.FitColumnsToWidth();
    setup_.modified = 0;
    FocusBack();
}

void SetupDocument::FindSounds() {
    for (const std::string& folder : PathNames::SoundFolderCandidates(
             setup_.soundFolder, setup_.soundFolderTitle, setup_.filePath)) {
        if (sounds_.ScanSoundFolder(folder)) {
            setup_.modified = 0;
            UpdateCaption();
            return;
        }
    }
    // On Cancel the sounds and the steps' voices stay as they were before the load.
    if (prompts_.OkCancel(std::string(kProblemLocating) + setup_.soundFolder + kTryToFind)) {
        setup_.modified = 1;
        sounds_.ImportSounds();
    }
}

bool SetupDocument::Save(const std::string& path) {
    const SetupFace face{window_.SchemeColor5(), window_.WindowX(), window_.WindowY()};
    const std::string error = WriteFile(path, setup_, face);
    if (!error.empty()) {
        prompts_.ShowNote(error);
        return false;
    }
    setup_.filePath = path;
    UpdateCaption();
    setup_.modified = 0;
    return true;
}

bool SetupDocument::SaveAs() {
    const std::optional<std::string> path =
        prompts_.SaveSetupPath(setup_.filePath.empty() ? kUntitledFileName : setup_.filePath);
    FocusBack();
    if (!path)
        return false;
    return Save(*path);
}

bool SetupDocument::SaveSetup() {
    if (setup_.filePath.empty())
        return SaveAs();
    return Save(setup_.filePath);
}

void SetupDocument::OpenSetup() {
    if (ConfirmDiscard())
        Load();
}

void SetupDocument::UpdateCaption() {
    std::string name = PathNames::DisplayTitle(setup_.filePath);
    if (name.empty())
        name = kUntitledName;
    setup_.caption = kCaptionPrefix + name + kCaptionUsing + setup_.soundFolderTitle;
    window_.SetTitle(setup_.caption);
}

bool SetupDocument::ConfirmDiscard() {
    if (!setup_.modified)
        return true;
    const bool untitled = setup_.filePath.empty();
    const std::string name = untitled ? kUntitledPromptName : setup_.filePath;
    switch (prompts_.SaveChanges(std::string(kSaveChangesTo) + "\n\"" + name + "\"?")) {
    case DocumentQuestions::kDontSave:
        return true;
    case DocumentQuestions::kSave:
        // Still modified: the Save As dialog was cancelled or the save failed.
        if (untitled)
            SaveAs();
        else
            Save(setup_.filePath);
        return !setup_.modified;
    default:
        return false;
    }
}

std::string SetupDocument::Extension(const std::string& path) {
    std::string last = path.size() < 3 ? path : path.substr(path.size() - 3);
    for (char& c : last)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return last;
}

std::optional<std::string> SetupDocument::ResolveShortcut(const std::string& path) {
    std::error_code ec;
    // A shortcut here is a symbolic link; any other file ending in "lnk" opens nothing.
    if (!fs::is_symlink(fs::symlink_status(path, ec)))
        return std::nullopt;
    fs::path target = fs::read_symlink(path, ec);
    if (ec || target.empty()) {
        prompts_.ShowNote(kGetPathFailed);
        return std::nullopt;
    }
    if (target.is_relative())
        target = fs::path(path).parent_path() / target;
    return target.string();
}

std::optional<std::string> SetupDocument::Normalise(const std::string& path) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    if (ec)
        return std::nullopt;
    const fs::path normal = absolute.lexically_normal();
    if (!fs::exists(normal, ec))
        return std::nullopt;
    return normal.string();
}

void SetupDocument::OpenPath(const std::string& path) {
    if (!ConfirmDiscard())
        return;
    std::string target = path;
    std::string extension = Extension(target);
    if (extension == "lnk") {
        const std::optional<std::string> resolved = ResolveShortcut(target);
        if (!resolved)
            return;
        target = *resolved;
        extension = Extension(target);
    }
    if (extension != "mbx" && extension != "kvt" && extension != ".zq")
        return;
    const std::optional<std::string> normal = Normalise(target);
    if (!normal) {
        prompts_.ShowNote(kPathNotFound);
        return;
    }
    Load(*normal);
}

} // namespace mb
