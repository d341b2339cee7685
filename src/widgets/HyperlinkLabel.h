#pragma once

#include <functional>
#include <optional>
#include <string>

#include <QBasicTimer>
#include <QCursor>
#include <QFont>
#include <QLabel>

#include "widgets/Color.h"

namespace mb {

// A label that is a web link: link colours, an underline while the pointer hovers (or
// always, or never), the program's hand pointer, a tooltip with the address, and a click
// that opens the address. A failed open beeps and explains itself in a message box.
// Hovering ends when a 100 ms poll finds the pointer outside. Window thread only.
class HyperlinkLabel : public QLabel {
public:
    static constexpr Color kLinkColor = 0x00EE0000;
    static constexpr Color kVisitedColor = 0x008B1A55;
    static constexpr Color kHoverColor = 0x000000FF;
    static constexpr int kHoverPollMs = 100;
    static constexpr const char* kCursorName = "HANDCUR";
    // Underline modes.
    static constexpr int kUnderlineAlways = 1;
    static constexpr int kUnderlineNever = 0;
    static constexpr int kUnderlineHover = -1;

    // Opens an address and returns the result (above 32 is success).
    using Opener = std::function<int(const std::string& address)>;
    // Shows a failure message to the user.
    using FailureReport = std::function<void(const std::string& message)>;

    explicit HyperlinkLabel(QWidget* parent = nullptr);
    ~HyperlinkLabel() override;

    // Binds the label once its text, font and place are set: an empty address becomes the
    // text, an empty text shows the address, the fonts, size, pointer and tooltip are made.
    void Attach();
    void SetAddress(const std::string& address);
    void SetVisited(bool flag);
    void SetUnderline(int mode);
    void SetAutoSize(bool flag);
    // Opens the address as a click on the label does.
    void Click();

    // Replace how the address is opened and how a failure is shown (tests, other shells).
    void SetOpener(Opener opener) { opener_ = std::move(opener); }
    void SetFailureReport(FailureReport report) { report_ = std::move(report); }

    const std::string& GetAddress() const { return address_; }
    bool IsVisited() const { return visited_; }
    bool IsHovering() const { return hovering_; }
    int GetUnderline() const { return underline_; }
    // The colour the text is drawn in now.
    Color TextColor() const;
    bool HasLinkCursor() const { return linkCursor_.has_value(); }

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void FitSize();
    void Restyle();
    void UseFont(const QFont& font);

    bool hovering_ = false;
    bool visited_ = false;
    int underline_ = kUnderlineHover;
    bool autoSize_ = false;
    std::string address_;
    QFont underlinedFont_;
    QFont plainFont_;
    std::optional<QCursor> linkCursor_;
    QBasicTimer hoverTimer_;
    bool attached_ = false;
    Opener opener_;
    FailureReport report_;
};

} // namespace mb
