#include "foldersize/ui/TreemapView.h"

#include "controls/EngineSignals.h"

#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <unordered_set>
#include <vector>

#include "controls/FileNameText.h"
#include "foldersize/SizeText.h"
#include "foldersize/ui/TreemapRenderer.h"
#include "platform/PathRules.h"

namespace quarn {

namespace {

using Kind = TreemapTree::Kind;

// A resize asks for a picture once the size has held this long.
constexpr int kResizeSettleMs = 120;
constexpr int kBandHeight = 18;
constexpr int kOutlineWidth = 2;

}  // namespace

TreemapView::TreemapView(FolderScanner& scanner, EngineSignals& scanEvents, QWidget* parent)
    : QWidget(parent), m_scanner(scanner) {
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    setMinimumHeight(40);
    m_resizeTimer.setSingleShot(true);
    m_resizeTimer.setInterval(kResizeSettleMs);
    connect(&m_resizeTimer, &QTimer::timeout, this, [this] { Redraw(m_root); });
    // A scan's end and every change of the finished tree ask for a new picture.
    connect(&scanEvents, &EngineSignals::idle, this, &TreemapView::FollowTree);
    connect(&scanEvents, &EngineSignals::changed, this, &TreemapView::FollowTree);
    m_renderer = std::make_unique<TreemapRenderer>([this](TreemapRenderer::Picture picture) {
        // On the worker: the picture crosses to the UI thread under our own
        // lock, and the call that fetches it is queued by name, carrying
        // nothing. (A newer picture replaces one not fetched yet.) The
        // renderer is joined before this object goes, and queued calls die
        // with it.
        {
            std::lock_guard lock(m_arrivedMutex);
            m_arrived = std::move(picture);
        }
        QMetaObject::invokeMethod(this, "TakePicture", Qt::QueuedConnection);
    });
}

void TreemapView::TakePicture() {
    std::optional<TreemapRenderer::Picture> picture;
    {
        std::lock_guard lock(m_arrivedMutex);
        picture.swap(m_arrived);
    }
    if (!picture || picture->serial < m_wantedSerial) {
        return;  // taken already, or a newer picture is on its way
    }
    m_tree = std::move(picture->job.tree);
    m_root = picture->job.root;
    m_layout = std::move(picture->layout);
    m_image = std::move(picture->image);
    FindTwinOutlines();
    update();
    Q_EMIT pictureShown();
}

TreemapView::~TreemapView() {
    m_renderer.reset();  // joins the worker before anything it reports to goes
}

void TreemapView::Rebuild() {
    m_stale = false;
    if (!isVisible()) {
        m_stale = true;  // drawn when shown
        return;
    }
    TreemapRenderer::Job job;
    const FolderSizeTree* tree = &m_scanner.Tree();
    job.makeTree = [tree] { return tree->TreemapSnapshot(); };
    job.rootItem = ZoomedItem();
    job.size = MapSize();
    job.tileColour = m_tileColour;
    m_wantedSerial = m_renderer->Request(std::move(job));
}

void TreemapView::SetTileColour(TreemapPainter::TileColour colour) {
    m_tileColour = std::move(colour);
    Rebuild();
}

void TreemapView::Redraw(uint32_t root) {
    if (m_tree == nullptr) {
        Rebuild();
        return;
    }
    if (!isVisible()) {
        return;
    }
    m_wantedSerial = m_renderer->Request({m_tree, root, MapSize(), {}, 0, m_tileColour});
}

void TreemapView::FollowTree() {
    if (m_scanner.IsScanRunning()) {
        return;  // the end of the walk asks again
    }
    Rebuild();
}

NodeHandle TreemapView::ZoomedItem() const {
    return m_tree != nullptr && m_root < m_tree->Size() ? m_tree->At(m_root).item : kNoNode;
}

int TreemapView::BandHeight() const {
    return m_tree != nullptr && m_root != 0 ? kBandHeight : 0;
}

QSize TreemapView::MapSize() const {
    return QSize(width(), std::max(0, height() - BandHeight()));
}

uint32_t TreemapView::NodeAt(QPoint point) const {
    if (m_layout == nullptr || m_tree == nullptr) {
        return TreemapTree::kNoNode;
    }
    const uint32_t tile = m_layout->TileAt(point.x() + 0.5, point.y() - BandHeight() + 0.5);
    return tile == TreemapTree::kNoNode ? tile : m_layout->Tiles()[tile].node;
}

std::string TreemapView::PathOf(uint32_t node) const {
    const TreemapTree::Node& at = m_tree->At(node);
    if (at.kind == Kind::File) {
        return std::string(m_tree->Name(node));
    }
    // The folder's path: the root's, then the names on the way down.
    std::vector<uint32_t> chain;
    for (uint32_t n = at.kind == Kind::Folder ? node : at.parent;
         n != 0 && n != TreemapTree::kNoNode; n = m_tree->At(n).parent) {
        if (m_tree->At(n).kind == Kind::Folder) {
            chain.push_back(n);
        }
    }
    std::string path = m_tree->rootPath;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        AppendPathComponent(path, m_tree->Name(*it));
    }
    return path;
}

QString TreemapView::TextAt(QPoint point) const {
    const uint32_t node = NodeAt(point);
    if (node == TreemapTree::kNoNode) {
        return QString();
    }
    const TreemapTree::Node& at = m_tree->At(node);
    std::string text = PathOf(node);
    if (at.kind == Kind::FilesItem) {
        text += " " + std::string(m_tree->Name(node));
    } else if (at.kind == Kind::Rest) {
        text += " (other files)";
    }
    return FileNameText(text + "  " + FormatSize(at.bytes));
}

std::optional<QPoint> TreemapView::PointOfItem(NodeHandle item) const {
    if (m_tree == nullptr || m_layout == nullptr) {
        return std::nullopt;
    }
    for (const TreemapLayout::Tile& tile : m_layout->Tiles()) {
        const TreemapTree::Node& node = m_tree->At(tile.node);
        if (node.item == item && (node.kind == Kind::Folder || node.kind == Kind::FilesItem)) {
            // Where the tile itself is hit, not a child: its name band,
            // its left frame, or (a leaf) its middle.
            const TreemapRect& r = tile.rect;
            if (tile.childTileCount == 0) {
                return QPoint(int(r.x + r.width / 2), int(r.y + r.height / 2) + BandHeight());
            }
            if (tile.hasHeader) {
                return QPoint(int(r.x + r.width / 2), int((r.y + tile.inner.y) / 2) + BandHeight());
            }
            return QPoint(r.Left(), int(r.y + r.height / 2) + BandHeight());
        }
    }
    return std::nullopt;
}

void TreemapView::SetSelectedItem(NodeHandle item) {
    if (item != m_selected) {
        m_selected = item;
        update();
    }
}

void TreemapView::SetTwinFolders(std::vector<std::string> folders) {
    m_twinFolders = std::move(folders);
    FindTwinOutlines();
    update();
}

QColor TreemapView::TwinOutlineColour() {
    // Magenta: no type colour and no shade of a cushion comes near it.
    return QColor(255, 0, 255);
}

void TreemapView::FindTwinOutlines() {
    m_twinOutlines.clear();
    if (m_twinFolders.empty() || m_layout == nullptr || m_tree == nullptr) {
        return;
    }
    // The picture's nodes carry the handles the tree had when it was taken.
    const FolderSizeTree& tree = m_scanner.Tree();
    std::unordered_set<NodeHandle> twins;
    for (const std::string& folder : m_twinFolders) {
        const NodeHandle node = tree.FindFolderItem(folder);
        if (node != kNoNode && tree.GetItemPath(node) == folder) {
            twins.insert(node);
        }
    }
    const int band = BandHeight();
    for (const TreemapLayout::Tile& tile : m_layout->Tiles()) {
        const TreemapTree::Node& node = m_tree->At(tile.node);
        const TreemapRect& r = tile.rect;
        if (node.kind == Kind::Folder && twins.contains(node.item) &&
            r.Right() - r.Left() > 2 * kOutlineWidth && r.Bottom() - r.Top() > 2 * kOutlineWidth) {
            m_twinOutlines.push_back(QRect(r.Left() + 1, r.Top() + band + 1,
                                           r.Right() - r.Left() - 2, r.Bottom() - r.Top() - 2));
        }
    }
}

void TreemapView::ZoomInto(uint32_t node) {
    // A file, a files item or the rest: their folder.
    while (node != TreemapTree::kNoNode && m_tree->At(node).kind != Kind::Folder) {
        node = m_tree->At(node).parent;
    }
    if (node != TreemapTree::kNoNode && node != m_root) {
        m_root = node;  // the band appears at once; the picture follows
        m_image = QImage();
        m_layout = nullptr;
        update();
        Redraw(node);
    }
}

bool TreemapView::ZoomOut() {
    if (m_tree == nullptr || m_root == 0) {
        return false;
    }
    uint32_t up = m_tree->At(m_root).parent;
    while (up != 0 && m_tree->At(up).kind != Kind::Folder) {
        up = m_tree->At(up).parent;
    }
    m_root = up;
    m_image = QImage();
    m_layout = nullptr;
    update();
    Redraw(up);
    return true;
}

void TreemapView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int band = BandHeight();
    if (band > 0) {
        const uint32_t parent = m_tree->At(m_root).parent;
        painter.fillRect(QRect(0, 0, width(), band), palette().button());
        painter.setPen(palette().buttonText().color());
        const QString text = QStringLiteral("\u25b2 ") + FileNameText(PathOf(parent));
        painter.drawText(QRect(6, 0, width() - 12, band), Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(text, Qt::ElideMiddle, width() - 12));
    }
    if (m_image.isNull()) {
        painter.fillRect(QRect(0, band, width(), height() - band), palette().window());
        return;
    }
    painter.drawImage(QPoint(0, band), m_image);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(TwinOutlineColour(), kOutlineWidth));
    for (const QRect& outline : m_twinOutlines) {
        painter.drawRect(outline);
    }
    if (m_selected == kNoNode || m_layout == nullptr) {
        return;
    }
    for (const TreemapLayout::Tile& tile : m_layout->Tiles()) {
        const TreemapTree::Node& node = m_tree->At(tile.node);
        if (node.item == m_selected &&
            (node.kind == Kind::Folder || node.kind == Kind::FilesItem)) {
            const TreemapRect& r = tile.rect;
            painter.setPen(QPen(Qt::white, 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(QRect(r.Left() + 1, r.Top() + band + 1, r.Right() - r.Left() - 2,
                                   r.Bottom() - r.Top() - 2));
            break;
        }
    }
}

void TreemapView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_resizeTimer.start();  // the old picture stays until the size has settled
}

void TreemapView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_stale) {
        Rebuild();
    } else if (m_image.isNull() || m_image.size() != MapSize()) {
        m_resizeTimer.start();
    }
}

void TreemapView::mouseMoveEvent(QMouseEvent* event) {
    const QString text = TextAt(event->position().toPoint());
    if (!text.isEmpty()) {
        Q_EMIT hovered(text);
    }
}

void TreemapView::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    Q_EMIT hovered(QString());
}

void TreemapView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const QPoint point = event->position().toPoint();
    if (point.y() < BandHeight()) {
        ZoomOut();
        return;
    }
    const uint32_t node = NodeAt(point);
    if (node != TreemapTree::kNoNode) {
        Q_EMIT itemClicked(m_tree->At(node).item);
    }
}

void TreemapView::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (event->button() != Qt::LeftButton || point.y() < BandHeight()) {
        return;
    }
    const uint32_t node = NodeAt(point);
    if (node != TreemapTree::kNoNode) {
        ZoomInto(node);
    }
}

void TreemapView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Backspace && ZoomOut()) {
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace quarn
