#include "foldersize/ui/TreemapRenderer.h"

#include "foldersize/ui/TreemapPainter.h"

namespace quarn {

TreemapRenderer::TreemapRenderer(Done done)
    : m_done(std::move(done)), m_worker([this](std::stop_token stop) { Work(stop); }) {}

TreemapRenderer::~TreemapRenderer() {
    {
        std::lock_guard lock(m_mutex);
        m_cancel.store(true);
    }
    m_worker.request_stop();
    m_wake.notify_all();
    m_worker.join();
}

uint64_t TreemapRenderer::Request(Job job) {
    uint64_t serial;
    {
        std::lock_guard lock(m_mutex);
        m_pending = std::move(job);
        serial = ++m_serial;
        m_cancel.store(true);
    }
    m_wake.notify_one();
    return serial;
}

void TreemapRenderer::Work(std::stop_token stop) {
    for (;;) {
        Picture picture;
        {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait(lock, stop, [this] { return m_pending.has_value(); })) {
                return;
            }
            picture.job = std::move(*m_pending);
            m_pending.reset();
            picture.serial = m_serial;
            // Under the lock: a request made after this point cancels this job.
            m_cancel.store(false);
        }
        auto layout = std::make_shared<TreemapLayout>();
        if (picture.job.tree == nullptr && picture.job.makeTree) {
            auto tree = std::make_shared<const TreemapTree>(picture.job.makeTree());
            picture.job.root = 0;
            for (uint32_t i = 0; picture.job.rootItem != 0 && i < tree->Size(); ++i) {
                if (tree->At(i).item == picture.job.rootItem &&
                    tree->At(i).kind == TreemapTree::Kind::Folder) {
                    picture.job.root = i;
                    break;
                }
            }
            picture.job.tree = std::move(tree);
            picture.job.makeTree = nullptr;
        }
        if (picture.job.tree != nullptr) {
            picture.image =
                TreemapPainter::Render(*picture.job.tree, picture.job.root, picture.job.size,
                                       *layout, &m_cancel, picture.job.tileColour);
        }
        picture.layout = std::move(layout);
        // A job cancelled on the way is stale: a newer one is waiting, or
        // the renderer is going.
        if (!m_cancel.load() && !stop.stop_requested()) {
            m_done(std::move(picture));
        }
    }
}

}  // namespace quarn
