#pragma once

#include <QIcon>
#include <QPixmap>

// The program's own 32 x 32, 16-colour icon: the window icon and the version dialog's image.
QIcon AppIcon();
QPixmap AppIconPixmap();
