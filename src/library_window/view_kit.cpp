#include "library_window/view_kit.hpp"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/accessibility.hpp"
#include "app/theme.hpp"
#include "base/qt_text.hpp"
#include "library_window/library_style.hpp"
#include "library_window/library_texts.hpp"

namespace velk::library {

namespace T = library_text;


// The rounded card background of panels and metric cards; panels are outlined in the shared card outline.
static void makeCard(QFrame* frame, bool outlined) {
    const QColor outline = Theme::cardOutline();
    frame->setObjectName(QStringLiteral("libraryCard"));
    frame->setStyleSheet(QStringLiteral("QFrame#libraryCard { background: palette(base); border-radius: 12px; %1 }")
                             .arg(outlined ? QStringLiteral("border: 1px solid rgba(%1,%2,%3,%4);")
                                                 .arg(outline.red())
                                                 .arg(outline.green())
                                                 .arg(outline.blue())
                                                 .arg(outline.alpha())
                                           : QStringLiteral("border: none;")));
}

LibraryPanel::LibraryPanel(const QString& title, std::string_view icon, QWidget* parent)
    : QFrame(parent), m_title(title) {
    makeCard(this, true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* header = new QWidget(this);
    header->setFixedHeight(36);
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(12, 0, 12, 0);
    headerLayout->addWidget(new SymbolLabel(title, icon, Tint::primary, TextStyle::caption, header));
    headerLayout->addStretch(1);
    layout->addWidget(header);
    layout->addWidget(divider(this));
    auto* body = new QWidget(this);
    m_content = new QVBoxLayout(body);
    m_content->setContentsMargins(12, 12, 12, 12);
    m_content->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    layout->addWidget(body, 1);
}

namespace {

// A row as assistive tools meet it: one text, its name, without the labels that would be read
// again; the buttons it shows are its only children (a readiness row has none).
class OneTextRowAccessible final : public QAccessibleWidget {
public:
    explicit OneTextRowAccessible(QWidget* row) : QAccessibleWidget(row, QAccessible::StaticText) {}
    int childCount() const override { return int(buttons().size()); }
    QAccessibleInterface* child(int index) const override {
        const QList<QAbstractButton*> shown = buttons();
        return index >= 0 && index < shown.size() ? QAccessible::queryAccessibleInterface(shown[index]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child ? int(buttons().indexOf(qobject_cast<QAbstractButton*>(child->object()))) : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        for (QAbstractButton* button : buttons()) {
            QAccessibleInterface* object = QAccessible::queryAccessibleInterface(button);
            if (object && object->rect().contains(x, y)) return object;
        }
        return nullptr;
    }

private:
    QList<QAbstractButton*> buttons() const {
        QList<QAbstractButton*> shown;
        for (QAbstractButton* button : widget()->findChildren<QAbstractButton*>()) {
            if (!button->isHidden()) shown.append(button);
        }
        return shown;
    }
};

QAccessibleInterface* oneTextRow(QWidget* row) { return new OneTextRowAccessible(row); }

// The application's focus ring while the keyboard is on the row.
void paintFocusRing(QWidget& row) {
    if (!row.hasFocus()) return;
    QStylePainter painter(&row);
    QStyleOptionFocusRect ring;
    ring.initFrom(&row);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, ring);
}

} // namespace

ReadinessRow::ReadinessRow(const QString& label, bool ready, QWidget* parent) : QWidget(parent), m_label(label) {
    Accessibility::presentAs(*this, oneTextRow);
    setFocusPolicy(Qt::TabFocus);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2); // room for the focus ring around the row
    m_icon = new QLabel(this);
    layout->addWidget(m_icon);
    layout->addWidget(styledLabel(label, TextStyle::body, false, Tint::primary, this));
    layout->addStretch(1);
    m_state = styledLabel({}, TextStyle::caption, false, Tint::secondary, this);
    layout->addWidget(m_state);
    setReady(ready);
}

void ReadinessRow::setReady(bool ready) {
    m_icon->setPixmap(symbolPixmap(ready ? "checkmark.circle.fill" : "circle.dashed", ready ? Tint::green : Tint::secondary, 16));
    m_state->setText(qs(ready ? T::readyWord : T::pendingWord));
    const QString spoken = m_label + QStringLiteral(": ") + m_state->text();
    if (accessibleName() != spoken) setAccessibleName(spoken);
}

void ReadinessRow::paintEvent(QPaintEvent*) { paintFocusRing(*this); }

MetricCard::MetricCard(const QString& title, const QString& value, std::string_view icon, QWidget* parent)
    : QFrame(parent) {
    makeCard(this, false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(10);
    auto* top = new QHBoxLayout;
    top->addWidget(styledLabel(title, TextStyle::caption, true, Tint::secondary, this));
    top->addStretch(1);
    auto* symbol = new QLabel(this);
    symbol->setPixmap(symbolPixmap(icon, Tint::green, 16));
    top->addWidget(symbol);
    layout->addLayout(top);
    m_value = styledLabel(value, TextStyle::title2, true, Tint::primary, this);
    layout->addWidget(m_value);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void MetricCard::setValue(const QString& value) { m_value->setText(value); }

ClipRow::ClipRow(const VELKClip& clip, bool isReference, std::function<void()> makeReference, QWidget* parent)
    : QWidget(parent) {
    // Tab reaches the row, which a screen reader reads as one text, then its button.
    Accessibility::presentAs(*this, oneTextRow);
    setFocusPolicy(Qt::TabFocus);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(12);
    m_icon = new QLabel(this);
    m_icon->setFixedWidth(28);
    m_icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_icon);

    auto* middle = new QVBoxLayout;
    middle->setSpacing(3);
    auto* cameraLine = new QHBoxLayout;
    m_camera = elidedLabel({}, TextStyle::headline, true, Tint::primary, this);
    m_camera->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    cameraLine->addWidget(m_camera, 1);
    middle->addLayout(cameraLine);
    m_fileName = elidedLabel({}, TextStyle::caption, false, Tint::secondary, this);
    m_fileName->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    middle->addWidget(m_fileName);
    m_device = styledLabel({}, TextStyle::caption2, false, Tint::secondary, this);
    m_device->setWordWrap(true);
    middle->addWidget(m_device);
    layout->addLayout(middle, 1);

    auto* right = new QVBoxLayout;
    right->setSpacing(4);
    m_copy = styledLabel({}, TextStyle::caption, false, Tint::primary, this);
    m_copy->setAlignment(Qt::AlignRight);
    right->addWidget(m_copy);
    m_anchors = styledLabel({}, TextStyle::caption2, false, Tint::secondary, this);
    m_anchors->setAlignment(Qt::AlignRight);
    right->addWidget(m_anchors);
    layout->addLayout(right);

    // The reference mark, or the button that makes this camera the reference, sits under the copy
    // state rather than beside the camera id, so that the row fits the narrow recordings panel.
    m_pill = new StatusPill(qs(T::referencePill), tintColor(Tint::green), this);
    right->addWidget(m_pill, 0, Qt::AlignRight);
    m_button = new QPushButton(qs(T::useAsReference), this);
    m_button->setFlat(true);
    m_button->setFont(library::font(TextStyle::caption));
    m_button->setStyleSheet(QStringLiteral("QPushButton { padding: 2px 4px; }"));
    m_button->setObjectName(QStringLiteral("useAsReference"));
    connect(m_button, &QPushButton::clicked, this, [this] {
        // A copy: the action may change the store, which draws this row again.
        if (const std::function<void()> action = m_makeReference) action();
    });
    right->addWidget(m_button, 0, Qt::AlignRight);
    set(clip, isReference, std::move(makeReference));
}

void ClipRow::set(const VELKClip& clip, bool isReference, std::function<void()> makeReference) {
    const ClipRowView view = clipRow(clip, isReference);
    m_icon->setPixmap(symbolPixmap(view.symbol, view.tint, 22));
    m_camera->setText(QString::fromStdString(clip.cameraId));
    m_fileName->setText(QString::fromStdString(clip.fileName));
    m_device->setText(clip.deviceName ? QString::fromStdString(*clip.deviceName) : QString());
    m_device->setVisible(clip.deviceName.has_value());
    m_copy->setText(qs(view.copyText));
    m_anchors->setText(qs(view.anchorsText));
    m_pill->setVisible(view.showsReferencePill);
    m_button->setAccessibleDescription(QString::fromStdString(clip.cameraId)); // which camera a screen reader hears
    m_button->setVisible(view.showsReferenceButton);
    m_makeReference = std::move(makeReference);
    if (accessibleName() != qs(view.spokenText)) setAccessibleName(qs(view.spokenText));
}

void ClipRow::paintEvent(QPaintEvent*) { paintFocusRing(*this); }

SymbolLabel::SymbolLabel(const QString& text, std::string_view symbol, Tint tint, TextStyle style, QWidget* parent)
    : QWidget(parent), m_style(style) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    m_icon = new QLabel(this);
    m_text = styledLabel(text, style, style == TextStyle::caption, tint, this);
    m_text->setWordWrap(style == TextStyle::body);
    layout->addWidget(m_icon);
    layout->addWidget(m_text, 1);
    set(text, symbol, tint);
}

void SymbolLabel::set(const QString& text, std::string_view symbol, Tint tint) {
    m_text->setText(text);
    setLabelTint(m_text, tint);
    m_icon->setPixmap(symbolPixmap(symbol, tint, QFontMetrics(library::font(m_style)).height()));
}

} // namespace velk::library
