#pragma once

#include <QImage>

namespace scrivane {

// The window's icon: a written page with a red "PDF" band. 32 x 32, 256 colours.
QImage WindowIconImage();
// The title panel's picture: a quill over a sheet of lines. 32 x 32, 256 colours.
QImage PanelIconImage();

}  // namespace scrivane
