#pragma once
// An engine's news as Qt signals on the interface thread. An engine (the
// folder or the twin scanner) calls its observer on whatever thread caused
// the news; the callbacks made here only queue a call to this object's
// thread, by name (no functor crosses threads), and never block.
//
// The engine must not call the callbacks after this object is gone: the
// window destroys its engines (which join their jobs) before its children.

#include <QObject>

#include <functional>

namespace quarn {

class EngineSignals : public QObject {
    Q_OBJECT

  public:
    explicit EngineSignals(QObject* parent = nullptr) : QObject(parent) {}

    // For the engine's observer.
    std::function<void()> ProgressCallback();
    std::function<void()> IdleCallback();
    std::function<void()> ChangedCallback();

  Q_SIGNALS:
    void progressed();  // a new progress snapshot
    void idle();        // the last running job has ended
    void changed();     // the engine's finished data changed (a user's action)

  private:
    Q_INVOKABLE void EmitProgressed() { Q_EMIT progressed(); }
    Q_INVOKABLE void EmitIdle() { Q_EMIT idle(); }
    Q_INVOKABLE void EmitChanged() { Q_EMIT changed(); }
};

}  // namespace quarn
