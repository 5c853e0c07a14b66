// SPDX-License-Identifier: MIT
#include "platform/resources.h"

#include <QByteArray>
#include <QFile>
#include <QString>

namespace pix {

std::optional<std::vector<std::uint8_t>> FindResource(std::string_view name,
                                                      std::string_view type) {
    if (name.empty() || type.empty()) return std::nullopt;
    // A name with a path separator would reach another type's folder.
    if (name.find('/') != std::string_view::npos || type.find('/') != std::string_view::npos)
        return std::nullopt;
    const QString path =
        QStringLiteral(":/") + QString::fromUtf8(type.data(), static_cast<qsizetype>(type.size())) +
        QLatin1Char('/') + QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray bytes = file.readAll();
    const auto* first = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    return std::vector<std::uint8_t>(first, first + bytes.size());
}

}  // namespace pix
