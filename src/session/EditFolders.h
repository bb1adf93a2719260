#pragma once
// The PC side of editing host files: the private folders the copies live in, the digest that
// tells a real save from a touch, and starting the user's editor.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <string>

// $XDG_RUNTIME_DIR/zarvel-edits, or the user's cache folder's zarvel/edits without one.
QString EditFolderBase();

// A new folder of this user only (0700) under base, which is made 0700 too; empty with a
// message when base is no private folder of ours (a link, another user's, open to others).
QString MakeEditFolder(const QString &base, std::string &error);

// SHA-256 of the file's bytes; empty when it cannot be read.
QByteArray FileDigest(const QString &path);

// The program and arguments of a desktop entry's Exec line for one file: %f %F %u %U become
// the path, %% a percent sign, other field codes go; without a file code the path is added.
QStringList DesktopExecArguments(const QString &exec, const QString &path);

// Starts the editor on path, detached: `editor` (split like a shell command line) with the
// path added; empty, the desktop's application for the file's type, or the one for plain text
// when its type has none. False with a message when nothing could be started.
bool OpenInEditor(const std::string &editor, const QString &path, std::string &error);
