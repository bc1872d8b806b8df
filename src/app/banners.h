// The two banner pictures of the main window, drawn by the program itself.
#pragma once

#include <QPixmap>

namespace vexo {

QPixmap DrawDonationBanner(int width, int height);
QPixmap DrawAppBanner(int width, int height);

} // namespace vexo
