#pragma once
// Dialog units to pixels for dialogs laid out from fixed templates: one
// horizontal unit is a quarter of the dialog font's average character width,
// one vertical unit an eighth of its character height.

#include <QFont>
#include <QRect>
#include <QSize>

namespace quarn {

class DialogUnitScale {
  public:
    explicit DialogUnitScale(const QFont& font);

    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;

    int AverageCharWidth() const { return m_avgCharWidth; }
    int CharHeight() const { return m_charHeight; }

  private:
    int m_avgCharWidth;
    int m_charHeight;
};

}  // namespace quarn
