#pragma once

#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QString>

namespace tarvik {

// The main window's image list: 72 pictures of 16 x 16, some with a key,
// addressed by index counted from 0.
class SmallIcons {
public:
    SmallIcons();

    int count() const { return int(m_images.size()); }
    QPixmap pixmap(int index) const;
    QIcon icon(int index) const { return QIcon(pixmap(index)); }
    // The key of an image, "" where it has none.
    QString key(int index) const;
    // The index of the image with that key, -1 when no image has it.
    int indexOf(const QString& key) const;

private:
    QList<QPixmap> m_images;
    QList<QString> m_keys;
};

// One shared image list for the windows of the run.
const SmallIcons& smallIcons();

} // namespace tarvik
