#pragma once
// The camera wall: eight locked slots in two rows of four, each an empty cell, a live tile or a
// locked offline cell, or the empty state while no slot holds a camera. Each cell repaints only
// when what it shows changes, so a new frame of one camera repaints that camera's tile alone.
// A live tile is a button (Tab reaches it, Return selects its camera); a locked cell takes the
// focus too, so that the keyboard can open its menu (the Menu key, Shift+F10). Space is left to
// the window's CUT.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include <QImage>
#include <QRectF>
#include <QWidget>

#include "director_window/director_presenters.hpp"

class QPushButton;

namespace velk {

// Told of every frame a live tile draws (camera id, the image's cache key); for measurements.
using FramePaintObserver = std::function<void(const std::string& cameraID, qint64 imageKey)>;

class CameraWallCell final : public QWidget {
    Q_OBJECT
public:
    explicit CameraWallCell(int number, QWidget* parent = nullptr);

    void showEmpty();
    void showLocked(const std::string& name);
    void showLive(const std::string& cameraID, const std::string& name, const TileState& state, const QImage* image,
                  std::int64_t rotation);

    // What a click on a live tile does: asks for its camera as Preview.
    void activate();
    // The locked cell's menu ("Release Camera Slot") at a point on the screen; opened from the
    // keyboard, its item is already chosen, so Return releases the slot.
    void openMenu(const QPoint& globalPos, bool fromKeyboard = false);

    DirectorPresenters::WallCellKind kind() const { return m_kind; }
    int number() const { return m_number; }
    const std::string& cameraID() const { return m_cameraID; }
    const TileState& tileState() const { return m_state; }
    // A live tile's label strip along the top of its picture, and the symbol it shows below the
    // strip while it has no frame (empty where there is no room for it).
    QRectF labelStrip() const;
    QRectF statusSymbol() const;
    // How many times the cell has been painted; the benchmark and tests read it.
    std::uint64_t paintCount() const { return m_paintCount; }
    void setFramePaintObserver(FramePaintObserver observer) { m_observer = std::move(observer); }

Q_SIGNALS:
    void selected(const QString& cameraID);
    void releaseRequested(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void becomeKind(DirectorPresenters::WallCellKind kind);
    void paintLive(QPainter& painter, const QRectF& picture, const QRectF& bottom);
    void paintLabelStrip(QPainter& painter, const QRectF& picture);
    void paintMeterRow(QPainter& painter, const QRectF& bottom);
    void paintSlot(QPainter& painter, const QRectF& picture, const QRectF& bottom);

    const int m_number;
    DirectorPresenters::WallCellKind m_kind = DirectorPresenters::WallCellKind::empty;
    std::string m_cameraID;
    std::string m_name;
    TileState m_state;
    QImage m_image;
    std::int64_t m_rotation = 0;
    std::uint64_t m_paintCount = 0;
    bool m_paintedPicture = true;
    FramePaintObserver m_observer;
};

class CameraWall final : public QWidget {
    Q_OBJECT
public:
    explicit CameraWall(QWidget* parent = nullptr);

    void setShowsEmptyState(bool empty);
    bool showsEmptyState() const { return m_showsEmptyState; }
    CameraWallCell* cell(int index) const { return m_cells[static_cast<std::size_t>(index)]; }
    QPushButton* scanAgainButton() const { return m_scanAgain; }
    void setFramePaintObserver(const FramePaintObserver& observer);

Q_SIGNALS:
    void cameraSelected(const QString& cameraID);
    void releaseRequested(int index);
    void scanAgainRequested();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutCells();

    std::array<CameraWallCell*, 8> m_cells{};
    QWidget* m_emptyState = nullptr;
    QPushButton* m_scanAgain = nullptr;
    bool m_showsEmptyState = true;
};

} // namespace velk
