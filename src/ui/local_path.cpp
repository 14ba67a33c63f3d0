// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/local_path.h"

#include <cstring>
#include <sys/stat.h>

namespace q7 {

namespace {

// The length of the valid UTF-8 sequence at p (at most n bytes available), or 0.
std::size_t utf8Length(const unsigned char* p, std::size_t n) {
    const unsigned char b = p[0];
    if (b < 0x80)
        return 1;
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF)
        len = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        if (b == 0xE0)
            lo = 0xA0;
        if (b == 0xED)
            hi = 0x9F; // no encoded surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        if (b == 0xF0)
            lo = 0x90;
        if (b == 0xF4)
            hi = 0x8F;
    } else
        return 0;
    if (n < len || p[1] < lo || p[1] > hi)
        return 0;
    for (std::size_t i = 2; i < len; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF)
            return 0;
    return len;
}

} // namespace

QString decodeLocalPath(const char* bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    const std::size_t n = std::strlen(bytes);
    QString out;
    std::size_t i = 0;
    while (i < n) {
        const std::size_t len = utf8Length(p + i, n - i);
        if (len == 0) {
            out.append(QChar(char16_t(0xDC00 + p[i])));
            ++i;
        } else {
            out.append(QString::fromUtf8(bytes + i, qsizetype(len)));
            i += len;
        }
    }
    return out;
}

std::string encodeLocalPath(const QString& path) {
    std::string out;
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t u = path[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < path.size() && path[i + 1].isLowSurrogate()) {
            out += path.mid(i, 2).toStdString();
            ++i;
        } else if (u >= 0xDC80 && u <= 0xDCFF) {
            out.push_back(char(u - 0xDC00));
        } else {
            out += QString(QChar(u)).toStdString();
        }
    }
    return out;
}

bool localPathExists(const QString& path) {
    struct stat st {};
    return ::stat(encodeLocalPath(path).c_str(), &st) == 0;
}

} // namespace q7
