#pragma once

#include <string>

namespace mb {

// The object an EntryField tells about its text: typically the dial that shows the
// number and brings typed text into range. Window thread only.
class FieldCompanion {
public:
    virtual ~FieldCompanion() = default;
    // The user changed the text (immediate fields: every keystroke).
    virtual void OnFieldText(const std::string& text) = 0;
    // The field lost the focus.
    virtual void OnFieldLeave() = 0;
};

} // namespace mb
