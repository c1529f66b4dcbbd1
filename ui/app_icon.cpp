#include "ui/app_icon.h"

// The artwork, kept as XPM so that it stays reviewable text; packaging converts it to PNG.
#include "ui/app_icon.xpm"

QPixmap AppIconPixmap() { return QPixmap(kAppIconXpm); }

QIcon AppIcon() { return QIcon(AppIconPixmap()); }
