#pragma once
// The small display views the take list and the dashboard are made of. Each is drawn from what
// its caller passes and keeps nothing; the only interaction is ClipRow's "Use as reference".

#include <functional>
#include <string>

#include <QFrame>
#include <QLabel>
#include <QWidget>

#include "library_window/library_presenter.hpp"
#include "library_window/library_style.hpp"

class QVBoxLayout;

namespace velk::library {

// The centred symbol, title and detail placeholder, in its large and its compact size.
class EmptyStateView final : public QWidget {
    Q_OBJECT
public:
    enum class Size { regular, compact };
    EmptyStateView(const QString& title, std::string_view symbol, const QString& detail, Size size = Size::regular,
                   QWidget* parent = nullptr);
    QString title() const { return m_title->text(); }
    QString detail() const { return m_detail->text(); }

private:
    QLabel* m_title;
    QLabel* m_detail;
};

inline EmptyStateView* compactEmptyState(const QString& title, std::string_view icon, const QString& detail,
                                         QWidget* parent = nullptr) {
    return new EmptyStateView(title, icon, detail, EmptyStateView::Size::compact, parent);
}

// A titled card: header line 36 high, a divider, then the content at the top-leading corner.
class LibraryPanel final : public QFrame {
    Q_OBJECT
public:
    LibraryPanel(const QString& title, std::string_view icon, QWidget* parent = nullptr);
    QVBoxLayout* contentLayout() const { return m_content; }
    QString title() const { return m_title; }

private:
    QString m_title;
    QVBoxLayout* m_content;
};

class ReadinessRow final : public QWidget {
    Q_OBJECT
public:
    ReadinessRow(const QString& label, bool ready, QWidget* parent = nullptr);
};

class MetricCard final : public QFrame {
    Q_OBJECT
public:
    MetricCard(const QString& title, const QString& value, std::string_view icon, QWidget* parent = nullptr);
};

// A capsule tag in the colour its caller chooses.
class StatusPill final : public QLabel {
    Q_OBJECT
public:
    StatusPill(const QString& text, Tint tint, QWidget* parent = nullptr);
    void setPill(const QString& text, Tint tint);
    Tint tint() const { return m_tint; }

private:
    Tint m_tint;
};

class ClipRow final : public QWidget {
    Q_OBJECT
public:
    ClipRow(const VELKClip& clip, bool isReference, std::function<void()> makeReference, QWidget* parent = nullptr);
};

// A horizontal label with a symbol in front, in one colour.
class SymbolLabel final : public QWidget {
    Q_OBJECT
public:
    SymbolLabel(const QString& text, std::string_view symbol, Tint tint, TextStyle style, QWidget* parent = nullptr);
    void set(const QString& text, std::string_view symbol, Tint tint);
    QString text() const { return m_text->text(); }

private:
    QLabel* m_icon;
    QLabel* m_text;
    TextStyle m_style;
};

// A thin horizontal line between regions.
QFrame* divider(QWidget* parent = nullptr);

} // namespace velk::library
