#pragma once

#include <QColor>
#include <QList>
#include <QString>

// The colours that tell hosts apart. A host's colour follows from its file
// (or its address and port) alone, so that the same file has the same colour
// on every run and whichever hosts are open beside it. The palette is six
// hues, each dark and light, with no red, green or amber that could be read
// as the host's health; the name on a colour is black or white, whichever
// stands out more (at least 4.5 : 1 on every colour of the palette).
namespace HostPalette {

constexpr int Size = 12;

// The colours in palette order.
QList<QColor> colours();
// The palette's colour for a host key: the .hcf file's path (taken as its
// canonical path where the file exists, so that a link to it and the file
// itself agree) or the host's address and port.
int indexFor(const QString& key);
QColor colourFor(const QString& key);
// The contrast ratio of two colours, 1 to 21, from their relative luminance.
double contrast(const QColor& a, const QColor& b);
// Black or white, whichever reads better on background.
QColor textOn(const QColor& background);

} // namespace HostPalette
