#pragma once
// Renders treemaps on a worker thread of its own, one request at a time: a
// new request supersedes the one waiting and cancels the one being drawn,
// so that only the newest picture is finished (a resize, a new scan or a
// zoom never queues behind stale work).
//
// Threads: Request() may be called from any thread and returns at once.
// The `done` callback runs on the worker; it must not block long and must
// not call back into the renderer's destructor. A picture whose job was
// superseded just as it was finished may still be delivered: a receiver
// keeps the newest serial it asked for and drops older pictures. The
// destructor cancels the
// running job and joins the worker: once it returns, `done` is never called
// again.

#include <QImage>
#include <QSize>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "foldersize/TreemapLayout.h"
#include "foldersize/TreemapTree.h"
#include "foldersize/ui/TreemapPainter.h"

namespace quarn {

class TreemapRenderer {
  public:
    struct Job {
        std::shared_ptr<const TreemapTree> tree;
        uint32_t root = 0;  // the node the picture shows (zoom)
        QSize size;
        // When `tree` is null: makes the tree on the worker (a snapshot of a
        // store), and the picture shows the folder node of `rootItem` (or
        // the root when it has none).
        std::function<TreemapTree()> makeTree;
        uint64_t rootItem = 0;
        // The leaves' colours in place of their types' (TreemapPainter).
        TreemapPainter::TileColour tileColour;
    };
    struct Picture {
        uint64_t serial = 0;  // the serial Request() returned
        Job job;
        std::shared_ptr<const TreemapLayout> layout;
        QImage image;
    };
    using Done = std::function<void(Picture)>;

    explicit TreemapRenderer(Done done);
    ~TreemapRenderer();
    TreemapRenderer(const TreemapRenderer&) = delete;
    TreemapRenderer& operator=(const TreemapRenderer&) = delete;

    // Queues `job` in place of any older one; returns its serial, larger
    // than every serial before it.
    uint64_t Request(Job job);

  private:
    void Work(std::stop_token stop);

    Done m_done;
    std::mutex m_mutex;  // guards the three below
    std::condition_variable_any m_wake;
    std::optional<Job> m_pending;
    uint64_t m_serial = 0;
    // Set when a newer job arrives or the renderer goes; the job being drawn
    // checks it.
    std::atomic<bool> m_cancel{false};
    std::jthread m_worker;  // last: starts after, and joins before, the rest
};

}  // namespace quarn
