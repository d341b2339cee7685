#pragma once

#include <string>

#include "widgets/MWnd.h"
#include "widgets/SkinBitmap.h"

namespace mb {

// A passive picture: one skin bitmap drawn in the widget's ink and paper. It keeps the
// type name "MWnd", so it never takes input or sets the pointer. Window thread only.
class MImage : public MWnd {
public:
    ~MImage() override;
    void Paint(Canvas& dc) override;

    using MWnd::Create;
    // The widget is exactly as large as its bitmap.
    void Create(int id,
                const std::string& text,
                int x,
                int y,
                WidgetOwner* owner,
                const std::string& bitmapName);

    SkinBitmap& GetBitmap() { return bitmap_; }

private:
    SkinBitmap bitmap_;
};

} // namespace mb
