#pragma once

#include <QString>

// Brings the saved logins over from the file where older versions kept them (in the web
// profile's databases/ folder, which the engine's WebSQL replaces) into the store's own file.
//
// Rows of the "user" table are copied as they are (ids, passwords in their stored form, dates),
// together with a mark in the new file, in one transaction: a copy that fails or is cut short
// leaves no row and no mark behind and is made again at the next start; once marked, never
// again. The old file is only read.
class LoginStoreMigration
{
public:
    enum Result {
        NothingToCopy, // no old file
        Copied,        // done now (also when the old file held no logins)
        AlreadyCopied, // done at an earlier start
        Failed         // the old file could not be read or the new one not written
    };

    static Result run(const QString &oldFile, const QString &newFile);
    // The table in the new file that marks the copy as made.
    static QString markTable();
};
