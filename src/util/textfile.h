#pragma once
// The text of the settings and language files: how their bytes become text
// and back, and how a file is replaced as a whole.
//
// The files carry one byte per character in an 8-bit code page on the systems
// they come from, or UTF-8 when this program wrote them. Most carry no
// marker, so a file that is valid UTF-8 is read as UTF-8 and any other file
// as Windows-1252 (Latin-1 with printable characters in 0x80..0x9F). An
// editor may have put a byte-order mark in front: UTF-8 and UTF-16 with a
// mark are read as such and written back with the same mark.
//
// A NUL byte is no character of a text file, but an editor or a file-system
// fault can leave some in one: they are left out and every other character is
// read (UTF-16 without a mark reads as its Latin-1 characters this way). What
// still holds control characters once the NULs are gone (a picture, anything
// binary) is not text: nothing of it is read and it is never written over.

#include <QByteArray>
#include <QFileDevice>
#include <QString>

namespace qx {

enum class TextEncoding { Utf8, Windows1252, Utf8Marked, Utf16LE, Utf16BE, NotText };

// The text of a file's bytes (see above; "" for NotText). `encoding`, when
// given, receives the one that was used; `nulsLeftOut` whether NUL bytes were
// left out of a text.
QString DecodeFileText(const QByteArray &bytes, TextEncoding *encoding = nullptr, bool *nulsLeftOut = nullptr);

// The bytes of `text` in `encoding`, with its mark when it has one. A text
// with a character that Windows-1252 cannot hold is written as UTF-8 as a
// whole rather than lose the character; the next reading recognises it as
// UTF-8. NotText gives UTF-8 (its file is never written).
QByteArray EncodeFileText(const QString &text, TextEncoding encoding);

// Replaces the file at `path` with `bytes` through a temporary file beside it.
// Every write and the final flush are checked: a write that cannot be
// completed (a full disk, a missing folder) leaves the old file exactly as it
// was and returns false. `permissions`, when given, are the new file's from
// the moment it is made (a secret is never readable by others on the way).
bool WriteWholeFile(const QString &path, const QByteArray &bytes, QFileDevice::Permissions permissions = {});

} // namespace qx
