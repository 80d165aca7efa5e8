#include "library_window/view_kit.hpp"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

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

ReadinessRow::ReadinessRow(const QString& label, bool ready, QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* icon = new QLabel(this);
    icon->setPixmap(symbolPixmap(ready ? "checkmark.circle.fill" : "circle.dashed", ready ? Tint::green : Tint::secondary, 16));
    layout->addWidget(icon);
    layout->addWidget(styledLabel(label, TextStyle::body, false, Tint::primary, this));
    layout->addStretch(1);
    layout->addWidget(styledLabel(qs(ready ? T::readyWord : T::pendingWord), TextStyle::caption, false, Tint::secondary, this));
}

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
    layout->addWidget(styledLabel(value, TextStyle::title2, true, Tint::primary, this));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

ClipRow::ClipRow(const VELKClip& clip, bool isReference, std::function<void()> makeReference, QWidget* parent)
    : QWidget(parent) {
    const ClipRowView view = clipRow(clip, isReference);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(12);
    auto* icon = new QLabel(this);
    icon->setFixedWidth(28);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(symbolPixmap(view.symbol, view.tint, 22));
    layout->addWidget(icon);

    auto* middle = new QVBoxLayout;
    middle->setSpacing(3);
    auto* cameraLine = new QHBoxLayout;
    auto* camera = elidedLabel(QString::fromStdString(clip.cameraId), TextStyle::headline, true, Tint::primary, this);
    camera->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    cameraLine->addWidget(camera, 1);
    middle->addLayout(cameraLine);
    auto* fileName = elidedLabel(QString::fromStdString(clip.fileName), TextStyle::caption, false, Tint::secondary, this);
    fileName->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    middle->addWidget(fileName);
    if (clip.deviceName) {
        auto* device = styledLabel(QString::fromStdString(*clip.deviceName), TextStyle::caption2, false, Tint::secondary, this);
        device->setWordWrap(true);
        middle->addWidget(device);
    }
    layout->addLayout(middle, 1);

    auto* right = new QVBoxLayout;
    right->setSpacing(4);
    auto* copy = styledLabel(qs(view.copyText), TextStyle::caption, false, Tint::primary, this);
    copy->setAlignment(Qt::AlignRight);
    right->addWidget(copy);
    auto* anchors = styledLabel(qs(view.anchorsText), TextStyle::caption2, false, Tint::secondary, this);
    anchors->setAlignment(Qt::AlignRight);
    right->addWidget(anchors);
    layout->addLayout(right);

    // The reference mark, or the button that makes this camera the reference, sits under the copy
    // state rather than beside the camera id, so that the row fits the narrow recordings panel.
    if (view.showsReferencePill) right->addWidget(new StatusPill(qs(T::referencePill), tintColor(Tint::green), this), 0, Qt::AlignRight);
    if (view.showsReferenceButton) {
        auto* button = new QPushButton(qs(T::useAsReference), this);
        button->setFlat(true);
        button->setFont(library::font(TextStyle::caption));
        button->setStyleSheet(QStringLiteral("QPushButton { padding: 2px 4px; }"));
        button->setObjectName(QStringLiteral("useAsReference"));
        button->setAccessibleDescription(QString::fromStdString(clip.cameraId)); // which camera a screen reader hears
        connect(button, &QPushButton::clicked, this, [makeReference = std::move(makeReference)] {
            if (makeReference) makeReference();
        });
        right->addWidget(button, 0, Qt::AlignRight);
    }
}

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
