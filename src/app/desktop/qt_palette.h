#pragma once
// The 16-colour table in Qt's terms.

#include <QColor>
#include <QList>
#include <QRgb>

#include "graphics/palette.h"

namespace odefit {

// Returns the colour of palette index `index` (moved into 0..15 first).
inline QColor PaletteColour(int index) {
  const Rgb& rgb = Palette16[static_cast<std::size_t>(ClampColourIndex(index))];
  return QColor(rgb.red, rgb.green, rgb.blue);
}

// The colour table of an indexed image whose bytes are palette indices.
inline QList<QRgb> PaletteColourTable() {
  QList<QRgb> table;
  for (const Rgb& rgb : Palette16) table.push_back(qRgb(rgb.red, rgb.green, rgb.blue));
  return table;
}

}  // namespace odefit
