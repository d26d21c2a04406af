// The kind of every failure that a picture file can produce, in ztroi's JSON record beside its
// message; standard error keeps the message alone.

#include "ZTToolTestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

class tst_ztroiErrorKinds : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void kindInTheRecord_data();
    void kindInTheRecord();
};

namespace {

// Whether another user may reach and run ztroi: every folder on its path open to others (a
// build below root's private home folder is not).
bool othersMayRunZtroi()
{
    QString path = QFileInfo(QStringLiteral(ZTROI_EXECUTABLE)).absoluteFilePath();
    for (; path != QStringLiteral("/"); path = QFileInfo(path).path()) {
        struct stat status;
        if (::stat(QFile::encodeName(path).constData(), &status) != 0
            || !(status.st_mode & S_IXOTH)) {
            return false;
        }
    }
    return true;
}

// Runs a command as the unprivileged user "nobody" when ztroi runs as root, who reads every file:
// the test folder, private to root, then refuses it as a file without read permission would.
QString withoutPrivileges()
{
    if (::geteuid() != 0 || !othersMayRunZtroi()) {
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

    // The kinds that the analysis gives are tst_ZTOutputWriter's; these need ztroi itself: its
    // command line, another user, a file-size limit.
    const QByteArray png = encoded(scene(QSize(400, 300), QPoint(250, 120)), "png");
    const auto row = [&](const char* name, const char* input, const QStringList& options,
                         const char* shell, const char* kind, const char* message,
                         const QByteArray& data = {}) {
        QTest::newRow(name) << QString(input).section('/', 0, 0) << (data.isEmpty() ? png : data)
                            << input << options << shell << kind << message;
    };
    const QStringList noMap {"--no-map"};
    row("file as a folder on the path", "photo.png/missing.png", noMap, "", "not-found",
        "cannot open the file (Not a directory)");
    row("no permission", "locked.png", noMap, "permission", "permission",
        "cannot open the file (Permission denied)");
    row("format not allowed", "photo.png", {"--no-map", "--input-formats", "jpeg"}, "",
        "unsupported-format", "PNG pictures");
    row("over the memory budget", "wide.png", {"--no-map", "--memory", "1"}, "", "over-budget", "",
        encoded(QImage(8000, 8000, QImage::Format_Mono), "png"));
    row("write failed", "photo.png", {}, "ulimit -f 1;", "write-failed",
        "cannot write ztroi-out/photo.salience.png");
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
            QSKIP("root reads every file, and ztroi cannot run as another user here (no setpriv, "
                  "or a build that only root may reach)");
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
