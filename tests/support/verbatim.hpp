#pragma once
// Text from data (phones, catalogs, files, the user) drawn exactly as written: labels in plain
// text as wide as the plain text, and tooltips that Qt shows as the text itself.

#include <algorithm>

#include <QLabel>
#include <QList>
#include <QTextDocument>
#include <QWidget>

#include <gtest/gtest.h>

namespace velk::test {

// Names whose markup would change what is drawn, were they read as rich text.
inline const QString largeMarkup = QStringLiteral("<b style=\"font-size:60pt\">Stage Left</b>");
inline const QString imageMarkup = QStringLiteral("Cam <img src=\"camera.png\" width=\"200\"> 2");
inline const QString underlinedFile = QStringLiteral("<u>A</u>.mov");

// The text a tooltip shows: Qt reads it as rich text whenever it looks like markup.
inline QString toolTipAsShown(const QString& tip) {
    if (!Qt::mightBeRichText(tip)) return tip;
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText();
}

// Every visible label under `root` whose text holds `text` draws it as plain text: its format is
// plain and it is as wide as its text in its font, not as what markup would make of it. A label that
// wraps fits its text on one line exactly that wide (or wraps it within its maximum width).
inline void expectShownVerbatim(QWidget& root, const QString& text) {
    int found = 0;
    for (QLabel* label : root.findChildren<QLabel*>()) {
        if (!label->text().contains(text) || !label->isVisibleTo(&root)) continue;
        ++found;
        SCOPED_TRACE(label->text().toStdString());
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
        const QMargins margins = label->contentsMargins();
        const int frame = margins.left() + margins.right() + 2 * label->margin();
        const int plain = label->fontMetrics().horizontalAdvance(label->text());
        const int room = label->maximumWidth() - frame;
        if (!label->wordWrap()) {
            EXPECT_NEAR(label->sizeHint().width() - frame, plain, 3);
        } else if (plain + 3 <= room) {
            const int oneLine = label->heightForWidth(plain + frame + 3) - margins.top() - margins.bottom() - 2 * label->margin();
            EXPECT_LE(oneLine, label->fontMetrics().lineSpacing() + 1);
        } else {
            const int lines = (plain + room - 1) / room;
            EXPECT_GE(label->heightForWidth(room + frame), (lines - 1) * label->fontMetrics().lineSpacing());
        }
    }
    EXPECT_GT(found, 0) << "no label shows " << text.toStdString();
}

} // namespace velk::test
