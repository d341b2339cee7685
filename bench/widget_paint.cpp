// Paints a panel-sized set of widgets (the control area, the loop strip and sixteen step
// columns, about 200 widgets) into a 707 x 166 image, and reports the time of one full
// repaint of the registry.
//
//   bench_widget_paint [repaints, default 2000]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QWidget>

#include "widgets/Canvas.h"
#include "widgets/ColorScheme.h"
#include "widgets/MBmpButton.h"
#include "widgets/MImage.h"
#include "widgets/MSlider.h"
#include "widgets/MToggleButton.h"
#include "widgets/OwnerWindow.h"
#include "widgets/WidgetRegistry.h"

namespace {

class Owner : public QWidget, public mb::OwnerWindow {
public:
    Owner() : OwnerWindow(this) {}
    void OnWidgetEvent(int, int, int, int) override {}
};

// Builds the widgets in the panel's places, newest on top as the panel stacks them.
class Face {
public:
    explicit Face(Owner& owner) : owner_(owner) {
        scheme_.SetBase(mb::MakeColor(40, 60, 120));
        for (int k = 15; k >= 0; --k)
            Column(94 + 38 * k, 2, 10000 + 100 * k, k);
        Image(0, 0, "GLOBALBMP", 5, 7);
        Toggle(1000, 36, 60, "PLAYUP", "PLAYDN", false);
        Toggle(1001, 40, 92, "ONOFFUP", "ONOFFDN", true);
        Arrows(1005, 18, 146);
        Slider(1054, 2, 2, 6, 135, false, 100);
        Arrows(1050, 2, 146);
        Slider(1064, 10, 2, 6, 135, false, 40);
        Arrows(1060, 10, 146);
        for (int i = 0; i < 3; ++i) {
            static const char* kNames[] = {"FILE", "EDIT", "MIDI"};
            auto b = std::make_unique<mb::MBmpButton>();
            b->Create(1002 + i, "", 22 + 18 * i, 4, &owner_, std::string(kNames[i]) + "UP",
                      std::string(kNames[i]) + "DN");
            b->SetColors(Ink(1), Ink(2), Ink(4), Ink(6));
            widgets_.push_back(std::move(b));
        }
        for (int i = 0; i < 8; ++i)
            Toggle(20001 + i, 79, 144 - 20 * i, "LOOPSCTRL" + std::to_string(i + 1) + "UP",
                   "LOOPSCTRL" + std::to_string(i + 1) + "DN", i != 0);
    }
    size_t Count() const { return widgets_.size(); }

private:
    mb::Color Ink(int n) const { return scheme_.GetColor(n); }

    void Image(int x, int y, const std::string& name, int ink, int paper) {
        auto w = std::make_unique<mb::MImage>();
        w->Create(0, name, x, y, &owner_, name);
        w->SetColors(Ink(ink), Ink(paper));
        widgets_.push_back(std::move(w));
    }
    void Toggle(int id, int x, int y, const std::string& up, const std::string& down, bool on) {
        auto t = std::make_unique<mb::MToggleButton>();
        t->Create(id, "", x, y, &owner_, up, down);
        t->SetColors(Ink(1), Ink(2), Ink(4), Ink(6));
        t->SetState(on);
        widgets_.push_back(std::move(t));
    }
    void Arrows(int id, int x, int y) {
        for (int i = 0; i < 2; ++i) {
            auto a = std::make_unique<mb::MBmpButton>();
            a->Create(id + 1 + i, "", x, y + 9 * i, &owner_, i == 0 ? "UPARROWUP" : "DNARROWUP",
                      i == 0 ? "UPARROWDN" : "DNARROWDN");
            a->SetColors(Ink(6), Ink(4));
            widgets_.push_back(std::move(a));
        }
    }
    void Slider(int id, int x, int y, int w, int h, bool horizontal, int value) {
        auto s = std::make_unique<mb::MSlider>();
        s->Create(id, "bar", x, y, w, h, &owner_, horizontal);
        s->SetRange(0, 127);
        s->SetValue(value);
        s->SetColors(Ink(1), horizontal ? Ink(2) : mb::kNoColor, Ink(6));
        widgets_.push_back(std::move(s));
    }
    void Column(int x, int y, int id, int k) {
        Image(x, y, "NOTEBMP", 5, 2);
        auto label = std::make_unique<mb::MWnd>();
        label->Create(id, std::to_string(k + 1), x + 12, y + 2, 23, 16, &owner_);
        label->SetColors(Ink(6), Ink(5));
        widgets_.push_back(std::move(label));
        Toggle(id + 10, x + 12, y + 30, "ONOFFUP", "ONOFFDN", k % 3 == 0);
        Arrows(id + 20, x + 1, y + 63);
        Arrows(id + 30, x + 1, y + 96);
        Slider(id + 44, x + 30, y + 19, 6, 115, false, 100);
        Arrows(id + 40, x + 30, y + 134);
        Slider(id + 54, x + 2, y + 130, 27, 7, true, 64);
        Slider(id + 64, x + 2, y + 153, 27, 7, true, 20 + 6 * k);
    }

    Owner& owner_;
    mb::ColorScheme scheme_;
    std::vector<std::unique_ptr<mb::MWnd>> widgets_;
};

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int repaints = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    Owner owner;
    owner.resize(707, 166);
    Face face(owner);
    QImage image(707, 166, QImage::Format_RGB32);

    std::vector<double> micros;
    micros.reserve(static_cast<size_t>(repaints));
    for (int i = 0; i < repaints; ++i) {
        const auto start = std::chrono::steady_clock::now();
        {
            QPainter painter(&image);
            mb::Canvas canvas(painter, QRegion(0, 0, 707, 166));
            mb::WidgetRegistry::Instance().PaintAll(canvas, &owner);
        }
        const auto end = std::chrono::steady_clock::now();
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::sort(micros.begin(), micros.end());
    auto at = [&](double q) { return micros[static_cast<size_t>(q * (micros.size() - 1))]; };
    std::printf("full repaint of %zu widgets into 707 x 166, %d repaints: median %.0f us, "
                "90th percentile %.0f us, maximum %.0f us (goal: under 2000 us)\n",
                face.Count(), repaints, at(0.5), at(0.9), micros.back());
    if (argc > 2)
        image.save(QString::fromLocal8Bit(argv[2]));
    return 0;
}
