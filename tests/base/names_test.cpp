#include "base/names.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace velmar {
namespace {

TEST(NamesTest, PathComponentRule) {
    const QStringList accepted = {
        "Living room", QStringLiteral("Łazienka"), "55-1", "...", ".hidden", "a.b"};
    const QStringList refused = {
        "", ".", "..", "a\\b", "../x", "c:", "a*", "a?", "\"q\"", "<a", "a>", "a|b"};
    for (const QString& name : accepted)
        EXPECT_TRUE(isValidName(name)) << name.toStdString();
    for (const QString& name : refused)
        EXPECT_FALSE(isValidName(name)) << name.toStdString();
    for (char16_t c : {0x00, 0x09, 0x0A, 0x1F, 0x7F, 0x80, 0x85, 0x9F})
        EXPECT_FALSE(isValidName(QString("a") + QChar(c))) << int(c);
    EXPECT_TRUE(isValidName(QString("a") + QChar(0xA0)));
}

}  // namespace
}  // namespace velmar
