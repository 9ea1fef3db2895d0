#pragma once
// The system's strings are single-byte text (the settings record is Latin-1), so
// every crossing into Qt maps one byte to one character and back; nothing is lost
// for any byte value.
#include <QByteArray>
#include <QString>
#include <string>

namespace ovrin::qt {

inline QString ToQ(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string FromQ(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

inline std::string FromBytes(const QByteArray& bytes) {
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace ovrin::qt
