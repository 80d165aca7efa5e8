#include "app/theme.hpp"

#include <algorithm>
#include <cmath>

#include <QAbstractItemView>
#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QWidget>

#include "app/accessibility.hpp"
#include "app/symbols.hpp"

namespace velk::Theme {
namespace {

// Sizes of the named styles relative to body text.
double scale(TextStyle style) {
    switch (style) {
    case TextStyle::largeTitle: return 2.0;
    case TextStyle::title: return 1.7;
    case TextStyle::title2: return 1.3;
    case TextStyle::title3: return 1.15;
    case TextStyle::headline: return 1.0;
    case TextStyle::body: return 1.0;
    case TextStyle::callout: return 0.93;
    case TextStyle::subheadline: return 0.88;
    case TextStyle::footnote: return 0.85;
    case TextStyle::caption: return 0.85;
    case TextStyle::caption2: return 0.78;
    }
    return 1.0;
}

// WCAG's contrast ratio of two colours, from their relative luminance.
double contrastRatio(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Fusion on the dark palette, with two things it lacks there.
// Controls that can be seen: Fusion outlines a check box, a radio button and a text field in the
// window colour darkened, which barely differs from the dark surfaces they stand on; their frame
// is drawn again in `controlFrame()`, or in the tint while a text field (or, by keyboard, a box)
// has the focus.
// A focus ring: where the keyboard's focus is, a 2-point ring in the tint (in the selected text's
// colour on a selected row). Like Fusion's own, it is drawn only once the focus has moved by
// keyboard, so a mouse user sees no change. A list draws the ring on its current row; an empty
// one, which has no row, around its whole area.
class StudioStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    using QProxyStyle::polish;
    using QProxyStyle::unpolish;

    void polish(QWidget* widget) override {
        QProxyStyle::polish(widget);
        if (auto* view = qobject_cast<QAbstractItemView*>(widget)) view->viewport()->installEventFilter(this);
    }
    void unpolish(QWidget* widget) override {
        if (auto* view = qobject_cast<QAbstractItemView*>(widget)) view->viewport()->removeEventFilter(this);
        QProxyStyle::unpolish(widget);
    }

    // Before the list paints its rows, of which an empty list has none to paint over the ring.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            auto* view = qobject_cast<QAbstractItemView*>(watched->parent());
            if (view && view->viewport() == watched && view->hasFocus() && view->model() &&
                view->model()->rowCount(view->rootIndex()) == 0) {
                QStyleOptionFocusRect ring;
                ring.initFrom(view);
                ring.rect = view->viewport()->rect();
                QPainter painter(view->viewport());
                drawPrimitive(PE_FrameFocusRect, &ring, &painter, view);
            }
        }
        return QProxyStyle::eventFilter(watched, event);
    }

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element == PE_FrameFocusRect) {
            if (option->state.testFlag(State_KeyboardFocusChange)) drawRing(option, painter);
            return;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        if (element == PE_IndicatorCheckBox || element == PE_IndicatorRadioButton || element == PE_FrameLineEdit)
            drawControlFrame(element, option, painter);
        if (element == PE_FrameLineEdit && option->state.testFlag(State_HasFocus) &&
            option->state.testFlag(State_KeyboardFocusChange)) {
            drawRing(option, painter);
        }
    }

    // Fusion marks a focused combo box or spin box only by a faint outline in the highlight colour.
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        if ((control == CC_ComboBox || control == CC_SpinBox) && option->state.testFlag(State_HasFocus) &&
            option->state.testFlag(State_KeyboardFocusChange)) {
            drawRing(option, painter);
        }
    }

    // Fusion marks a focused push button and a focused tab only by a faint outline or fill, and a
    // check box or radio button by a ring around its words alone.
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        QProxyStyle::drawControl(element, option, painter, widget);
        if ((element != CE_PushButton && element != CE_TabBarTabShape && element != CE_CheckBox && element != CE_RadioButton) ||
            !option->state.testFlag(State_HasFocus) || !option->state.testFlag(State_KeyboardFocusChange)) {
            return;
        }
        QStyleOption ring = *option;
        ring.state &= ~State_Selected;
        ring.rect = element == CE_TabBarTabShape ? option->rect.adjusted(2, 2, -2, -1) : option->rect;
        // A default button's face is drawn in the highlight colour.
        const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
        drawRing(&ring, painter, button && button->features.testFlag(QStyleOptionButton::DefaultButton));
    }

    // Fusion makes a button with a symbol and words exactly as wide as they are (and its frame), so
    // they meet its edges, and at a scale such as 1.5 cross them: such a button keeps an average
    // character's width of its face free on either side.
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override {
        QSize result = QProxyStyle::sizeFromContents(type, option, size, widget);
        if (const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
            type == CT_PushButton && button && !button->icon.isNull() && !button->text.isEmpty()) {
            result.rwidth() = std::max(result.width(), size.width() + contentMargin(option, widget) +
                                                           2 * option->fontMetrics.averageCharWidth());
        }
        return result;
    }

private:
    // What Fusion puts around a button's contents: its margin and frame.
    int contentMargin(const QStyleOption* option, const QWidget* widget) const {
        return pixelMetric(PM_ButtonMargin, option, widget) + 2 * pixelMetric(PM_DefaultFrameWidth, option, widget);
    }

    // Over Fusion's own outline, on its outermost pixel. One point wide, not one device pixel as
    // Fusion's: at a scale such as 1.5 a line one device pixel wide falls across two, each at half
    // its colour.
    static void drawControlFrame(PrimitiveElement element, const QStyleOption* option, QPainter* painter) {
        const bool focused = option->state.testFlag(State_HasFocus) &&
                             (element == PE_FrameLineEdit || option->state.testFlag(State_KeyboardFocusChange));
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(focused ? accent() : controlFrame(), 1.0));
        painter->setBrush(Qt::NoBrush);
        const QRectF rect = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
        if (element == PE_IndicatorRadioButton)
            painter->drawEllipse(rect);
        else if (element == PE_FrameLineEdit)
            painter->drawRoundedRect(rect, 2, 2);
        else
            painter->drawRect(rect);
        painter->restore();
    }

    // In the tint, or where the tint would not stand out by 3:1 from the control's face (a red Stop
    // All) or from what it stands on, in white or black, whichever stands out more.
    static QColor ringColour(const QStyleOption* option, bool onHighlight) {
        if (option->state.testFlag(State_Selected)) return option->palette.color(QPalette::HighlightedText);
        const QColor grounds[] = {option->palette.color(onHighlight ? QPalette::Highlight : QPalette::Button),
                                  option->palette.color(QPalette::Window)};
        const auto standsOut = [&](const QColor& colour) {
            double least = 1e9;
            for (const QColor& ground : grounds) least = std::min(least, contrastRatio(colour, ground));
            return least;
        };
        if (standsOut(accent()) >= 3) return accent();
        return standsOut(Qt::white) >= standsOut(Qt::black) ? QColor(Qt::white) : QColor(Qt::black);
    }

    static void drawRing(const QStyleOption* option, QPainter* painter, bool onHighlight = false) {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QColor colour = ringColour(option, onHighlight);
        painter->setPen(QPen(colour, 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(option->rect).adjusted(1, 1, -1, -1), 4, 4);
        painter->restore();
    }
};

} // namespace

QFont font(TextStyle style, bool bold) {
    QFont result = QApplication::font();
    const double base = result.pointSizeF() > 0 ? result.pointSizeF() : 10.0;
    result.setPointSizeF(std::max(6.5, base * scale(style)));
    // Always set, so a widget's font never inherits its parent's weight.
    result.setWeight(QFont::Normal);
    if (bold || style == TextStyle::headline) result.setWeight(QFont::DemiBold);
    if (bold && (style == TextStyle::title || style == TextStyle::title2 || style == TextStyle::largeTitle))
        result.setWeight(QFont::Bold);
    return result;
}

QFont monospacedDigits(TextStyle style, bool bold) {
    // The desktop's interface fonts (DejaVu, Noto, Cantarell) draw digits of equal width already.
    return font(style, bold);
}

QColor green() { return QColor(48, 209, 88); }
QColor orange() { return QColor(255, 159, 10); }
QColor red() { return QColor(255, 69, 58); }
QColor yellow() { return QColor(255, 214, 10); }
QColor blue() { return QColor(10, 132, 255); }
QColor gray() { return QColor(152, 152, 157); }
QColor accent() { return QColor::fromRgbF(0.15f, 0.78f, 0.48f, 1.0f); }

QColor secondary(const QPalette& palette) {
    QColor text = palette.color(QPalette::WindowText);
    text.setAlphaF(0.6f);
    return text;
}

QColor withOpacity(QColor colour, double opacity) {
    colour.setAlphaF(float(std::clamp(opacity, 0.0, 1.0)));
    return colour;
}

QColor material(const QPalette& palette) {
    const QColor window = palette.color(QPalette::Window);
    return window.lightness() < 128 ? window.lighter(135) : window.darker(106);
}

QColor cardOutline() { return withOpacity(Qt::white, 0.08); }

QColor controlFrame() { return QColor(150, 150, 155); }

void apply(QApplication& application) {
    Accessibility::install();
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) application.setStyle(new StudioStyle(fusion));
    // A dark studio palette: the camera wall and the monitors read best on dark surroundings.
    QPalette palette;
    const QColor window(30, 31, 34);
    const QColor base(22, 23, 25);
    const QColor text(230, 230, 232);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, QColor(36, 37, 40));
    palette.setColor(QPalette::ToolTipBase, QColor(50, 51, 55));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, QColor(140, 140, 145));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(52, 53, 58));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, red());
    palette.setColor(QPalette::Link, accent());
    palette.setColor(QPalette::Highlight, accent().darker(130));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Mid, QColor(60, 61, 66));
    palette.setColor(QPalette::Dark, QColor(18, 18, 20));
    palette.setColor(QPalette::Light, QColor(70, 71, 76));
    const QColor disabled(120, 120, 125);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
    palette.setColor(QPalette::Disabled, QPalette::Text, disabled);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabled);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(70, 71, 76));
    application.setPalette(palette);
    // Light ink, for the palette just set.
    Symbols::installIconTheme();
}

void applyAccent(QWidget& window) {
    QPalette palette = window.palette();
    palette.setColor(QPalette::Highlight, accent().darker(130));
    palette.setColor(QPalette::Link, accent());
    window.setPalette(palette);
}

void setProminent(QWidget& button) {
    QPalette palette = button.palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Button, accent().darker(160));
        palette.setColor(group, QPalette::ButtonText, Qt::white);
    }
    button.setPalette(palette);
}

void setSecondary(QWidget& widget) {
    QPalette palette = widget.palette();
    const QColor dim = secondary(palette);
    palette.setColor(QPalette::WindowText, dim);
    palette.setColor(QPalette::Text, dim);
    widget.setPalette(palette);
}

} // namespace velk::Theme
