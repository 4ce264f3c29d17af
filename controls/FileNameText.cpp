#include "controls/FileNameText.h"

#include <QByteArray>
#include <QFile>

namespace quarn {

QString FileNameText(std::string_view bytes) {
    return QFile::decodeName(QByteArray(bytes.data(), qsizetype(bytes.size())));
}

std::string FileNameBytes(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

}  // namespace quarn
