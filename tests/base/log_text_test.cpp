#include "base/log_text.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

TEST(LogText, CutsAndEscapes) {
    struct Case {
        QString in;
        int max;
        QString out;
    } cases[] = {
        {QStringLiteral("plain"), 200, QStringLiteral("plain")},
        {QStringLiteral("a\rb\nc"), 200, QStringLiteral("a\\x0Db\\x0Ac")},
        {QString(QChar(0)) + QChar(0x1b) + QChar(0x7f), 200, QStringLiteral("\\x00\\x1B\\x7F")},
        {QString(QChar(0x90)) + QChar(0x9f) + QChar(0xa0), 200,
         QStringLiteral("\\x90\\x9F") + QChar(0xa0)},
        {QStringLiteral("abcdef"), 6, QStringLiteral("abcdef")},
        {QStringLiteral("abcdefg"), 6, QStringLiteral("abcdef...")},
        {QString(300, QLatin1Char('x')), 200, QString(200, QLatin1Char('x')) + "..."},
        // Cut first, then escaped: an escape never counts against the limit twice.
        {QStringLiteral("\t\t\t"), 2, QStringLiteral("\\x09\\x09...")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(logText(c.in, c.max), c.out) << c.in.toStdString();
}

TEST(LogText, BytesAreCp1250) {
    EXPECT_EQ(logText(QByteArray("\xb9\x01z", 3)), QString::fromUtf8("ą\\x01z"));
    EXPECT_EQ(logText(QByteArray(4096, 'b')).size(), 203);
}

}  // namespace
}  // namespace velmar
