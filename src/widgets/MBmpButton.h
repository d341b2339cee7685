#pragma once

#include <string>

#include "widgets/MButton.h"
#include "widgets/SkinBitmap.h"

namespace mb {

// A button drawn with two skin bitmaps: the up bitmap in ink and paper at rest, the down
// bitmap in the pressed colours while pressed. Its caption is kept but never drawn.
// Window thread only.
class MBmpButton : public MButton {
public:
    static constexpr const char* kTypeName = "MBmpButton";

    MBmpButton();
    ~MBmpButton() override;
    void Paint(Canvas& dc) override;

    using MButton::Create;
    // The button is exactly as large as its up bitmap.
    void Create(int id,
                const std::string& text,
                int x,
                int y,
                WidgetOwner* owner,
                const std::string& upName,
                const std::string& downName);

    SkinBitmap& GetUpBitmap() { return up_; }
    SkinBitmap& GetDownBitmap() { return down_; }

protected:
    // Paints the down bitmap in the pressed colours or the up bitmap in ink and paper.
    void PaintLook(Canvas& dc, bool down);

private:
    SkinBitmap up_;
    SkinBitmap down_;
    std::string upName_;
    std::string downName_;
};

} // namespace mb
