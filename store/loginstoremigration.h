#pragma once

#include <QString>

// Brings the saved logins over from the file where older versions kept them (in the web
// profile's databases/ folder, which the engine's WebSQL replaces) into the store's own file.
//
// Rows of the "user" table are copied as they are (ids, passwords in their stored form, dates),
// together with a mark in the new file, in one transaction: a copy that fails or is cut short
// leaves no row and no mark behind and is made again at the next start; once marked, never
// again. The old file is only read, until blankOldPasswords() is asked to empty its passwords.
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
    // Once the copy from oldFile is marked in newFile, the old rows' passwords become empty
    // texts (rows, names and the other columns stay), overwritten in the file and its free
    // space; for the caller to ask once the copies are safe elsewhere. Nothing is written before
    // the mark, nor when no password is left. False while the old file may still hold one.
    static bool blankOldPasswords(const QString &oldFile, const QString &newFile);
    // The table in the new file that marks the copy as made.
    static QString markTable();
};
