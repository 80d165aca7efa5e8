#pragma once
// The New Project and Rename Project sheets: a title, an optional note, the name field, "Cancel"
// and the confirming default button. The typed text belongs to the window.

#include <functional>
#include <string>

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace velk::library {

class ProjectNameSheet final : public QDialog {
    Q_OBJECT
public:
    struct Texts {
        QString title;
        QString note; // empty: none
        QString confirm;
        int width;
    };
    // `name` is owned by the window and follows every edit; `confirmed` runs before the sheet closes.
    ProjectNameSheet(const Texts& texts, std::string& name, std::function<void()> confirmed, QWidget* parent);

    QLineEdit* nameField() const { return m_field; }
    QPushButton* confirmButton() const { return m_confirm; }

private:
    QLineEdit* m_field;
    QPushButton* m_confirm;
};

} // namespace velk::library
