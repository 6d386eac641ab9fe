#include "console/HostPalette.h"

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

QList<QColor> assign(const QStringList& keys)
{
    const QList<QColor> palette = colours();
    QList<QColor> result;
    QList<int> taken;
    for (const QString& key : keys) {
        int index = preferredIndex(key);
        if (taken.size() < Size) {
            while (taken.contains(index))
                index = (index + 1) % Size;
        }
        taken.append(index);
        if (taken.size() == Size)
            taken.clear(); // all used: the next round starts afresh
        result.append(palette[index]);
    }
    return result;
}

} // namespace HostPalette
