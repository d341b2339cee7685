#include "AppTestSupport.h"

#include <QTest>
#include <gtest/gtest.h>

#include "files/DemoSetup.h"
#include "files/SetupDocument.h"
#include "model/Setup.h"

namespace mb::test {

AppFixture::AppFixture(bool realOutput)
    : AppFixture(realOutput ? SoundEngine::DeviceOpener()
                            : [] { return std::unique_ptr<AudioDevice>(); }) {}

AppFixture::AppFixture(SoundEngine::DeviceOpener audio) : audio_(std::move(audio)) {
    EnsureApplication();
    NewWindow();
}

void AppFixture::NewWindow() {
    window.reset();
    MainWindow::Options options;
    options.prompts = &prompts;
    options.audio = audio_;
    options.linkInstances = false;
    options.color = kColor;
    options.settingsPath = Scratch("settings.ini");
    window = std::make_unique<MainWindow>(std::move(options));
}

AppFixture::~AppFixture() {
    window.reset();
}

void AppFixture::Start(const std::string& path) {
    window->Start(path);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get()))
        ADD_FAILURE() << "the window was not shown";
}

QPoint AppFixture::Centre(const Rect& rect) {
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

QWidget* AppFixture::Under(const QPoint& at) const {
    QWidget* child = window->childAt(at);
    return child != nullptr ? child : window.get();
}

void AppFixture::Click(const Rect& rect, Qt::KeyboardModifiers mods, Qt::MouseButton button) {
    const QPoint at = Centre(rect);
    QWidget* target = Under(at);
    QTest::mouseClick(target, button, mods, target->mapFrom(window.get(), at));
}

void AppFixture::Key(int key, Qt::KeyboardModifiers mods) {
    QWidget* target = window->focusWidget() ? window->focusWidget() : window.get();
    QTest::keyClick(target, static_cast<Qt::Key>(key), mods);
}

std::string AppFixture::Scratch(const std::string& name) const {
    return scratch.filePath(QString::fromStdString(name)).toStdString();
}

std::string AppFixture::WriteDemo(const std::string& name, const std::string& soundFolder) {
    Setup demo;
    DemoSetup::Build(demo, soundFolder);
    const std::string path = Scratch(name);
    const std::string error = SetupDocument::WriteFile(path, demo, DemoSetup::Face());
    return error.empty() ? path : std::string();
}

} // namespace mb::test
