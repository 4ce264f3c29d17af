#pragma once
// The treemap of the folder pane: a picture of the last scan's tree, drawn
// by a TreemapRenderer on its worker, shown scaled to nothing (it is drawn
// at the widget's own size). It follows the scanner's news: when a scan or a
// refresh ends or the finished tree changes, it asks for a new picture (at
// once, or when it is shown next); a resize asks again once the size has
// settled.
//
// Hovering reports the path and size of the tile under the mouse
// (hovered); a click reports its tree item (itemClicked); SetSelectedItem
// outlines an item's tile, and SetTwinFolders outlines the tiles of twin
// folders in a colour of their own. A double-click zooms into the folder under the
// mouse; while zoomed, a band at the top names the folder above, and a
// click on it (or Backspace) zooms out one level.
//
// UI thread only. The store must outlive the view; destroying the view
// joins its worker first.

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "foldersize/FolderScanner.h"
#include "foldersize/FolderTreeStore.h"
#include "foldersize/TreemapLayout.h"
#include "foldersize/TreemapTree.h"
#include "foldersize/ui/TreemapRenderer.h"

namespace quarn {

class EngineSignals;

class TreemapView : public QWidget {
    Q_OBJECT
  public:
    // `scanEvents` carries the scanner's news.
    TreemapView(FolderScanner& scanner, EngineSignals& scanEvents, QWidget* parent = nullptr);
    ~TreemapView() override;

    // Asks for a new picture of the store's tree now.
    void Rebuild();
    // Outlines the tile of `item` (kNoNode: none).
    void SetSelectedItem(NodeHandle item);
    // Outlines the tiles of these folders (paths), in place of any before.
    void SetTwinFolders(std::vector<std::string> folders);
    // The leaves' colours in place of their file types' (growth while
    // comparing), or back to the types' with an empty one; redraws.
    void SetTileColour(TreemapPainter::TileColour colour);
    // The colour of those outlines.
    static QColor TwinOutlineColour();
    // Zooms out one level; false at the top.
    bool ZoomOut();

    // --- What is shown (for tests and the status) --------------------------
    bool HasPicture() const { return !m_image.isNull(); }
    // The tree item of the node the picture starts from; kNoNode without
    // a picture.
    NodeHandle ZoomedItem() const;
    // The middle of the tile of `item` in widget coordinates; nothing when
    // it has no tile of its own.
    std::optional<QPoint> PointOfItem(NodeHandle item) const;
    // What hovering over `point` reports.
    QString TextAt(QPoint point) const;
    // The height of the band that leads out of a zoom (0 when not zoomed).
    int BandHeight() const;
    // The outlines of twin folders on the picture, in widget coordinates.
    const std::vector<QRect>& TwinOutlines() const { return m_twinOutlines; }

  Q_SIGNALS:
    // The path and size under the pointer; empty when it left the map.
    void hovered(const QString& text);
    void itemClicked(NodeHandle item);
    // A picture arrived (tests wait for it).
    void pictureShown();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    // Shows the picture the worker left in m_arrived, unless a newer one was
    // asked for since.
    Q_INVOKABLE void TakePicture();

    // Asks for a picture of the tree already taken, from `root` at the
    // current size.
    void Redraw(uint32_t root);
    QSize MapSize() const;
    // The node under a widget point, kNoNode outside the map.
    uint32_t NodeAt(QPoint point) const;
    std::string PathOf(uint32_t node) const;
    // A scan ended or the tree changed.
    void FollowTree();
    void ZoomInto(uint32_t node);
    // The tiles of the twin folders on the picture shown now.
    void FindTwinOutlines();

    FolderScanner& m_scanner;
    // What the picture shows; replaced whole when a picture arrives.
    std::shared_ptr<const TreemapTree> m_tree;
    std::shared_ptr<const TreemapLayout> m_layout;
    uint32_t m_root = 0;
    QImage m_image;
    uint64_t m_wantedSerial = 0;  // the newest picture asked for
    NodeHandle m_selected = kNoNode;
    std::vector<std::string> m_twinFolders;
    std::vector<QRect> m_twinOutlines;
    bool m_stale = false;  // the tree changed while the map was hidden
    TreemapPainter::TileColour m_tileColour;
    QTimer m_resizeTimer;
    std::mutex m_arrivedMutex;  // guards the picture below
    std::optional<TreemapRenderer::Picture> m_arrived;
    std::unique_ptr<TreemapRenderer> m_renderer;  // last: joined first
};

}  // namespace quarn
