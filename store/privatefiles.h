#pragma once

#include <QString>

// Folders and files that hold secrets (saved logins, the proxy password) are the user's alone:
// 0700 folders, 0600 files. Elsewhere than on Unix the platform's own defaults stand.
class PrivateFiles
{
public:
    // Makes the folder (missing parents with ordinary modes) or tightens the one that is there.
    // False when there is no such folder afterwards or it could not be made private.
    static bool makeDirectory(const QString &path);
    // Creates the file empty and private when it does not exist, or tightens the one that does,
    // so it is never readable by others, not even for a moment.
    static bool makeFile(const QString &path);
    // Tightens an existing file; true when there is none.
    static bool restrictFile(const QString &path);
};
