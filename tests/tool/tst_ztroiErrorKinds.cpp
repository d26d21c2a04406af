// The kind of every failure that a picture file can produce, in ztroi's JSON record beside its
// message; standard error keeps the message alone.

#include "ZTToolTestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

class tst_ztroiErrorKinds : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void kindInTheRecord_data();
    void kindInTheRecord();
};

namespace {

// Runs a command as the unprivileged user "nobody" when ztroi runs as root, who reads every file:
// the test folder, private to root, then refuses it as a file without read permission would.
QString withoutPrivileges()
{
    if (::geteuid() != 0) {
        return QString();
    }
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty()) {
        return QString();
    }
    return QStringLiteral("exec %1 --reuid=65534 --regid=65534 --clear-groups \"$0\" \"$@\";")
        .arg(setpriv);
}

} // namespace

void tst_ztroiErrorKinds::kindInTheRecord_data()
{
    QTest::addColumn<QString>("name");        // a file made in the run's folder, if any
    QTest::addColumn<QByteArray>("data");     // its bytes
    QTest::addColumn<QString>("input");       // the picture named to ztroi
    QTest::addColumn<QStringList>("options"); // besides --json --quiet
    QTest::addColumn<QString>("shell");       // run after this shell command; see below
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message"); // the start of the message

    const QByteArray png = encoded(scene(QSize(400, 300), QPoint(250, 120)), "png");
    const QStringList noMap {"--no-map"};
    QTest::newRow("missing file") << "" << QByteArray() << "missing.png" << noMap << ""
                                  << "not-found"
                                  << "no such file";
    QTest::newRow("file as a folder on the path")
        << "photo.png" << png << "photo.png/missing.png" << noMap << ""
        << "not-found"
        << "cannot open the file (Not a directory)";
    QTest::newRow("no permission") << "locked.png" << png << "locked.png" << noMap << "permission"
                                   << "permission"
                                   << "cannot open the file (Permission denied)";
    QTest::newRow("folder") << "" << QByteArray() << "." << noMap << ""
                            << "not-a-file"
                            << "is a directory";
    QTest::newRow("unsupported format")
        << "text.png" << QByteArray("not a picture\n") << "text.png" << noMap << ""
        << "unsupported-format"
        << "not a picture";
    QTest::newRow("format not allowed") << "photo.png" << png << "photo.png"
                                        << QStringList {"--no-map", "--input-formats", "jpeg"} << ""
                                        << "unsupported-format"
                                        << "PNG pictures";
    QTest::newRow("damaged") << "truncated.png" << png.left(png.size() / 2) << "truncated.png"
                             << noMap << ""
                             << "damaged"
                             << "";
    QTest::newRow("empty") << "empty.png" << QByteArray() << "empty.png" << noMap << ""
                           << "damaged"
                           << "empty file";
    QTest::newRow("too large") << "photo.png" << png << "photo.png"
                               << QStringList {"--no-map", "--max-pixels", "1000"} << ""
                               << "too-large"
                               << "the picture is too large";
    QTest::newRow("over the memory budget")
        << "wide.png" << encoded(QImage(8000, 8000, QImage::Format_Mono), "png") << "wide.png"
        << QStringList {"--no-map", "--memory", "1"} << ""
        << "over-budget"
        << "";
    QTest::newRow("write failed") << "photo.png" << png << "photo.png" << QStringList()
                                  << "ulimit -f 1;"
                                  << "write-failed"
                                  << "cannot write ztroi-out/photo.salience.png";
}

// "permission" as the shell: the file loses its read permission, and as root (who reads it
// anyway) ztroi runs as nobody, whom the test folder refuses the same way.
void tst_ztroiErrorKinds::kindInTheRecord()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, data);
    QFETCH(QString, input);
    QFETCH(QStringList, options);
    QFETCH(QString, shell);
    QFETCH(QString, kind);
    QFETCH(QString, message);

    QTemporaryDir work;
    if (!name.isEmpty()) {
        writeFile(work.filePath(name), data);
    }
    if (shell == "permission") {
        shell = withoutPrivileges();
        if (::geteuid() == 0 && shell.isEmpty()) {
            QSKIP("root reads every file, and there is no setpriv to run ztroi as another user");
        }
        QVERIFY(QFile::setPermissions(work.filePath(name), QFileDevice::WriteOwner));
    }
    const Run run = ztroi(
        QStringList {"--json", "--quiet"} + options + QStringList {input}, work.path(), {}, shell);
    QCOMPARE(run.exitCode, 1);
    const QJsonObject record = QJsonDocument::fromJson(run.out).object();
    QCOMPARE(record.keys(), (QStringList {"error", "input", "version"}));
    const QJsonObject error = record["error"].toObject();
    QCOMPARE(error.keys(), (QStringList {"kind", "message"}));
    QCOMPARE(error["kind"].toString(), kind);
    const QString said = error["message"].toString();
    QVERIFY2(!said.isEmpty() && said.startsWith(message), qPrintable(said));
    // Standard error names the picture and says the message, without the kind.
    QVERIFY2(run.err.contains((input + ": " + said).toUtf8()), run.err.constData());
    QVERIFY(filesIn(work.filePath("ztroi-out")).isEmpty());
}

QTEST_MAIN(tst_ztroiErrorKinds)
#include "tst_ztroiErrorKinds.moc"
