#pragma once
// The small display views the take list and the dashboard are made of, besides the shared ones of
// app/view_kit. Each is drawn from what its caller passes and keeps nothing of it; those whose data
// changes with the selection are drawn again in place (`set…`), so a new selection changes texts
// rather than making and deleting widgets. The only interaction is ClipRow's "Use as reference".

#include <functional>
#include <string>

#include <QFrame>
#include <QLabel>
#include <QWidget>

#include "app/view_kit.hpp"
#include "library_window/library_presenter.hpp"
#include "library_window/library_style.hpp"

class QPushButton;
class QVBoxLayout;

namespace velk::library {

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

// A check of a take's readiness and its state. Tab reaches it, so a screen reader reads it, as one
// text ("Clips downloaded: Pending"). A clip's row is read so too, with its button after it.
class ReadinessRow final : public QWidget {
    Q_OBJECT
public:
    ReadinessRow(const QString& label, bool ready, QWidget* parent = nullptr);
    void setReady(bool ready);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_label;
    QLabel* m_icon;
    QLabel* m_state;
};

class MetricCard final : public QFrame {
    Q_OBJECT
public:
    MetricCard(const QString& title, const QString& value, std::string_view icon, QWidget* parent = nullptr);
    void setValue(const QString& value);

private:
    QLabel* m_value;
};

class ClipRow final : public QWidget {
    Q_OBJECT
public:
    ClipRow(const VELKClip& clip, bool isReference, std::function<void()> makeReference, QWidget* parent = nullptr);
    void set(const VELKClip& clip, bool isReference, std::function<void()> makeReference);
    QPushButton* referenceButton() const { return m_button; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_icon;
    QLabel* m_camera;
    QLabel* m_fileName;
    QLabel* m_device;
    QLabel* m_copy;
    QLabel* m_anchors;
    StatusPill* m_pill;
    QPushButton* m_button;
    std::function<void()> m_makeReference;
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

} // namespace velk::library
