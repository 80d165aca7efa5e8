#include "app/first_paint_probe.hpp"

#include <cstdio>

#include <QEvent>
#include <QMainWindow>
#include <QTimer>

#include "app/application.hpp"
#include "app/window_registry.hpp"

namespace velk {
namespace {

class FirstPaint final : public QObject {
public:
    explicit FirstPaint(Application& application) : QObject(&application), m_application(application) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            watched->removeEventFilter(this);
            std::fputs("first-paint\n", stdout);
            std::fflush(stdout);
            // After this paint has finished.
            QTimer::singleShot(0, &m_application, [this] { m_application.quit(); });
        }
        return false;
    }

private:
    Application& m_application;
    bool m_seen = false;
};

} // namespace

void reportFirstPaintIfAsked(Application& application) {
    if (qEnvironmentVariableIsEmpty("VELK_REPORT_FIRST_PAINT")) return;
    auto* probe = new FirstPaint(application);
    QObject::connect(&application.windows(), &WindowRegistry::windowOpened, probe, [&application, probe](const QString& id) {
        if (id != QLatin1String(WindowID::director)) return;
        if (QMainWindow* window = application.windows().window(WindowID::director)) window->installEventFilter(probe);
    });
}

} // namespace velk
