#pragma once

#include <string>

#include <QFont>

#include "widgets/MWnd.h"

namespace mb {

// A passive text: its caption centred in its rect, in its own font, ink on paper.
// Window thread only.
class MLabel : public MWnd {
public:
    static constexpr const char* kDefaultFace = "System";
    static constexpr int kDefaultSize = 90; // tenths of a point

    MLabel();
    ~MLabel() override;
    void Paint(Canvas& dc) override;

private:
    std::string face_ = kDefaultFace;
    int size_ = kDefaultSize;
    QFont font_;
    bool fontMade_ = false;
};

} // namespace mb
