#pragma once
// The switcher: the Preview and Program monitors side by side over CUT, FADE with its duration,
// Marker and the "Monitor only" notice. No video is switched: a take only moves cameras between
// Preview and Program in the edit log.

#include <cstdint>
#include <string>

#include <QImage>
#include <QWidget>

#include "director_window/director_presenters.hpp"

class QComboBox;
class QPushButton;

namespace velk {

class DirectorWindow;

class DirectorMonitor final : public QWidget {
    Q_OBJECT
public:
    explicit DirectorMonitor(QWidget* parent = nullptr);
    void setMonitor(const MonitorState& state, const QImage* image, std::int64_t rotation);
    const MonitorState& state() const { return m_state; }
    std::uint64_t paintCount() const { return m_paintCount; }
    QSize minimumSizeHint() const override { return {120, 96}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    MonitorState m_state;
    QImage m_image;
    std::int64_t m_rotation = 0;
    std::uint64_t m_paintCount = 0;
};

class SwitcherView final : public QWidget {
    Q_OBJECT
public:
    explicit SwitcherView(DirectorWindow& window, QWidget* parent = nullptr);
    void refresh();
    void refreshMonitors();

    QPushButton* cutButton() const { return m_cut; }
    QPushButton* fadeButton() const { return m_fade; }
    QPushButton* markerButton() const { return m_marker; }
    QComboBox* fadeDurationPicker() const { return m_duration; }
    DirectorMonitor* previewMonitor() const { return m_preview; }
    DirectorMonitor* programMonitor() const { return m_program; }

private:
    DirectorWindow& m_window;
    DirectorMonitor* m_preview;
    DirectorMonitor* m_program;
    QPushButton* m_cut;
    QPushButton* m_fade;
    QComboBox* m_duration;
    QPushButton* m_marker;
};

} // namespace velk
