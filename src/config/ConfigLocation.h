#pragma once

#include <QString>

// Where a configuration file named on a command line is read from. The console
// and orvanite-ctl both take the name through here, so that one name means one
// file for both.
struct ConfigLocation
{
    QString Path;    // the file to use
    QString Missing; // empty when the name can be used; else why it cannot, naming both places
};

// A name that contains "/" is used as it stands. A bare name is the file of
// that name beside the program when one is there, else the one in
// currentFolder; when neither folder has it, Path is the one beside the
// program and Missing says that neither place holds it.
ConfigLocation LocateConfigFile(const QString& name, const QString& programPath,
                                const QString& currentFolder);
