#include "console/HostPalette.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace HostPalette {

QList<QColor> colours()
{
    // Dark and light of blue, teal, violet, plum, ochre and slate, so that
    // two hosts on one hue still differ in lightness.
    static const char* const Names[Size] = {"#1f4e9c", "#7fb3e6", "#006d77", "#5cc8c8",
                                            "#5b3f9e", "#b9a3e3", "#8e2c7f", "#e59ad6",
                                            "#7a4a1e", "#d6c08f", "#3f4e63", "#a9b8cc"};
    QList<QColor> list;
    for (const char* name : Names)
        list.append(QColor(QLatin1String(name)));
    return list;
}

int indexFor(const QString& key)
{
    QString canonical = key;
    if (const QFileInfo file(key); file.isAbsolute() && file.exists())
        canonical = file.canonicalFilePath();
    // FNV-1a over the key's bytes: unlike qHash, not seeded per run.
    quint32 hash = 2166136261u;
    for (const char c : canonical.toUtf8()) {
        hash ^= quint8(c);
        hash *= 16777619u;
    }
    return int(hash % Size);
}

QColor colourFor(const QString& key)
{
    return colours().at(indexFor(key));
}

namespace {

double luminance(const QColor& colour)
{
    auto channel = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

} // namespace

double contrast(const QColor& a, const QColor& b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor textOn(const QColor& background)
{
    const QColor black(Qt::black);
    const QColor white(Qt::white);
    return contrast(background, black) >= contrast(background, white) ? black : white;
}

} // namespace HostPalette
