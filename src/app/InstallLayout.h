#pragma once

#include <QString>
#include <QStringList>

// Where the program finds the files installed with it. A build folder, a
// Windows install and a prefix install made with TARVIK_DATA_INSTALL_DIR equal
// to TARVIK_INSTALL_DIR keep them beside the program; a Linux install keeps
// them in a data folder of their own (/usr/bin/tarvik, /usr/share/tarvik).
namespace tarvik::install {

// The data folder as the build placed it, relative to the program's folder
// ("../share/tarvik"), or an absolute path; "" when the data is beside the program.
QString dataFolderFromProgram();

// The folders that may hold the user's guide, in the order they are searched:
// the program's folder, then the data folder (when it is another folder).
QStringList helpFolders(const QString& programFolder,
                        const QString& dataFromProgram = dataFolderFromProgram());

// The help file's path: the help file in the first of helpFolders that holds
// the guide, compiled (the help file) or as HTML pages (help/index.html); in
// the program's folder when none does. With the system's separators.
QString findHelpFile(const QString& programFolder,
                     const QString& dataFromProgram = dataFolderFromProgram());

} // namespace tarvik::install
