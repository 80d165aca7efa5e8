#pragma once
// The small views the Director window is built from: the titled studio panel, the level meter, the
// audio channel strip, the inspector heading, the preview status row, the boxed note and the planned
// control row. The status pill and the compact empty state are the shared ones of app/view_kit.

#include <string>

#include <QFrame>
#include <QLabel>
#include <QWidget>

#include "app/view_kit.hpp"
#include "director_window/director_presenters.hpp"

class QLabel;
class QSlider;
class QToolButton;

namespace velk {

// A rounded card with a 34-point header (symbol, title, subtitle) over its content.
class StudioPanel final : public QFrame {
    Q_OBJECT
public:
    StudioPanel(const QString& title, const QString& subtitle, const char* icon, QWidget* content,
                QWidget* parent = nullptr);
    void setSubtitle(const QString& subtitle);
    QString subtitle() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_subtitle = nullptr;
};

// Paints a rounded box of the secondary colour at 7 % (notes, planned controls, channel strips).
void paintNoteBackground(QWidget& widget, int radius = 9);

// A level bar; assistive tools read it as text, the level its owner names it by.
class AudioMeter final : public QWidget {
    Q_OBJECT
public:
    explicit AudioMeter(QWidget* parent = nullptr);
    void setValue(double db);
    double value() const { return m_value; }
    QSize sizeHint() const override { return {120, 5}; }
    QSize minimumSizeHint() const override { return {45, 5}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_value = -60;
};

// Draws the meter into a rectangle; shared by the widget and the camera tiles.
void paintAudioMeter(class QPainter& painter, const QRectF& rect, double db, const QPalette& palette);

class InspectorHeading final : public QWidget {
    Q_OBJECT
public:
    InspectorHeading(const QString& title, const QString& detail, QWidget* parent = nullptr);
    // A title cut to one line keeps `keptEnd` whole; its tooltip gives it whole.
    void setTitle(const QString& title, const QString& keptEnd = {});
    void setDetail(const QString& detail);
    QString title() const;
    QString detail() const;
    ElidedLabel* titleLabel() const { return m_title; }

private:
    ElidedLabel* m_title;
    QLabel* m_detail;
};

class PreviewStatusRow final : public QWidget {
    Q_OBJECT
public:
    PreviewStatusRow(const QString& label, const QString& value, QWidget* parent = nullptr);
    // Shows the value; assistive tools read the row as the camera's field and value in one text.
    void setValue(const QString& value, const QString& cameraName);
    QString value() const;
    TwoLineLabel* valueLabel() const { return m_value; }

private:
    QString m_label;
    TwoLineLabel* m_value;
};

class SafetyNote final : public QWidget {
    Q_OBJECT
public:
    SafetyNote(const char* icon, const QString& text, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class FutureControl final : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* helpText = "Shown for direction only; this control is not active in the current release.";
    FutureControl(const char* icon, const QString& title, const QString& detail, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// One meter strip per audio channel. Gain, mute and solo show the channel's values and stay
// disabled: the phones send levels, not samples.
class CompactAudioChannel final : public QWidget {
    Q_OBJECT
public:
    explicit CompactAudioChannel(QWidget* parent = nullptr);
    void setChannel(const AudioChannelState& channel, const LiveCamera* camera, WallTime now);
    QString levelText() const;
    AudioMeter* leftMeter() const { return m_left; }
    AudioMeter* rightMeter() const { return m_right; }
    QSlider* gainSlider() const { return m_gain; }
    QToolButton* muteToggle() const { return m_mute; }
    QToolButton* soloToggle() const { return m_solo; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_name;
    QLabel* m_level;
    AudioMeter* m_left;
    AudioMeter* m_right;
    QSlider* m_gain;
    QToolButton* m_mute;
    QToolButton* m_solo;
};

} // namespace velk
