#include "controls/ItemMenuPlace.h"

#include <QAbstractItemView>
#include <QContextMenuEvent>

namespace quarn {

std::optional<ItemMenuPlace> PlaceItemMenu(const QAbstractItemView& view,
                                           const QContextMenuEvent& event) {
    if (event.reason() != QContextMenuEvent::Keyboard) {
        return ItemMenuPlace{event.pos(), event.globalPos()};
    }
    const QModelIndex current = view.currentIndex();
    if (!current.isValid()) {
        return std::nullopt;
    }
    // Below the row's start, where the eye already is, not under the pointer.
    const QRect cell = view.visualRect(current);
    return ItemMenuPlace{cell.center(),
                         view.viewport()->mapToGlobal(QPoint(cell.left() + 16, cell.bottom()))};
}

}  // namespace quarn
