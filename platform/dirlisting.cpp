#include "dirlisting.h"

#include "pathbytes.h"

#include <QFile>

#include <cerrno>
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

template <typename Char, typename Fold>
bool matchFrom(const Char *name, const Char *nameEnd, const Char *pattern, const Char *patternEnd,
               Fold fold)
{
    // Greedy with one back-tracking point: the last "*" seen.
    const Char *star = nullptr;
    const Char *resume = nullptr;
    while (name != nameEnd) {
        if (pattern != patternEnd && *pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (pattern != patternEnd && (*pattern == '?' || fold(*pattern) == fold(*name))) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (pattern != patternEnd && *pattern == '*')
        ++pattern;
    return pattern == patternEnd;
}

// As on the original platform, "x.*" also matches "x".
template <typename Char, typename Fold>
bool matchWildcard(const Char *name, qsizetype nameSize, const Char *pattern, qsizetype patternSize,
                   Fold fold)
{
    if (matchFrom(name, name + nameSize, pattern, pattern + patternSize, fold))
        return true;
    return patternSize >= 2 && pattern[patternSize - 2] == '.' && pattern[patternSize - 1] == '*' &&
           matchFrom(name, name + nameSize, pattern, pattern + patternSize - 2, fold);
}

char foldAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

char16_t foldUnicode(QChar c)
{
    return c.toCaseFolded().unicode();
}

bool isAscii(const char *text, qsizetype &size)
{
    bool ascii = true;
    const char *p = text;
    for (; *p; ++p)
        ascii = ascii && static_cast<unsigned char>(*p) < 0x80;
    size = p - text;
    return ascii;
}

} // namespace

DirListing::DirListing(const QString &path, int attributes) : m_requested(attributes)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    m_folder = encodePath(path.left(slash + 1));
    m_pattern = path.mid(slash + 1);
    bool asciiPattern = true;
    for (QChar c : m_pattern)
        asciiPattern = asciiPattern && c.unicode() < 0x80;
    if (asciiPattern)
        m_asciiPattern = m_pattern.toLatin1();
    m_dir = opendir(m_folder.isEmpty() ? "." : m_folder.constData());
    if (!m_dir)
        m_openError = errno;
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
    // Large trees pass through here once per entry: names are matched as bytes
    // where both sides are plain ASCII, and decoded only when asked for.
    while (const dirent *entry = readdir(m_dir)) {
        const char *raw = entry->d_name;
        int attributes = raw[0] == '.' ? HiddenAttribute : 0;
        if (attributes & ~m_requested)
            continue;
        qsizetype size = 0;
        const bool ascii = isAscii(raw, size);
        if (!m_pattern.isEmpty()) {
            bool matches = false;
            if (ascii && !m_asciiPattern.isNull()) {
                matches = matchWildcard(raw, size, m_asciiPattern.constData(),
                                        m_asciiPattern.size(), foldAscii);
            } else {
                matches = matchesWildcard(decodePath(raw), m_pattern);
            }
            if (!matches)
                continue;
        }
        if (entry->d_type == DT_DIR) {
            attributes |= DirectoryAttribute;
        } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            // A link counts as what it leads to; a broken one as a plain file.
            struct stat info;
            if (stat((m_folder + raw).constData(), &info) == 0 && S_ISDIR(info.st_mode))
                attributes |= DirectoryAttribute;
        }
        if (attributes & ~m_requested)
            continue;
        m_rawName = raw;
        m_ascii = ascii;
        m_name = QString();
        m_attributes = attributes;
        return true;
    }
    m_rawName = nullptr;
    return false;
}

QString DirListing::name() const
{
    if (m_name.isNull() && m_rawName)
        m_name = m_ascii ? QString::fromLatin1(m_rawName) : decodePath(m_rawName);
    return m_name;
}

int fileAttributes(const QString &path)
{
    struct stat info;
    if (stat(encodePath(path).constData(), &info) != 0)
        return -1;
    QString name = path;
    while (name.endsWith(u'/'))
        name.chop(1);
    return attributesOf(info, name.mid(name.lastIndexOf(u'/') + 1));
}

bool matchesWildcard(const QString &name, const QString &pattern)
{
    return matchWildcard(name.constData(), name.size(), pattern.constData(), pattern.size(),
                         foldUnicode);
}

bool VisitedFolders::firstVisit(const QString &path)
{
    struct stat info;
    if (stat(encodePath(path).constData(), &info) != 0)
        return false;
    return m_seen.insert({info.st_dev, info.st_ino}).second;
}

bool fileExists(const QString &path)
{
    // stat() of "file/" fails, but of "folder/" it succeeds; neither names a file.
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return false;
    struct stat info;
    return ::stat(encodePath(path).constData(), &info) == 0;
}
