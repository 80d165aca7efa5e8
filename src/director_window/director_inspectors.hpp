#pragma once
// The inspector column of the Director window: a tab bar over the Session, Audio, Camera and Edits
// tabs, drawn as one segmented control. Each tab reads the window's state when it is refreshed and
// acts through the window's operations.

#include <optional>
#include <vector>

#include <QTabBar>
#include <QWidget>

#include "director_window/director_presenters.hpp"
#include "director_window/director_workspace.hpp"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

namespace velk {

class CompactAudioChannel;
class ElidedComboBox;
class CompactEmptyState;
class DirectorWindow;
class InspectorHeading;
class PreviewStatusRow;

class SessionInspector final : public QWidget {
    Q_OBJECT
public:
    explicit SessionInspector(DirectorWindow& window, QWidget* parent = nullptr);
    void refresh();

    ElidedComboBox* projectPicker() const { return m_project; }
    QLineEdit* takeField() const { return m_take; }
    QToolButton* newTakeButton() const { return m_newTake; }
    QPushButton* startButton() const { return m_start; }
    QPushButton* recAllButton() const { return m_recAll; }
    QPushButton* stopAllButton() const { return m_stopAll; }
    QLabel* controlMessageLabel() const { return m_message; }
    std::vector<QString> stopResultTexts() const;

private:
    DirectorWindow& m_window;
    ElidedComboBox* m_project;
    QLineEdit* m_take;
    QToolButton* m_newTake;
    QPushButton* m_start;
    QPushButton* m_recAll;
    QPushButton* m_stopAll;
    QLabel* m_message;
    QVBoxLayout* m_stopResults;
    std::vector<QLabel*> m_stopResultLabels;
    bool m_updating = false;
};

class EditDecisionsModel;

// The edit decision list: a model whose rows change one by one as edits come (a new edit is one
// row inserted on top), drawn by a delegate, so the list's work and what assistive tools are told
// per edit stay the same however long the session grows. A reader at the top sees the new rows
// come; one who scrolled or moved down keeps the rows they read in place.
class EditsInspector final : public QWidget {
    Q_OBJECT
public:
    explicit EditsInspector(DirectorWindow& window, QWidget* parent = nullptr);
    void refresh();
    QListView* list() const { return m_list; }
    InspectorHeading* heading() const { return m_heading; }

private:
    void showPlace(const DirectorPresenters::EditListPlace& place);

    DirectorWindow& m_window;
    std::optional<DirectorPresenters::EditRowsSource> m_rowsMadeOf;
    InspectorHeading* m_heading;
    CompactEmptyState* m_empty;
    EditDecisionsModel* m_model;
    QListView* m_list;
};

class AudioInspector final : public QWidget {
    Q_OBJECT
public:
    explicit AudioInspector(DirectorWindow& window, QWidget* parent = nullptr);
    void refresh();
    const std::vector<CompactAudioChannel*>& channels() const { return m_channels; }
    QScrollArea* channelList() const { return m_scroll; }

private:
    DirectorWindow& m_window;
    QScrollArea* m_scroll;
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
    // The live-production controls; null while the profile keeps them hidden.
    QCheckBox* liveProductionToggle() const { return m_liveProduction; }
    QComboBox* liveProductionFPSPicker() const { return m_liveProductionFPS; }
    // The ten status rows, in order, and the live-production row.
    const std::vector<PreviewStatusRow*>& statusRows() const { return m_rows; }

private:
    void addLiveProductionControls(QVBoxLayout& box, QWidget* parent);

    DirectorWindow& m_window;
    InspectorHeading* m_heading;
    QLabel* m_orientationIcon;
    QLabel* m_orientationText;
    QPushButton* m_rotate;
    QPushButton* m_recCamera;
    QPushButton* m_stopCamera;
    QComboBox* m_policy;
    QCheckBox* m_liveProduction = nullptr;
    QComboBox* m_liveProductionFPS = nullptr;
    std::vector<PreviewStatusRow*> m_rows;
    bool m_updating = false;
};

// The inspector's tab bar, drawn as a segmented control: one segment per tab with its symbol and
// label. The arrow keys move between pages; the keyboard's focus rings the current segment.
// Assistive tools see it as every tab bar of the application (app/accessibility).
class InspectorTabBar final : public QTabBar {
    Q_OBJECT
public:
    explicit InspectorTabBar(QWidget* parent = nullptr);

protected:
    QSize tabSizeHint(int index) const override;
    QSize minimumTabSizeHint(int index) const override;
    void paintEvent(QPaintEvent* event) override;
};

class DirectorInspector final : public QWidget {
    Q_OBJECT
public:
    explicit DirectorInspector(DirectorWindow& window, QWidget* parent = nullptr);
    // Shows the window's tab and refreshes it; the hidden tabs wait until they are shown.
    void refresh();

    InspectorTabBar* tabBar() const { return m_tabs; }
    int currentTabIndex() const;
    SessionInspector* session() const { return m_session; }
    AudioInspector* audio() const { return m_audio; }
    CameraInspector* camera() const { return m_camera; }
    EditsInspector* edits() const { return m_edits; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    DirectorWindow& m_window;
    InspectorTabBar* m_tabs;
    QStackedWidget* m_stack;
    SessionInspector* m_session;
    AudioInspector* m_audio;
    CameraInspector* m_camera;
    EditsInspector* m_edits;
};

} // namespace velk
