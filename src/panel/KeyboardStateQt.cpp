#include "panel/KeyboardStateQt.h"

#include <QGuiApplication>

namespace mb {

bool KeyboardStateQt::IsCtrlDown() const {
    return (QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier) != 0;
}

} // namespace mb
