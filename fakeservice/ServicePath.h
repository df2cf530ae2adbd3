#pragma once

// Paths as the service keeps them: "/" for the sync root, otherwise "/" then
// the components joined by "/", no trailing "/". On the wire a path travels
// as the Base64url of its UTF-8 bytes ("Lw==" is the root).

#include <QString>

#include <optional>

namespace ServicePath {

inline const QString Root = QStringLiteral("/");

// The path of a wire value, or std::nullopt when the value is no Base64url,
// not UTF-8, or does not name a path in the form above (empty components,
// "." or "..", a "\" or a zero character in a name).
std::optional<QString> FromWire(const QString& base64Url);

// The wire value of a path.
QString ToWire(const QString& path);

// The folder that holds the path ("/" for items directly in the root).
QString Parent(const QString& path);

// The last component ("" for the root).
QString Name(const QString& path);

// The path of the name inside the folder.
QString Join(const QString& folder, const QString& name);

// True when path is the folder itself or lies below it.
bool IsWithin(const QString& path, const QString& folder);

// path with its leading folder part replaced: Rebase("/a/b/c", "/a", "/x")
// gives "/x/b/c". path must lie within from.
QString Rebase(const QString& path, const QString& from, const QString& to);

// The service's key of an item: MD5 hex of the account's serial number, "_"
// and the path.
QString ItemKey(const QString& userSn, const QString& path);

// A sibling name for a conflict copy: "a.txt" gives "a (conflict 1).txt",
// "notes" gives "notes (conflict 1)", ".profile" gives ".profile (conflict 1)".
QString ConflictName(const QString& name, int number);

}  // namespace ServicePath
