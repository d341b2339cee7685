#pragma once

#include <memory>
#include <string>

#include <QPoint>
#include <QTemporaryDir>

#include "WidgetTestSupport.h"
#include "app/MainWindow.h"
#include "platform/ScriptedPrompts.h"

namespace mb::test {

// The real main window on the offscreen platform: no audio device (the engine runs
// silent) unless the real output is asked for, prompts answered from a script, a fixed
// colour, settings in a scratch folder, no link to other instances.
class AppFixture {
public:
    static constexpr Color kColor = 0x00A05A28;

    explicit AppFixture(bool realOutput = false);
    // The sound through the device the opener gives.
    explicit AppFixture(SoundEngine::DeviceOpener audio);
    ~AppFixture();

    // Starts the window on a setup path (empty: untitled) and shows it.
    void Start(const std::string& path = {});

    // The centre of a widget, in window pixels.
    static QPoint Centre(const Rect& rect);
    // The widget a real click at a window point reaches: a child window there (a text
    // field), or the window itself.
    QWidget* Under(const QPoint& at) const;
    // A click at the centre of rect, delivered to the widget under it.
    void Click(const Rect& rect,
               Qt::KeyboardModifiers mods = Qt::NoModifier,
               Qt::MouseButton button = Qt::LeftButton);
    void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier);
    // A setup file in the scratch folder with the demo groove on the kit folder given.
    std::string WriteDemo(const std::string& name, const std::string& soundFolder);
    std::string Scratch(const std::string& name) const;

    QTemporaryDir scratch;
    ScriptedPrompts prompts;
    std::unique_ptr<MainWindow> window;
};

} // namespace mb::test
