#pragma once
// The small views both windows are made of: the centred empty-state placeholder in its two sizes,
// the capsule status tag, the one-line elided label and pop-up button, and the thin divider. Each is
// drawn only from what its caller passes.

#include <string_view>

#include <QColor>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QStringList>
#include <QWidget>

class QTextLayout;

namespace velk {

// The symbol, title and detail, centred both ways in whatever space the container offers.
class EmptyStateView : public QWidget {
    Q_OBJECT
public:
    EmptyStateView(const QString& title, std::string_view symbol, const QString& detail, QWidget* parent = nullptr);
    QString title() const { return m_title->text(); }
    QString detail() const { return m_detail->text(); }

protected:
    enum class Size { regular, compact };
    EmptyStateView(const QString& title, std::string_view symbol, const QString& detail, Size size, QWidget* parent);

private:
    QLabel* m_title;
    QLabel* m_detail;
};

// The same placeholder, smaller, for panels and inspector tabs.
class CompactEmptyState final : public EmptyStateView {
    Q_OBJECT
public:
    CompactEmptyState(const QString& title, std::string_view icon, const QString& detail, QWidget* parent = nullptr);
};

// A capsule tag: the text in caption bold drawn in the caller's colour, on that colour at 16 %.
class StatusPill final : public QLabel {
    Q_OBJECT
public:
    explicit StatusPill(QWidget* parent = nullptr);
    StatusPill(const QString& text, const QColor& color, QWidget* parent = nullptr);
    void setPill(const QString& text, const QColor& color);
    QColor color() const { return m_color; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_color;
};

// A one-line text cut with an ellipsis to the width it is given, instead of clipped mid-glyph.
class ElidedLabel final : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(const QString& text = {}, QWidget* parent = nullptr);
    // The text as drawn at the current width.
    QString shownText() const;
    // Squeezed no further than the width of this many digits (or its whole text when shorter):
    // for texts that must stay recognisable, such as a take id.
    void keepAtLeast(int characters);
    // The end of the text that is never cut (`elidedKeepingEnd`), such as a state after a name.
    void setKeptEnd(const QString& end);
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_keptCharacters = 0;
    QString m_keptEnd;
};

// A pop-up button whose chosen text is cut with an ellipsis to the room it has, instead of clipped
// mid-glyph, and shown whole as its tooltip while it is cut. Its list shows every option whole.
class ElidedComboBox final : public QComboBox {
    Q_OBJECT
public:
    explicit ElidedComboBox(QWidget* parent = nullptr);
    // The chosen text as drawn at the current width.
    QString shownText() const;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString shownText(const class QStyleOptionComboBox& option) const;
};

// `text` cut with an ellipsis to `width`, its last characters `end` kept whole: the name is cut and
// the state after it stays ("Balcony Wide Ca… • OFFLINE"). Cut at its end when it does
// not end with `end` or not even `end` has room.
QString elidedKeepingEnd(const QFontMetrics& metrics, const QString& text, const QString& end, int width);

// A text of any length in as many lines as its width needs: broken between words, and inside a
// word only when the word is longer than a line (a file path, an id), so nothing is ever cut off;
// there after a path separator where the line holds one (else after "-", "_" or ".").
// Plain text always.
class WrappedLabel final : public QLabel {
    Q_OBJECT
public:
    explicit WrappedLabel(const QString& text = {}, QWidget* parent = nullptr);
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    // As wide as the text on one line, within the maximum width, and as high as that width needs.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The lines a text is drawn in when it has room for two: wrapped at spaces onto at most two lines
// of `width`, a line cut with an ellipsis where a word is wider than the line or text is left over.
// A value without spaces is thus cut, never widening its column.
QStringList twoLineText(const QString& text, const QFont& font, int width);

// A label that draws its text in at most two lines cut to its width (`twoLineText`), in plain
// text; its text, and so what assistive tools read, stays whole.
class TwoLineLabel final : public QLabel {
    Q_OBJECT
public:
    explicit TwoLineLabel(QWidget* parent = nullptr);
    QStringList shownLines() const;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A thin horizontal line between regions.
QFrame* divider(QWidget* parent = nullptr);

// Lays out the layout's text in lines `width` wide, broken as WrappedLabel breaks them, and gives
// the height of the lines. The layout is then ready to draw.
int wrapText(QTextLayout& layout, int width, Qt::Alignment alignment = Qt::AlignLeft);

// A tooltip that shows `text` exactly as written. Qt reads a tooltip as rich text whenever it looks
// like markup, so text from data goes in escaped, in a paragraph that keeps its spaces and breaks.
QString plainToolTip(const QString& text);

} // namespace velk
