#pragma once
// Where an item view's context menu opens: at the pointer, or, when the menu
// key asked for it, at the start of the current row, acting on that row.

#include <QPoint>
#include <optional>

class QAbstractItemView;
class QContextMenuEvent;

namespace quarn {

struct ItemMenuPlace {
    QPoint viewportPos;  // the point whose row the menu acts on
    QPoint globalPos;    // where the menu opens on the screen
};

// Nothing when the menu key was pressed with no current row.
std::optional<ItemMenuPlace> PlaceItemMenu(const QAbstractItemView& view,
                                           const QContextMenuEvent& event);

}  // namespace quarn
