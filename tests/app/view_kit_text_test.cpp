// Text from data in the shared view kit and in Settings: drawn as written, whole, and never wider
// than the room it is given.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTextLayout>
#include <QLabel>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QVBoxLayout>

#include "app/settings_window.hpp"
#include "app/view_kit.hpp"
#include "store/app_store.hpp"
#include "support/verbatim.hpp"

namespace velk {
namespace {

void ensureApplication() {
    static int argc = 1;
    static char name[] = "velk_app_tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
}

TEST(ViewKitText, PlainToolTipsShowTheTextItself) {
    ensureApplication();
    for (const QString& text : {test::largeMarkup, test::imageMarkup, test::underlinedFile,
                                QStringLiteral("two  spaces\nand a second line"), QStringLiteral("plain")}) {
        EXPECT_EQ(test::toolTipAsShown(plainToolTip(text)), text);
    }
    EXPECT_EQ(plainToolTip({}), QString()); // no tooltip at all
}

TEST(ViewKitText, WrappedLabelBreaksLongWordsInsteadOfGrowing) {
    ensureApplication();
    QWidget box;
    auto* layout = new QVBoxLayout(&box);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    const QString path = QStringLiteral("/home/someone/.local/share/Velk/trusted-cameras-v1.json.unreadable-20250101-120000");
    auto* label = new WrappedLabel(QStringLiteral("Kept the unreadable list as ") + path + QStringLiteral("."), &box);
    label->setMaximumWidth(200);
    layout->addWidget(label);
    box.show();
    QApplication::processEvents();
    EXPECT_LE(label->width(), 200);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    const int lines = label->height() / label->fontMetrics().lineSpacing();
    EXPECT_GE(lines, label->fontMetrics().horizontalAdvance(label->text()) / 200); // every part of it has room
    EXPECT_EQ(label->heightForWidth(200), label->height());
}

// A path longer than a line breaks after its separators, never inside a folder's name or a number.
TEST(ViewKitText, APathBreaksAtItsSeparators) {
    ensureApplication();
    const QString text = QStringLiteral("Exported to /home/someone/Videos/Kestova/Show-20261209-224719/Take-224719.mov");
    const QFont font = QApplication::font();
    for (int width = 80; width <= 400; width += 5) { // each part between separators fits on a line
        QTextLayout layout(text, font);
        wrapText(layout, width);
        for (int i = 0; i + 1 < layout.lineCount(); ++i) {
            const int end = layout.lineAt(i).textStart() + layout.lineAt(i).textLength();
            if (text[end - 1].isSpace() || text[end].isSpace()) continue;
            EXPECT_TRUE(QStringLiteral("/-.").contains(text[end - 1])) << width << ": " << text.left(end).toStdString();
        }
    }
}

TEST(ViewKitText, SettingsShowsTheFoldersAsWritten) {
    ensureApplication();
    QTemporaryDir folder;
    const std::filesystem::path root = std::filesystem::path(folder.path().toStdString()) / test::underlinedFile.toStdString();
    AppStore store(root / "support", root / "recordings");
    SettingsWindow settings(store);
    settings.show();
    QApplication::processEvents();
    test::expectShownVerbatim(settings, test::underlinedFile);
}

} // namespace
} // namespace velk
