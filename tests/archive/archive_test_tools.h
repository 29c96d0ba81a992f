#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <deque>

#include "archive/unzip_archive.h"
#include "tests/support/script_answers.h"

// Runs a program (zip, unzip, python) in `folder` with a UTF-8 locale; its exit code, or -1.
int RunTool(const QString& program, const QStringList& arguments, const QString& folder);
// Makes one of tests/archive/extraction_samples.py's archives; whether it worked.
bool MakeSample(const QStringList& arguments, const QString& folder);

// Every entry below `folder`, links not followed: relative path -> "folder", "link", or
// "file <executable bits> <SHA-256>".
QMap<QString, QString> TreeOf(const QString& folder);

// Fills `folder` with files worth archiving: text, random bytes, an empty file, an
// executable, nested and empty folders, a UTF-8 name.
void MakeSourceTree(const QString& folder);

// Answers the extraction's questions from a script and records what was asked.
class ScriptedUnzipPrompts : public UnzipPrompts {
public:
    std::deque<QString> passwords;
    std::deque<ReplaceAnswer> replaceAnswers;
    QStringList passwordQuestions;
    QStringList replaceQuestions;

    QString password(const QString& memberName) override;
    ReplaceAnswer replace(const QString& path) override;
};
