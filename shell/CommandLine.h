#pragma once
// Table files named on the program's command line: `vemo32 [-H] [-I] [FILE ...]`.
#include <QStringList>

namespace vemo::shell {

// True for a parameter the frame reads as a switch: one beginning with "-", or with "/" and
// no further "/" ("/H", "/help"), unless such a name is an existing file. Absolute paths
// ("/home/me/CUST.DBF") are therefore files, never the help switch.
bool isSwitchParameter(const QString& param);

// The parameters that name table files, made absolute against the current folder, in order.
QStringList tableFileParameters(const QStringList& params);

// Opens each file as File > Open does (through the table window hook); a file the engine
// cannot open is reported by the table window and the next one is opened all the same.
// Returns the number of files handed to the table window.
int openCommandLineFiles(const QStringList& params);

} // namespace vemo::shell
