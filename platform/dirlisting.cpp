#include "dirlisting.h"

#include <QFile>

#include <sys/stat.h>

namespace {

int attributesOf(const struct stat &info, const QString &name)
{
    int attributes = 0;
    if (S_ISDIR(info.st_mode))
        attributes |= DirectoryAttribute;
    if (name.startsWith(u'.'))
        attributes |= HiddenAttribute;
    return attributes;
}

bool matchFrom(const QChar *name, const QChar *nameEnd, const QChar *pattern,
               const QChar *patternEnd)
{
    // Greedy with one back-tracking point: the last "*" seen.
    const QChar *star = nullptr;
    const QChar *resume = nullptr;
    while (name != nameEnd) {
        if (pattern != patternEnd && *pattern == u'*') {
            star = pattern++;
            resume = name;
        } else if (pattern != patternEnd &&
                   (*pattern == u'?' || pattern->toCaseFolded() == name->toCaseFolded())) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (pattern != patternEnd && *pattern == u'*')
        ++pattern;
    return pattern == patternEnd;
}

} // namespace

DirListing::DirListing(const QString &path, int attributes) : m_requested(attributes)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    m_folder = QFile::encodeName(path.left(slash + 1));
    m_pattern = path.mid(slash + 1);
    m_dir = opendir(m_folder.isEmpty() ? "." : m_folder.constData());
}

DirListing::~DirListing()
{
    if (m_dir)
        closedir(m_dir);
}

bool DirListing::next()
{
    if (!m_dir)
        return false;
    while (const dirent *entry = readdir(m_dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (!m_pattern.isEmpty() && !matchesWildcard(name, m_pattern))
            continue;
        int attributes = name.startsWith(u'.') ? HiddenAttribute : 0;
        if (entry->d_type == DT_DIR) {
            attributes |= DirectoryAttribute;
        } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            // A link counts as what it leads to; a broken one as a plain file.
            struct stat info;
            if (stat((m_folder + entry->d_name).constData(), &info) == 0)
                attributes = attributesOf(info, name);
        }
        if (attributes & ~m_requested)
            continue;
        m_name = name;
        m_attributes = attributes;
        return true;
    }
    return false;
}

int fileAttributes(const QString &path)
{
    struct stat info;
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    QString name = path;
    while (name.endsWith(u'/'))
        name.chop(1);
    return attributesOf(info, name.mid(name.lastIndexOf(u'/') + 1));
}

bool matchesWildcard(const QString &name, const QString &pattern)
{
    const QChar *n = name.constData();
    const QChar *p = pattern.constData();
    if (matchFrom(n, n + name.size(), p, p + pattern.size()))
        return true;
    // As on the original platform, "x.*" also matches "x".
    return pattern.endsWith(QLatin1String(".*")) &&
           matchFrom(n, n + name.size(), p, p + pattern.size() - 2);
}

bool VisitedFolders::firstVisit(const QString &path)
{
    struct stat info;
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return m_seen.insert({info.st_dev, info.st_ino}).second;
}
