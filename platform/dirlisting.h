#pragma once

#include <QByteArray>
#include <QString>

#include <dirent.h>
#include <set>
#include <sys/types.h>
#include <utility>

// Attribute bits of a directory entry. A name that begins with "." is hidden; this
// platform has no system files, so nothing carries that bit.
enum FileAttribute : int
{
    HiddenAttribute = 0x02,
    SystemAttribute = 0x04,
    DirectoryAttribute = 0x10,
};

// Lists the entries of one folder in the file system's own order, one at a time.
// Each listing holds its own position, so listings may nest and interleave freely,
// as when a scan started from an event runs inside another scan.
class DirListing
{
public:
    // `path` is a folder followed by "/" (every entry) or by "/" and a wildcard
    // pattern. Entries that carry special attributes (hidden, directory) are returned
    // only when `attributes` asks for every one of them; plain files always are.
    DirListing(const QString &path, int attributes);
    ~DirListing();
    DirListing(const DirListing &) = delete;
    DirListing &operator=(const DirListing &) = delete;

    // False when the folder cannot be read, for the reason openError() gives (an
    // errno value); such a listing returns nothing.
    bool isOpen() const { return m_dir != nullptr; }
    int openError() const { return m_openError; }
    // Moves to the next entry that qualifies; false at the end.
    bool next();
    QString name() const;
    // The name as the system's bytes.
    QByteArray rawName() const { return QByteArray(m_rawName); }
    int attributes() const { return m_attributes; }

private:
    DIR *m_dir = nullptr;
    QByteArray m_folder;       // encoded, ending in "/"
    QString m_pattern;         // empty: every name
    QByteArray m_asciiPattern; // the pattern, when it is plain ASCII
    int m_requested;
    const char *m_rawName = nullptr; // valid until the next call to next()
    bool m_ascii = false;
    mutable QString m_name; // decoded when first asked for
    int m_attributes = 0;
    int m_openError = 0;
};

// The attributes of a path, links followed, or -1 when they cannot be read.
int fileAttributes(const QString &path);

// True when the file's modification time can be read. A path that ends in "/" is
// never a file.
bool fileExists(const QString &path);

// Wildcard match without regard to case: "*" stands for any run of characters, "?"
// for one. A pattern ending in ".*" also matches names without that dot, so "*.*"
// matches every name.
bool matchesWildcard(const QString &name, const QString &pattern);

// Folders already walked, known by device and inode, so that a folder reached again
// through a link is walked once and a link back to a parent ends.
class VisitedFolders
{
public:
    // True the first time a folder is seen; false when it was seen before or when
    // it cannot be read.
    bool firstVisit(const QString &path);

private:
    std::set<std::pair<dev_t, ino_t>> m_seen;
};
