#include "app/key_time_probe.hpp"

#include <chrono>
#include <cstdio>

#include <QEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QObject>
#include <QTimer>

namespace velk {
namespace {

class KeyTimes final : public QObject {
public:
    explicit KeyTimes(QObject* parent) : QObject(parent) {}

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const QByteArray name = QKeySequence(static_cast<const QKeyEvent*>(event)->key()).toString().toUtf8();
        // After the handlers of this press have run.
        QTimer::singleShot(0, this, [name] {
            const auto ms = std::chrono::duration<double, std::milli>(
                                std::chrono::steady_clock::now().time_since_epoch()).count();
            std::printf("key %s %.3f\n", name.constData(), ms);
            std::fflush(stdout);
        });
        return false;
    }
};

} // namespace

void reportKeyTimesIfAsked(QObject* application) {
    if (qEnvironmentVariableIsEmpty("VELK_REPORT_KEYS")) return;
    application->installEventFilter(new KeyTimes(application));
}

} // namespace velk
