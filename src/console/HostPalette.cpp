#include "console/HostPalette.h"

#include <algorithm>
#include <cstdlib>

namespace HostPalette {

QList<QColor> colours()
{
    QList<QColor> list;
    for (int i = 0; i < Size; ++i)
        list.append(QColor::fromHsv(i * 150 % 360, 185, 200));
    return list;
}

int preferredIndex(const QString& key)
{
    // FNV-1a over the key's bytes: unlike qHash, not seeded per run.
    quint32 hash = 2166136261u;
    for (const char c : key.toUtf8()) {
        hash ^= quint8(c);
        hash *= 16777619u;
    }
    return int(hash % Size);
}

int hueDistance(const QColor& a, const QColor& b)
{
    const int d = std::abs(a.hsvHue() - b.hsvHue());
    return std::min(d, 360 - d);
}

QList<QColor> assign(const QStringList& keys)
{
    const QList<QColor> palette = colours();
    QList<QColor> result;
    QList<int> taken;
    // How far a colour is from the nearest colour already given.
    auto nearest = [&](int index) {
        int least = 360;
        for (const int t : taken)
            least = std::min(least, hueDistance(palette[index], palette[t]));
        return least;
    };
    for (const QString& key : keys) {
        const int preferred = preferredIndex(key);
        // A host keeps the colour its file asks for while that stands well
        // apart from the others' (60 degrees, which the first four can
        // always have); else it takes the free colour farthest from theirs.
        const int apart = taken.size() < 4 ? 60 : 30;
        int index = preferred;
        if (taken.contains(index) || nearest(index) < apart) {
            int best = -1;
            for (int step = 0; step < Size; ++step) {
                const int candidate = (preferred + step) % Size;
                if (!taken.contains(candidate) && (best < 0 || nearest(candidate) > nearest(best)))
                    best = candidate;
            }
            index = best;
        }
        taken.append(index);
        if (taken.size() == Size)
            taken.clear(); // all used: the next round starts afresh
        result.append(palette[index]);
    }
    return result;
}

} // namespace HostPalette
