#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>

// The accent colours that tell hosts apart: twelve hues 30 degrees apart, in
// an order that steps 150 degrees from one to the next, so that a host moved
// on to the next colour looks plainly different. Saturation and value stay
// where the host's name reads well on the colour.
namespace HostPalette {

constexpr int Size = 12;

// The colours in palette order.
QList<QColor> colours();
// The colour a host's key asks for: the same on every run and machine.
int preferredIndex(const QString& key);
// Degrees between two colours' hues, round the circle.
int hueDistance(const QColor& a, const QColor& b);
// The accents of hosts open together, in the order they were opened: each
// gets the colour its key asks for unless that is held by, or close to, an
// earlier host's, then the free colour farthest from theirs; only past Size
// hosts do colours repeat.
QList<QColor> assign(const QStringList& keys);

} // namespace HostPalette
