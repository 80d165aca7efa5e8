#include "library_window/project_name_sheet.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "library_window/library_style.hpp"
#include "library_window/library_texts.hpp"

namespace velk::library {

ProjectNameSheet::ProjectNameSheet(const Texts& texts, std::string& name, std::function<void()> confirmed,
                                   QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(texts.title);
    setWindowModality(Qt::WindowModal);
    setFixedWidth(texts.width);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);
    layout->addWidget(styledLabel(texts.title, TextStyle::title2, true, Tint::primary, this));
    if (!texts.note.isEmpty()) {
        auto* note = styledLabel(texts.note, TextStyle::caption, false, Tint::secondary, this);
        note->setWordWrap(true);
        layout->addWidget(note);
    }
    m_field = new QLineEdit(QString::fromStdString(name), this);
    m_field->setPlaceholderText(QString::fromUtf8(library_text::projectNamePlaceholder));
    m_field->setAccessibleName(QString::fromUtf8(library_text::projectNamePlaceholder));
    connect(m_field, &QLineEdit::textEdited, this, [&name](const QString& text) { name = text.toStdString(); });
    layout->addWidget(m_field);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = new QPushButton(QString::fromUtf8(library_text::cancel), this);
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(cancel);
    m_confirm = new QPushButton(texts.confirm, this);
    m_confirm->setDefault(true);
    connect(m_confirm, &QPushButton::clicked, this, [this, confirmed = std::move(confirmed)] {
        confirmed();
        accept();
    });
    buttons->addWidget(m_confirm);
    layout->addLayout(buttons);
}

} // namespace velk::library
