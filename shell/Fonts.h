#pragma once
// The program asks for its fonts by their Windows names; these map them to installed
// Japanese fonts so that half-width katakana render everywhere, PDF output included.
#include <QStringList>

namespace vemo::shell {

// Idempotent; call after the application object exists.
void installFontSubstitutions();
// Installed families the given Windows font name resolves to, best first.
QStringList fontCandidates(const QString& windowsName);
// The Japanese Windows font names the program knows ("ＭＳ ゴシック", ...), those that resolve
// to an installed font; font lists offer them beside the installed families.
QStringList requestedFontNames();

} // namespace vemo::shell
