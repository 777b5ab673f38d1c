#include "storedzip.h"

#include "zipwriter.h"

QByteArray storedZip(const QList<QPair<QByteArray, QByteArray>> &entries)
{
    std::vector<std::pair<std::string, std::string>> plain;
    for (const auto &[name, data] : entries)
        plain.emplace_back(name.toStdString(), data.toStdString());
    return QByteArray::fromStdString(makeStoredZip(plain));
}
