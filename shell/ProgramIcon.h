#pragma once
#include <QPixmap>

namespace vemo::shell {

// The program's icon (a table sheet), drawn at the asked size.
QPixmap programIconPixmap(int size);

} // namespace vemo::shell
