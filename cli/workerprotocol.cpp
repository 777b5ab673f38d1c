#include "workerprotocol.h"

#include "pathbytes.h"

namespace workerprotocol {

QByteArray line(const QList<QByteArray> &fields)
{
    QByteArray joined;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            joined += '\t';
        joined += fields[i];
    }
    return joined + '\n';
}

QList<QByteArray> fields(const QByteArray &line)
{
    QByteArray trimmed = line;
    if (trimmed.endsWith('\n'))
        trimmed.chop(1);
    return trimmed.split('\t');
}

QByteArray text(const QString &value)
{
    return encodePath(value).toPercentEncoding();
}

QString fromText(const QByteArray &field)
{
    return decodePath(QByteArray::fromPercentEncoding(field));
}

} // namespace workerprotocol
