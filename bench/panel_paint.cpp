// Builds the real main panel (sixteen step columns) on an offscreen owner and measures:
// a full repaint of its widgets into a 707 x 166 image; the same with the native number
// fields drawn too; and one step-light update (the lit column moves on: two labels change
// colour and their rects are repainted).
//
//   bench_panel_paint [repaints, default 2000] [picture.png]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include <QApplication>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

#include "model/Setup.h"
#include "panel/WidgetPanel.h"
#include "widgets/Canvas.h"
#include "widgets/OwnerWindow.h"
#include "widgets/WidgetRegistry.h"

namespace {

constexpr int kWidth = 707;
constexpr int kHeight = 166;

class Owner : public QWidget, public mb::OwnerWindow {
public:
    Owner() : OwnerWindow(this) {}
    void OnWidgetEvent(int, int, int, int) override {}

protected:
    void paintEvent(QPaintEvent* event) override { PaintWidgets(event); }
};

struct Stats {
    double median;
    double p90;
    double maximum;
};

Stats Measure(int runs, const std::function<void(int)>& run) {
    std::vector<double> micros;
    micros.reserve(static_cast<size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run(i);
        const auto end = std::chrono::steady_clock::now();
        micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::sort(micros.begin(), micros.end());
    auto at = [&](double q) { return micros[static_cast<size_t>(q * (micros.size() - 1))]; };
    return {at(0.5), at(0.9), micros.back()};
}

void Print(const char* what, int runs, const Stats& s, double goal) {
    std::printf("%s, %d runs: median %.1f us, 90th percentile %.1f us, maximum %.1f us "
                "(goal: under %.0f us)\n",
                what, runs, s.median, s.p90, s.maximum, goal);
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    Owner owner;
    owner.resize(kWidth, kHeight);
    mb::Setup setup;
    mb::WidgetPanel panel(owner, setup);
    panel.ApplyColor(mb::MakeColor(40, 90, 160));
    panel.FitColumnsToWidth();
    QImage image(kWidth, kHeight, QImage::Format_RGB32);

    auto paint = [&](const QRegion& region) {
        QPainter painter(&image);
        mb::Canvas canvas(painter, region);
        mb::WidgetRegistry::Instance().PaintAll(canvas, &owner);
    };
    const QRegion whole(0, 0, kWidth, kHeight);
    Print("full repaint of the panel's widgets into 707 x 166", runs,
          Measure(runs, [&](int) { paint(whole); }), 2000);

    const int fieldRuns = std::max(1, runs / 10);
    Print("full repaint with the native number fields (QWidget::render)", fieldRuns,
          Measure(fieldRuns, [&](int) { owner.render(&image); }), 2000);

    Print("step-light update (unlight one column, light the next, repaint both labels)", runs,
          Measure(runs,
                  [&](int i) {
                      const int previous = i % mb::WidgetPanel::kColumnCount;
                      const int next = (i + 1) % mb::WidgetPanel::kColumnCount;
                      panel.SetStepLit(previous, false);
                      panel.SetStepLit(next, true);
                      QRegion labels;
                      labels += panel.Column(previous).Label().GetRect().ToQRect();
                      labels += panel.Column(next).Label().GetRect().ToQRect();
                      paint(labels);
                  }),
          200);

    if (argc > 2)
        owner.grab().save(QString::fromLocal8Bit(argv[2]));
    return 0;
}
