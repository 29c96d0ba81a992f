#include "tests/archive/archive_test_tools.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include "tests/support/sandbox.h"
#include "tests/support/test_files.h"

int RunTool(const QString& program, const QStringList& arguments, const QString& folder) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) {
        ADD_FAILURE() << program.toStdString() << " did not finish";
        return -1;
    }
    return process.exitCode();
}

bool MakeSample(const QStringList& arguments, const QString& folder) {
    return RunTool(QStringLiteral("/usr/bin/python3"),
                   QStringList{SourcePath(QStringLiteral("tests/archive/extraction_samples.py"))} +
                       arguments,
                   folder) == 0;
}

QMap<QString, QString> TreeOf(const QString& folder) {
    QMap<QString, QString> tree;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(folder).relativeFilePath(path);
        struct stat info {};
        ::lstat(QFile::encodeName(path).constData(), &info);
        if (S_ISLNK(info.st_mode)) {
            tree[relative] = QStringLiteral("link");
        } else if (S_ISDIR(info.st_mode)) {
            tree[relative] = QStringLiteral("folder");
        } else {
            tree[relative] = QStringLiteral("file %1 %2")
                                 .arg(info.st_mode & 07111, 0, 8)
                                 .arg(QString::fromLatin1(FileSha256(path)));
        }
    }
    return tree;
}

void MakeSourceTree(const QString& folder) {
    QDir dir(folder);
    for (const char* sub : {"bin", "deep/er/folder", "empty folder", "Grüße"}) {
        ASSERT_TRUE(dir.mkpath(QString::fromUtf8(sub)));
    }
    ASSERT_TRUE(WriteFile(dir.filePath("plain.txt"), QByteArray("line\n").repeated(2000)));
    ASSERT_TRUE(WriteFile(dir.filePath("bin/random.dat"), RandomBytes(300 * 1024)));
    ASSERT_TRUE(WriteFile(dir.filePath("empty"), {}));
    ASSERT_TRUE(WriteFile(dir.filePath("deep/er/folder/note.txt"), "deep\n"));
    ASSERT_TRUE(WriteFile(dir.filePath(QString::fromUtf8("Grüße/naïve – 日本.txt")), "utf8\n"));
    const QString script = dir.filePath("run.sh");
    ASSERT_TRUE(WriteFile(script, "#!/bin/sh\necho run\n"));
    ASSERT_TRUE(QFile::setPermissions(
        script, QFile::permissions(script) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther));
}

QString ScriptedUnzipPrompts::password(const QString& memberName) {
    passwordQuestions << memberName;
    return NextAnswer(passwords, "password question", memberName);
}

ReplaceAnswer ScriptedUnzipPrompts::replace(const QString& path) {
    replaceQuestions << path;
    return NextAnswer(replaceAnswers, "replace question", path, ReplaceAnswer::KeepAll);
}
