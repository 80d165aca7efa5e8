#pragma once
// The inspector column of the Director window: a segmented picker over the Session, Audio, Camera
// and Edits tabs. Each tab reads the window's state when it is refreshed and acts through the
// window's operations.

#include <vector>

#include <QWidget>

#include "director_window/director_workspace.hpp"

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStackedWidget;
class QButtonGroup;
class QToolButton;
class QVBoxLayout;

namespace velk {

class CompactAudioChannel;
class CompactEmptyState;
class DirectorWindow;
class InspectorHeading;
class PreviewStatusRow;

class SessionInspector final : public QWidget {
    Q_OBJECT
public:
    explicit SessionInspector(DirectorWindow& window, QWidget* parent = nullptr);
    void refresh();

    QComboBox* projectPicker() const { return m_project; }
    QLineEdit* takeField() const { return m_take; }
    QToolButton* newTakeButton() const { return m_newTake; }
    QPushButton* startButton() const { return m_start; }
    QPushButton* recAllButton() const { return m_recAll; }
    QPushButton* stopAllButton() const { return m_stopAll; }
    QLabel* controlMessageLabel() const { return m_message; }
    std::vector<QString> stopResultTexts() const;

private:
    DirectorWindow& m_window;
    QComboBox* m_project;
    QLineEdit* m_take;
    QToolButton* m_newTake;
    QWidget* m_takeRow;
    QPushButton* m_start;
    QPushButton* m_recAll;
    QPushButton* m_stopAll;
    QLabel* m_message;
    QVBoxLayout* m_stopResults;
    std::vector<QLabel*> m_stopResultLabels;
    bool m_updating = false;
};

class EditsInspector final : public QWidget {
    Q_OBJECT
public:
    explicit EditsInspector(DirectorWindow& window, QWidget* parent = nullptr);
    void refresh();
    QListWidget* list() const { return m_list; }
    InspectorHeading* heading() const { return m_heading; }

private:
    DirectorWindow& m_window;
    InspectorHeading* m_heading;
    CompactEmptyState* m_empty;
    QListWidget* m_list;
};

class AudioInspector final : public QWidget {
    Q_OBJECT
public:
    explicit AudioInspector(DirectorWindow& window, QWidget* parent = nullptr);
    void refresh();
    const std::vector<CompactAudioChannel*>& channels() const { return m_channels; }

private:
    DirectorWindow& m_window;
    CompactEmptyState* m_empty;
    QVBoxLayout* m_column;
    std::vector<CompactAudioChannel*> m_channels;
};

class CameraInspector final : public QWidget {
    Q_OBJECT
public:
    explicit CameraInspector(DirectorWindow& window, QWidget* parent = nullptr);
    void refresh();

    InspectorHeading* heading() const { return m_heading; }
    QLabel* orientationLabel() const { return m_orientationText; }
    QPushButton* rotateButton() const { return m_rotate; }
    QPushButton* recCameraButton() const { return m_recCamera; }
    QPushButton* stopCameraButton() const { return m_stopCamera; }
    QComboBox* policyPicker() const { return m_policy; }
    // The ten status rows, in order, and the live-production row.
    const std::vector<PreviewStatusRow*>& statusRows() const { return m_rows; }

private:
    DirectorWindow& m_window;
    InspectorHeading* m_heading;
    QLabel* m_orientationIcon;
    QLabel* m_orientationText;
    QPushButton* m_rotate;
    QPushButton* m_recCamera;
    QPushButton* m_stopCamera;
    QComboBox* m_policy;
    std::vector<PreviewStatusRow*> m_rows;
    bool m_updating = false;
};

class DirectorInspector final : public QWidget {
    Q_OBJECT
public:
    explicit DirectorInspector(DirectorWindow& window, QWidget* parent = nullptr);
    // Shows the window's tab and refreshes it; the hidden tabs wait until they are shown.
    void refresh();

    // The segment of each tab, in tab order.
    QToolButton* tabButton(DirectorInspectorTab tab) const;
    int currentTabIndex() const;
    SessionInspector* session() const { return m_session; }
    AudioInspector* audio() const { return m_audio; }
    CameraInspector* camera() const { return m_camera; }
    EditsInspector* edits() const { return m_edits; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    DirectorWindow& m_window;
    QButtonGroup* m_tabs;
    QStackedWidget* m_stack;
    SessionInspector* m_session;
    AudioInspector* m_audio;
    CameraInspector* m_camera;
    EditsInspector* m_edits;
};

} // namespace velk
