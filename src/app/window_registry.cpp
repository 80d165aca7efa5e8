#include "app/window_registry.hpp"

#include <QMainWindow>
#include <QWidget>

#include "app/menu_bar.hpp"
#include "app/window_activation.hpp"

namespace velk {

WindowRegistry::WindowRegistry(QObject* parent) : QObject(parent) {}

WindowRegistry::~WindowRegistry() { closeAll(); }

void WindowRegistry::registerFactory(const std::string& id, Factory factory, bool menuBar) {
    m_factories[id] = Registration{std::move(factory), menuBar};
}

bool WindowRegistry::hasFactory(const std::string& id) const { return m_factories.count(id) != 0; }

QMainWindow* WindowRegistry::window(const std::string& id) const {
    auto found = m_windows.find(id);
    return found == m_windows.end() ? nullptr : found->second;
}

std::vector<std::string> WindowRegistry::openWindowIDs() const {
    std::vector<std::string> ids;
    for (const auto& [id, window] : m_windows) ids.push_back(id);
    return ids;
}

QMainWindow* WindowRegistry::openWindow(const std::string& id) {
    if (QMainWindow* open = window(id)) {
        raiseWindow(*open);
        return open;
    }
    auto registration = m_factories.find(id);
    if (m_final || registration == m_factories.end()) return nullptr;
    QMainWindow* created = registration->second.factory();
    if (!created) return nullptr;
    created->setAttribute(Qt::WA_DeleteOnClose);
    created->setObjectName(QString::fromStdString(id));
    if (registration->second.menuBar && m_installMenu) m_installMenu(*created);
    m_windows[id] = created;
    const QString qid = QString::fromStdString(id);
    connect(created, &QObject::destroyed, this, [this, id, qid, created] {
        auto found = m_windows.find(id);
        if (found != m_windows.end() && found->second == created) m_windows.erase(found);
        Q_EMIT windowClosed(qid);
    });
    created->show();
    raiseWindow(*created);
    Q_EMIT windowOpened(qid);
    return created;
}

void WindowRegistry::closeAll(bool finalClose) {
    if (finalClose) m_final = true;
    // Copy first: closing deletes windows and edits the map.
    std::vector<std::string> ids;
    for (const auto& [id, window] : m_windows) ids.push_back(id);
    for (const std::string& id : ids) {
        QMainWindow* open = window(id);
        if (!open) continue;
        open->close();
        delete window(id); // still registered when closing did not delete it at once
    }
    m_windows.clear();
}

void WindowRegistry::setMenuCommands(const MenuCommands& commands) {
    m_installMenu = [commands](QMainWindow& window) { installMenuBar(window, commands); };
}

void raiseWindow(QWidget& window) { WindowActivation::activate(window); }

} // namespace velk
