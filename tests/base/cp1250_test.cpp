#include "base/cp1250.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <optional>

namespace velmar {
namespace {

// Converts with glibc's iconv; nothing when iconv refuses the input.
std::optional<QByteArray> iconvConvert(const char* to, const char* from, QByteArray in) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    char out[16];
    char* src = in.data();
    char* dst = out;
    size_t inLeft = static_cast<size_t>(in.size());
    size_t outLeft = sizeof out;
    const size_t rc = iconv(cd, &src, &inLeft, &dst, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || inLeft != 0)
        return std::nullopt;
    return QByteArray(out, static_cast<qsizetype>(dst - out));
}

TEST(Cp1250Test, DecodesEveryByteLikeIconv) {
    const QByteArray undefined("\x81\x83\x88\x90\x98");
    int defined = 0;
    for (int b = 0; b < 256; ++b) {
        const QByteArray byte(1, static_cast<char>(b));
        const QString ours = fromCp1250(byte);
        ASSERT_EQ(ours.size(), 1);
        const auto ref = iconvConvert("UTF-16LE", "CP1250", byte);
        if (undefined.contains(byte[0])) {
            EXPECT_FALSE(ref) << b;
            EXPECT_EQ(ours[0].unicode(), b) << b;
        } else {
            ASSERT_TRUE(ref) << b;
            ++defined;
            EXPECT_EQ(ours, QString::fromUtf16(reinterpret_cast<const char16_t*>(ref->data()),
                                               ref->size() / 2))
                << b;
        }
        EXPECT_EQ(toCp1250(ours), byte) << b;  // every byte survives a round trip
    }
    EXPECT_EQ(defined, 251);
}

TEST(Cp1250Test, EncodesEveryBmpCharacterLikeIconv) {
    for (char32_t c = 1; c < 0x10000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        if (c == 0x81 || c == 0x83 || c == 0x88 || c == 0x90 || c == 0x98)
            continue;
        const QString text(QChar(static_cast<char16_t>(c)));
        const auto ref = iconvConvert("CP1250", "UTF-8", text.toUtf8());
        EXPECT_EQ(toCp1250(text), ref.value_or(QByteArray("?"))) << std::hex << unsigned(c);
    }
}

TEST(Cp1250Test, TextOutsideTheCodePage) {
    const std::vector<std::pair<QString, QByteArray>> cases = {
        {QStringLiteral("Łódź"), "\xA3\xF3\x64\x9F"},
        {QStringLiteral("a\u4E2Db"), "a?b"},
        {QStringLiteral("x\U0001F600y"), "x?y"},  // one character, one '?'
        {QString(QChar(0xD800)), "?"},
        {QString(), ""}};
    for (const auto& [text, bytes] : cases)
        EXPECT_EQ(toCp1250(text), bytes) << text.toStdString();
}

}  // namespace
}  // namespace velmar
