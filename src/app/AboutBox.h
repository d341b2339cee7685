#pragma once

#include <string>

#include <QDialog>

namespace mb {

class HyperlinkLabel;

// The About box: the program's picture and, below it, a link to the program's manual. A
// click on the link opens it; a click anywhere else closes the box. Window thread only.
class AboutBox : public QDialog {
public:
    static constexpr int kWidth = 280;
    static constexpr int kHeight = 226;
    // The link's place, pixels.
    static constexpr int kLinkX = 6;
    static constexpr int kLinkY = 186;
    static constexpr int kLinkWidth = 248;
    static constexpr int kLinkHeight = 14;
    static constexpr const char* kLinkText = "Marrowbeat manual";

    AboutBox(QWidget* parent, uint32_t ink, uint32_t paper);

    // The manual's address: the installed README as a file: address, or the source
    // tree's when the program runs from its build folder.
    static std::string ManualAddress();
    HyperlinkLabel& Link() { return *link_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    HyperlinkLabel* link_;
};

} // namespace mb
