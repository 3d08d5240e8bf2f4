#pragma once

#include <QByteArray>
#include <QString>

// The scrambled Base64 form in which saved passwords sit in the login store. Releases before
// this one wrote the same form, so it must not change.

// Stores the scrambled form of `plain` in `stored`; false (and `stored` empty) for an empty
// password, which has no stored form.
bool encodePassword(const QString &plain, QString &stored);

// Recovers the password from its stored form; false (and `plain` empty) when nothing can be
// recovered, an empty stored text among them. Any input is safe, garbage included.
bool decodePassword(const QString &stored, QString &plain);

// Keeps the first character and reverses the rest of the part before the first '=', but only
// when that part is at least 6 characters long (or, without '=', the whole text is); anything
// else comes back unchanged. The same call undoes it on the stored form, which holds no '='.
QByteArray shuffleText(const QByteArray &text);
