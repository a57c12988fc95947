// The page's file and INI methods. Paths are used as the page gives them, with '\' read as '/';
// a relative path is relative to the current directory, except that a bare INI file name names
// a file in $XDG_CONFIG_HOME/morvil. Every failure is a result ("" or false); nothing is shown
// or logged. Each call keeps nothing; blocking local I/O on the caller's thread.
#pragma once

#include "base/text.h"

// The key's value in the section (at most 1023 units), or "" when the file, section or key is
// missing or the value is empty. A missing file is not created.
[[nodiscard]] Text ReadConfig(const Text& file, const Text& section, const Text& key);
// Writes the key, creating the file and section when missing; true when written. A line break
// in the section, key or value is refused.
[[nodiscard]] bool WriteConfig(const Text& file, const Text& section, const Text& key,
                               const Text& value);

// The file's 8-bit text (locale code page) up to its first zero byte; "" on any failure, also
// when another caller holds the file open without sharing.
[[nodiscard]] Text ReadFileContent(const Text& path);
// Replaces the file's content with the text in the 8-bit code page (characters it lacks become
// '?'). The text is converted first: a text that cannot be converted (a lone surrogate) leaves
// the file as it was. The file is replaced whole, never left half written. False when the file
// cannot be written (missing directory, read-only file, held without sharing elsewhere).
[[nodiscard]] bool WriteFileContent(const Text& path, const Text& text);

// Removes a file; a directory or a read-only file is refused.
[[nodiscard]] bool DeleteFile(const Text& path);
// Moves a file or directory; an existing destination is not replaced (false, nothing changes).
[[nodiscard]] bool MoveFile(const Text& source, const Text& destination);
// True when a find-first search finds anything: a file or directory, wildcards '*' and '?'
// allowed in the last component; a trailing separator finds nothing.
[[nodiscard]] bool FileExist(const Text& path);
// True for an existing file or directory, the text taken literally.
[[nodiscard]] bool FileExists(const Text& path);
// Creates the directory and missing parents; true only when the last one was newly made.
[[nodiscard]] bool CreateDirectory(const Text& path);
// Deletes the directory with everything in it; true when the directory itself went. A file
// that cannot be deleted (read-only) stops it, leaving what was already deleted deleted.
// Symbolic links inside are removed, never followed.
[[nodiscard]] bool DeleteDirectory(const Text& path);
// True when the first entry a find-first search finds is a directory; a trailing separator
// finds nothing.
[[nodiscard]] bool DirectoryExist(const Text& path);
