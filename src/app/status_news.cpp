#include "app/status_news.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QString>
#include <QVariant>
#include <QWidget>

#include "app/accessibility.hpp"
#include "app/activity_news.hpp"
#include "store/app_store.hpp"

namespace velk::StatusNews {

namespace {

constexpr const char* barName = "velkStatusNews";
constexpr const char* newsProperty = "velkNews";
constexpr const char* nextProperty = "velkNextNotification";

// A notification, named by the news it holds; it tells no name change of its own.
class NotificationAccessible final : public QAccessibleWidget {
public:
    explicit NotificationAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Notification) {}
    QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Name ? widget()->property(newsProperty).toString() : QString();
    }
};

// The window's status bar that nobody sees, made with its notifications at the first news.
QWidget& barOf(QWidget& window) {
    if (auto* bar = window.findChild<QWidget*>(QLatin1String(barName), Qt::FindDirectChildrenOnly)) return *bar;
    auto* bar = new QWidget(&window);
    bar->setObjectName(QLatin1String(barName));
    Accessibility::presentAs(*bar, [](QWidget* widget) -> QAccessibleInterface* {
        return new QAccessibleWidget(widget, QAccessible::StatusBar);
    });
    for (int at = 0; at < notificationsInTurn; ++at) {
        auto* notification = new QWidget(bar);
        Accessibility::presentAs(*notification, [](QWidget* widget) -> QAccessibleInterface* {
            return new NotificationAccessible(widget);
        });
    }
    bar->hide();
    return *bar;
}

// The window, or a sheet or dialog of it, is the active window.
bool worksIn(const QWidget& window) {
    for (const QWidget* active = QApplication::activeWindow(); active;
         active = active->parentWidget() ? active->parentWidget()->window() : nullptr) {
        if (active == &window) return true;
    }
    return false;
}

} // namespace

void tell(QWidget& window, const QString& text) {
    if (text.isEmpty() || !worksIn(window)) return;
    QWidget& bar = barOf(window);
    const QList<QWidget*> notifications = bar.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    const int next = bar.property(nextProperty).toInt();
    bar.setProperty(nextProperty, (next + 1) % notificationsInTurn);
    QWidget* notification = notifications.value(next);
    if (!notification) return;
    notification->setProperty(newsProperty, text);
    QAccessibleEvent shown(notification, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}

void followActivities(QWidget& window, AppStore& store, bool errorsInAlert) {
    auto lastSeen = std::make_shared<std::optional<uuid::Bytes>>();
    if (!store.activities().empty()) *lastSeen = store.activities().front().id();
    QObject::connect(&store, &AppStore::activitiesChanged, &window, [&window, &store, errorsInAlert, lastSeen] {
        const std::vector<ActivityEntry>& log = store.activities();
        const std::vector<std::string> news =
            ActivityNews::since(log, *lastSeen, errorsInAlert ? store.errorMessage() : std::nullopt);
        *lastSeen = log.empty() ? std::nullopt : std::optional(log.front().id());
        for (const std::string& each : news) tell(window, QString::fromStdString(each));
    });
}

} // namespace velk::StatusNews
