#include "devices/name_forms.h"

#include <gtest/gtest.h>

#include <QDir>

#include "support/fake_clock.h"
#include "support/temp_root.h"

namespace velmar {
namespace {

TEST(NameFormsTest, Getfilename) {
    const QString long300(300, QLatin1Char('x'));
    const struct {
        QString in, out;
    } cases[] = {
        {"a<b>c", "a b c"},
        {"a:b/c\\d", "a, b, c d"},
        {"Salon; Light on", "Salon; Light on"},
        {"<>:/\\", "  , ,  "},
        {long300, QString(215, QLatin1Char('x')) + " etc"},
        {QString(215, QLatin1Char('y')), QString(215, QLatin1Char('y'))},
        // The length is taken after the replacements: ":" grows by one character.
        {QString(214, QLatin1Char('z')) + ":", QString(214, QLatin1Char('z')) + ", etc"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(getfilename(c.in), c.out) << c.in.toStdString();
}

TEST(NameFormsTest, Getascival) {
    const struct {
        QString in, out;
    } cases[] = {
        {QStringLiteral("ąĄćĆęĘłŁńŃóÓśŚżŻźŹ"), "aAcCeElLnNoOsSzZzZ"},
        {QStringLiteral("Łazienka górna"), "Lazienka gorna"},
        {QStringLiteral("Größe €5"), "Gr__e _5"},
        {QStringLiteral("plain ASCII ~\x7f"), QStringLiteral("plain ASCII ~\x7f")},
        {QString("a") + QChar(0x80) + "b", "a_b"},
        {QStringLiteral("x😀y"), "x_y"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(getascival(c.in), c.out) << c.in.toStdString();
}

TEST(NameFormsTest, TestNamingRule) {
    test::TempRoot t;
    t.mkdir("logs");
    DataRoot root(t.root());
    test::FakeClock clock;
    EventLog log(root, clock);
    QString logged;
    log.setSink([&](const QString& text) { logged += text; });

    const struct {
        QString name;
        bool accepted;
    } cases[] = {
        {QStringLiteral("Łazienka"), true},
        {QString(255, 'n'), true},
        {"..", false},
        {"../evil", false},
        {QString(256, 'n'), false},
    };
    for (const auto& c : cases) {
        logged.clear();
        const QString result = test_naming_rule(root, log, c.name, "old");
        EXPECT_EQ(result, c.accepted ? c.name : QString("old")) << c.name.toStdString();
        EXPECT_EQ(logged.contains("error naming rule"), !c.accepted) << c.name.toStdString();
    }
    // Nothing is created in the data root.
    EXPECT_EQ(QDir(t.root()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{"logs"});
}

}  // namespace
}  // namespace velmar
