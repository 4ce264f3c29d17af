#include "controls/EngineSignals.h"

#include <QMetaObject>

namespace quarn {

std::function<void()> EngineSignals::ProgressCallback() {
    return [this] { QMetaObject::invokeMethod(this, "EmitProgressed", Qt::QueuedConnection); };
}

std::function<void()> EngineSignals::IdleCallback() {
    return [this] { QMetaObject::invokeMethod(this, "EmitIdle", Qt::QueuedConnection); };
}

std::function<void()> EngineSignals::ChangedCallback() {
    return [this] { QMetaObject::invokeMethod(this, "EmitChanged", Qt::QueuedConnection); };
}

}  // namespace quarn
