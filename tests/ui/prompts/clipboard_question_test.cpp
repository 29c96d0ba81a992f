#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "tests/ui/prompts/prompt_test_support.h"
#include "ui/language/apply_language.h"
#include "ui/prompts/clipboard_question.h"

namespace {

const QString Url = QStringLiteral("http://files.example/my file.zip");

bool Confirm(std::function<void(QDialog*)> act) {
    const TextTable texts = NumberedTable();
    WhenModalOpens(std::move(act));
    return ConfirmClipboardUrls(nullptr, texts, {Url});
}

QPushButton* Button(QDialog* d, const char* name) {
    auto* button = d->findChild<QPushButton*>(QString::fromLatin1(name));
    EXPECT_NE(button, nullptr) << name;
    return button;
}

}  // namespace

TEST(ClipboardQuestion, NamedControlsCarryTheirEntriesOnLoad) {
    const TextTable texts = NumberedTable();
    ClipboardQuestion question(texts);
    question.setUrl(Url);
    EXPECT_EQ(question.objectName(), QStringLiteral("WantDown"));
    EXPECT_EQ(question.windowTitle(), Entry(792));
    EXPECT_EQ(TagNumber(question.property(TagProperty)), 792);
    auto* label1 = question.findChild<QLabel*>(QStringLiteral("Label1"));
    auto* label2 = question.findChild<QLabel*>(QStringLiteral("Label2"));
    ASSERT_NE(label1, nullptr);
    ASSERT_NE(label2, nullptr);
    EXPECT_EQ(label1->text(), Entry(405));
    EXPECT_EQ(label2->text(), Url);
    EXPECT_EQ(Button(&question, "Command1")->text(), Entry(406));
    EXPECT_EQ(Button(&question, "Command2")->text(), Entry(407));
    EXPECT_EQ(question.answer(), QString());
}

TEST(ClipboardQuestion, YesOnlyByItsButton) {
    EXPECT_TRUE(Confirm([](QDialog* d) {
        EXPECT_EQ(d->objectName(), QStringLiteral("WantDown"));
        Button(d, "Command1")->click();
    }));
    EXPECT_FALSE(Confirm([](QDialog* d) { Button(d, "Command2")->click(); }));
    EXPECT_FALSE(Confirm([](QDialog* d) { d->close(); }));
    EXPECT_FALSE(Confirm([](QDialog* d) { QTest::keyClick(d, Qt::Key_Escape); }));
}

TEST(ClipboardQuestion, ReusedWindowStartsEachQuestionUnanswered) {
    const TextTable texts = NumberedTable();
    ClipboardQuestion question(texts);
    question.setUrl(Url);
    question.show();
    Button(&question, "Command1")->click();
    EXPECT_EQ(question.answer(), QStringLiteral("YES"));
    EXPECT_FALSE(question.isVisible());

    question.setUrl(QStringLiteral("http://files.example/other.zip"));
    EXPECT_EQ(question.answer(), QString());
    question.show();
    question.close();  // the title bar's close box
    EXPECT_EQ(question.answer(), QStringLiteral("NO"));
}
