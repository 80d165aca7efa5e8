#include "app/settings_window.hpp"

#include <QDir>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QPainter>
#include <QShortcut>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QVBoxLayout>

#include "app/keyboard_keeper.hpp"
#include "app/settings_presenter.hpp"
#include "app/theme.hpp"
#include "store/app_store.hpp"

namespace velk {

namespace {

// A line of the form. A folder line takes the focus from Tab and shows the style's focus ring there,
// as a control does, which a label alone does not draw; every line keeps the ring's room, so the
// lines stay aligned.
class SettingsLineLabel final : public QLabel {
public:
    explicit SettingsLineLabel(QWidget* parent) : QLabel(parent) { setContentsMargins(4, 3, 4, 3); }

protected:
    void paintEvent(QPaintEvent* event) override {
        QLabel::paintEvent(event);
        if (!hasFocus()) return;
        QStyleOptionFocusRect ring;
        ring.initFrom(this);
        QPainter painter(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &ring, &painter, this);
    }
};

} // namespace

SettingsWindow::SettingsWindow(AppStore& store, QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QString::fromUtf8(SettingsText::windowTitle));
    auto* form = new QWidget(this);
    auto* layout = new QVBoxLayout(form);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);
    const auto sections = settingsSections(store.recordingsDirectory(), store.supportDirectory(),
                                           QDir::homePath().toStdString());
    for (const SettingsSection& section : sections) {
        auto* box = new QGroupBox(QString::fromStdString(section.title), form);
        box->setFont(Theme::font(Theme::TextStyle::headline));
        auto* lines = new QVBoxLayout(box);
        lines->setSpacing(6);
        for (const SettingsLine& line : section.lines) {
            // The folders are the user's own and may hold any character.
            auto* label = new SettingsLineLabel(box);
            label->setTextFormat(Qt::PlainText);
            label->setText(QString::fromStdString(line.text));
            label->setWordWrap(true);
            // A folder line and the safety promise take the focus (Tab), so a screen reader reads
            // them and the keyboard selects and copies from them.
            label->setTextInteractionFlags(line.reachedByTab ? Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard
                                                       : Qt::TextSelectableByMouse);
            if (line.reachedByTab) label->setFocusPolicy(Qt::StrongFocus);
            label->setFont(Theme::font(line.caption ? Theme::TextStyle::caption : Theme::TextStyle::body));
            if (line.caption) Theme::setSecondary(*label);
            lines->addWidget(label);
        }
        layout->addWidget(box);
    }
    setCentralWidget(form);
    // Exactly as wide as the form and as high as its wrapped lines need.
    const int height = form->hasHeightForWidth() ? form->heightForWidth(Theme::settingsWidth) : form->sizeHint().height();
    setFixedSize(Theme::settingsWidth, height);
    // No menu bar here, so the window closes with the usual keys of its own.
    for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::Key_Escape)}) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, &QWidget::close);
    }
    // The keyboard goes by the application's rule: as the window opens it is on the first folder line,
    // which shows its focus mark, as after a Tab (app/keyboard_keeper).
    Keyboard::keep(*this);
}

} // namespace velk
