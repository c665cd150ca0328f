#include "TestIo.h"
#include "TestMeshes.h"
#include "WindowSetup.h"
#include "app/Autosave.h"
#include "app/Document.h"
#include "app/Prompts.h"
#include "app/Widget3D.h"
#include "app/Window.h"
#include "io/Files.h"
#include "mesh/MeshCheck.h"
#include "render/SurfaceFormat.h"

#include <QAction>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLockFile>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace TestMeshes;
using Prompts::SaveAnswer;

Q_DECLARE_METATYPE(Prompts::SaveAnswer)

// What protects the user's work: the unsaved-changes mark and the questions before Open, Exit,
// closing and dropping a file; the recovery copy written while work is unsaved, removed when it
// is not needed, and offered again after a crash.
class TestReliability : public QObject
{
    Q_OBJECT

public:
    static void initMain() { setDefaultSurfaceFormat(0); }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void titleMark();
    void pressWithoutChangeIsClean();
    void undoBackToSaved();
    void guardedCommands_data();
    void guardedCommands();
    void autosaveWrites();
    void autosaveRemoved_data();
    void autosaveRemoved();
    void cancelledExitKeepsCopy();
    void recoveryOffer_data();
    void recoveryOffer();
    void liveCopyNotOffered();
    void unreadableCopySetAside();

private:
    QString sphere(const QString &name, int level = 3);
    QAction *action(const QString &text) const;
    void stroke(QPoint offset = QPoint(60, 30));
    // Writes a recovery file as a process with the given number would have left it.
    QString leaveOrphan(qint64 pid, const QString &original, const QByteArray &bytes = {});

    QTemporaryDir dir;
    QString folder;
    std::unique_ptr<Window> window;
    Widget3D *view = nullptr;
    QStringList asked;
    SaveAnswer saveAnswer = SaveAnswer::Cancel;
    bool recoverAnswer = false;
    QString saveName;
    QString openName;
};

void TestReliability::initTestCase()
{
    QVERIFY(dir.isValid());
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QStandardPaths::setTestModeEnabled(true);
    folder = dir.filePath(QStringLiteral("recovery"));
    Autosave::setFolder(folder);
    QCOMPARE(Autosave::folder(), folder);
    Prompts::setSaveChangesQuestion([this](QWidget *, const QString &text) {
        asked << text;
        return saveAnswer;
    });
    Prompts::setRecoveryQuestion([this](QWidget *, const QString &text) {
        asked << text;
        return recoverAnswer;
    });
    Prompts::setSaveFileNameQuestion([this](QWidget *) { return saveName; });
    Prompts::setOpenFileNameQuestion([this](QWidget *) { return openName; });
}

void TestReliability::cleanupTestCase()
{
    Prompts::setSaveChangesQuestion({});
    Prompts::setRecoveryQuestion({});
    Prompts::setSaveFileNameQuestion({});
    Prompts::setOpenFileNameQuestion({});
    Autosave::setFolder(QString());
}

void TestReliability::init()
{
    QDir(folder).removeRecursively();
    asked.clear();
    saveAnswer = SaveAnswer::Cancel;
    recoverAnswer = false;
    saveName.clear();
    openName.clear();
    showTestWindow(window, view);
}

void TestReliability::cleanup()
{
    for (QMessageBox *box : window->findChildren<QMessageBox *>())
        box->close();
    // Leave without questions.
    saveAnswer = SaveAnswer::Discard;
    window.reset();
    view = nullptr;
}

QString TestReliability::sphere(const QString &name, int level)
{
    return TestIo::icosphereFile(dir.filePath(name), level);
}

QAction *TestReliability::action(const QString &text) const
{
    for (QAction *a : window->menuBar()->findChildren<QAction *>()) {
        if (a->text() == text)
            return a;
    }
    return nullptr;
}

void TestReliability::stroke(QPoint offset)
{
    const QPoint from(view->width() / 2, view->height() / 2);
    const QPoint to = from + offset;
    QTest::mouseMove(view, from);
    QTest::mousePress(view, Qt::RightButton, {}, from);
    for (int i = 1; i <= 12; ++i) {
        const QPoint p = from + (to - from) * i / 12;
        QMouseEvent move(
            QEvent::MouseMove, p, view->mapToGlobal(p), Qt::NoButton, Qt::RightButton, {});
        QCoreApplication::sendEvent(view, &move);
    }
    QTest::mouseRelease(view, Qt::RightButton, {}, to);
}

QString TestReliability::leaveOrphan(qint64 pid, const QString &original, const QByteArray &bytes)
{
    QDir().mkpath(folder);
    const QString base = QDir(folder).filePath(QStringLiteral("recovery-%1").arg(pid));
    const QString file = base + QStringLiteral(".stl");
    if (bytes.isEmpty()) {
        std::unique_ptr<Mesh> mesh = makeIcosphere(2);
        Files::saveSTL(*mesh, file);
    } else {
        QFile out(file);
        out.open(QIODevice::WriteOnly);
        out.write(bytes);
    }
    QFile path(base + QStringLiteral(".path"));
    path.open(QIODevice::WriteOnly);
    path.write(original.toUtf8());
    return file;
}

void TestReliability::titleMark()
{
    Document *document = window->getDocument();
    QCOMPARE(window->windowTitle(), QStringLiteral("Argilium"));
    QVERIFY(!document->isModified());
    QVERIFY(view->openFile(sphere(QStringLiteral("ball.stl"))));
    QCOMPARE(window->windowTitle(), QStringLiteral("ball.stl - Argilium"));
    stroke();
    QVERIFY(document->isModified());
    QCOMPARE(window->windowTitle(), QStringLiteral("ball.stl* - Argilium"));
    view->undo();
    QCOMPARE(window->windowTitle(), QStringLiteral("ball.stl - Argilium"));
    view->redo();
    QCOMPARE(window->windowTitle(), QStringLiteral("ball.stl* - Argilium"));

    // Saving under another name names the work after it.
    const QString copy = dir.filePath(QStringLiteral("copy.stl"));
    QVERIFY(view->saveMesh(copy));
    QCOMPARE(window->windowTitle(), QStringLiteral("copy.stl - Argilium"));
    QVERIFY(!document->isModified());
    // The saved content is the one after the stroke: undoing it is a change.
    view->undo();
    QCOMPARE(window->windowTitle(), QStringLiteral("copy.stl* - Argilium"));

    // A failed open keeps the work, its name and its mark.
    QVERIFY(!view->openFile(dir.filePath(QStringLiteral("missing.stl"))));
    QCOMPARE(window->windowTitle(), QStringLiteral("copy.stl* - Argilium"));
    for (QMessageBox *box : window->findChildren<QMessageBox *>())
        box->close();
}

void TestReliability::pressWithoutChangeIsClean()
{
    QVERIFY(view->openFile(sphere(QStringLiteral("ball.stl"))));
    const QPoint centre(view->width() / 2, view->height() / 2);
    QTest::mouseMove(view, centre);
    QTest::mouseClick(view, Qt::RightButton, {}, centre);
    QCOMPARE(view->getMesh()->getUndoStates().size(), std::size_t(1));
    QVERIFY(!window->getDocument()->isModified());
    QCOMPARE(window->windowTitle(), QStringLiteral("ball.stl - Argilium"));
    // Nothing asks when nothing is unsaved.
    QVERIFY(window->close());
    QVERIFY(asked.isEmpty());
}

void TestReliability::undoBackToSaved()
{
    QVERIFY(view->openFile(sphere(QStringLiteral("ball.stl"))));
    Document *document = window->getDocument();
    stroke();
    stroke(QPoint(-50, 40));
    const QString saved = dir.filePath(QStringLiteral("two.stl"));
    QVERIFY(view->saveMesh(saved));
    stroke(QPoint(40, -60));
    QVERIFY(document->isModified());
    view->undo();
    QVERIFY(!document->isModified());
    view->undo();
    QVERIFY(document->isModified());
    view->undo();
    QVERIFY(document->isModified());
    view->redo();
    view->redo();
    QVERIFY(!document->isModified());
    // A new stroke after undoing past the saved content never comes back to it by redo.
    view->undo();
    stroke(QPoint(-60, -20));
    QVERIFY(document->isModified());
    view->redo();
    QVERIFY(document->isModified());
    QCOMPARE(checkMesh(*view->getMesh()), QString());
}

void TestReliability::guardedCommands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("modified");
    QTest::addColumn<SaveAnswer>("answer");
    // Name given to the save dialog: "ok" a writable file, "" cancelled, "bad" unwritable.
    QTest::addColumn<QString>("saveTo");
    QTest::addColumn<bool>("proceeds");

    for (const char *command : {"open", "exit", "close", "drop"}) {
        const QString c = QString::fromLatin1(command);
        const QByteArray n(command);
        QTest::newRow(n + " clean") << c << false << SaveAnswer::Cancel << "" << true;
        QTest::newRow(n + " cancel") << c << true << SaveAnswer::Cancel << "" << false;
        QTest::newRow(n + " discard") << c << true << SaveAnswer::Discard << "" << true;
        QTest::newRow(n + " save") << c << true << SaveAnswer::Save << "ok" << true;
        QTest::newRow(n + " save dialog cancelled") << c << true << SaveAnswer::Save << "" << false;
        QTest::newRow(n + " save fails") << c << true << SaveAnswer::Save << "bad" << false;
    }
}

void TestReliability::guardedCommands()
{
    QFETCH(QString, command);
    QFETCH(bool, modified);
    QFETCH(SaveAnswer, answer);
    QFETCH(QString, saveTo);
    QFETCH(bool, proceeds);

    QVERIFY(view->openFile(sphere(QStringLiteral("first.stl"))));
    if (modified)
        stroke();
    QCOMPARE(window->getDocument()->isModified(), modified);
    Mesh *const before = view->getMesh();
    const int triangles = before->getNbTriangles();
    const QString other = sphere(QStringLiteral("second.stl"), 2);

    saveAnswer = answer;
    const QString written = dir.filePath(QStringLiteral("saved-%1.stl").arg(command));
    QFile::remove(written);
    if (saveTo == QLatin1String("ok"))
        saveName = written;
    else if (saveTo == QLatin1String("bad"))
        saveName = dir.filePath(QStringLiteral("no/such/folder/x.stl"));
    else
        saveName = QString();
    openName = other;

    if (command == QLatin1String("open")) {
        action(QStringLiteral("&Open"))->trigger();
    } else if (command == QLatin1String("exit")) {
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
    } else if (command == QLatin1String("close")) {
        window->close();
    } else {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(other)});
        const QPoint p(100, 100);
        QDragEnterEvent enter(p, Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(window.get(), &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(p, Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(window.get(), &drop);
    }

    if (modified)
        QCOMPARE(asked, QStringList {QStringLiteral("Save changes to first.stl?")});
    else
        QVERIFY(asked.isEmpty());

    const bool closing = command == QLatin1String("exit") || command == QLatin1String("close");
    if (closing) {
        QCOMPARE(window->isVisible(), !proceeds);
    } else if (proceeds) {
        QVERIFY(view->getMesh() != before);
        QCOMPARE(view->getMesh()->getNbTriangles(), 320);
        QVERIFY(!window->getDocument()->isModified());
        QCOMPARE(window->windowTitle(), QStringLiteral("second.stl - Argilium"));
    }
    if (!proceeds) {
        // The work stays as it was, still marked.
        QVERIFY(view->getMesh() == before);
        QCOMPARE(view->getMesh()->getNbTriangles(), triangles);
        QVERIFY(window->getDocument()->isModified());
        QVERIFY(window->isVisible());
    }
    // "Save" wrote the work before going on.
    QCOMPARE(QFile::exists(written), saveTo == QLatin1String("ok"));
    if (saveTo == QLatin1String("ok")) {
        std::unique_ptr<Mesh> reread = Files::load(written);
        QVERIFY(reread);
        QCOMPARE(reread->getNbTriangles(), triangles);
    }
    for (QMessageBox *box : window->findChildren<QMessageBox *>())
        box->close();
}

void TestReliability::autosaveWrites()
{
    Autosave *autosave = window->getAutosave();
    QCOMPARE(autosave->interval(), Autosave::defaultIntervalMs);
    QCOMPARE(Autosave::defaultIntervalMs, 120000);
    QVERIFY(autosave->filePath().startsWith(folder + QLatin1Char('/')));
    QVERIFY(!autosave->saveNow()); // no mesh
    const QString original = sphere(QStringLiteral("ball.stl"));
    QVERIFY(view->openFile(original));
    QVERIFY(!autosave->saveNow()); // nothing unsaved
    QVERIFY(!QFile::exists(autosave->filePath()));

    stroke();
    QSignalSpy written(autosave, &Autosave::written);
    QVERIFY(autosave->saveNow());
    QCOMPARE(written.count(), 1);
    QVERIFY(QFile::exists(autosave->filePath()));
    // Nothing new: the copy is not written again.
    QVERIFY(!autosave->saveNow());
    std::unique_ptr<Mesh> copy = Files::load(autosave->filePath());
    QVERIFY(copy);
    QCOMPARE(copy->getNbTriangles(), view->getMesh()->getNbTriangles());
    QCOMPARE(checkMesh(*copy), QString());
    // A running process's copy is never offered.
    QVERIFY(Autosave::orphans().isEmpty());

    // Another stroke: written again, with the new shape.
    view->setTopoMode(1);
    stroke(QPoint(-70, 10));
    const int now = view->getMesh()->getNbTriangles();
    QVERIFY(autosave->saveNow());
    copy = Files::load(autosave->filePath());
    QVERIFY(copy);
    QCOMPARE(copy->getNbTriangles(), now);

    QFile path(autosave->filePath().chopped(4) + QStringLiteral(".path"));
    QVERIFY(path.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(path.readAll()), original);
}

void TestReliability::autosaveRemoved_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("save") << "save";
    QTest::newRow("undo back to the saved content") << "undo";
    QTest::newRow("another file opened") << "open";
    QTest::newRow("exit discarding") << "exit";
    QTest::newRow("exit saving") << "exit save";
}

void TestReliability::autosaveRemoved()
{
    QFETCH(QString, how);
    Autosave *autosave = window->getAutosave();
    const QString file = autosave->filePath();
    QVERIFY(view->openFile(sphere(QStringLiteral("ball.stl"))));
    stroke();
    QVERIFY(autosave->saveNow());
    QVERIFY(QFile::exists(file));

    if (how == QLatin1String("save")) {
        QVERIFY(view->saveMesh(dir.filePath(QStringLiteral("kept.stl"))));
    } else if (how == QLatin1String("undo")) {
        view->undo();
    } else if (how == QLatin1String("open")) {
        saveAnswer = SaveAnswer::Discard;
        QVERIFY(window->getDocument()->maybeSave());
        QVERIFY(view->openFile(sphere(QStringLiteral("second.stl"), 2)));
    } else {
        saveAnswer = how == QLatin1String("exit") ? SaveAnswer::Discard : SaveAnswer::Save;
        saveName = dir.filePath(QStringLiteral("atexit.stl"));
        QVERIFY(window->close());
    }
    QVERIFY(!QFile::exists(file));
    QVERIFY(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

void TestReliability::cancelledExitKeepsCopy()
{
    Autosave *autosave = window->getAutosave();
    QVERIFY(view->openFile(sphere(QStringLiteral("ball.stl"))));
    stroke();
    QVERIFY(autosave->saveNow());
    saveAnswer = SaveAnswer::Cancel;
    QVERIFY(!window->close());
    QVERIFY(QFile::exists(autosave->filePath()));
    // A process that dies leaves its copy: destroying the window is not a clean exit.
    const QString file = autosave->filePath();
    window.reset();
    QVERIFY(QFile::exists(file));
    QFile::remove(file);
    showTestWindow(window, view);
}

void TestReliability::recoveryOffer_data()
{
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("original");
    QTest::addColumn<QString>("title");
    QTest::newRow("accepted") << true << "/work/models/bust.stl"
                              << "bust.stl* - Argilium";
    QTest::newRow("accepted, origin unknown") << true << ""
                                              << "untitled* - Argilium";
    QTest::newRow("declined") << false << "/work/models/bust.stl"
                              << "Argilium";
}

void TestReliability::recoveryOffer()
{
    QFETCH(bool, accept);
    QFETCH(QString, original);
    QFETCH(QString, title);

    // No copy: nothing asks.
    QVERIFY(!Autosave::offerRecovery(view, window->getDocument(), window->getAutosave()));
    QVERIFY(asked.isEmpty());

    // A process number no running process has, and one whose lock file names a dead process.
    const QString older = leaveOrphan(999999990, QString());
    {
        QFile touch(older);
        QVERIFY(touch.open(QIODevice::Append));
        QVERIFY(touch.setFileTime(
            QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    }
    const QString newest = leaveOrphan(999999991, original);
    const QDateTime when = QFileInfo(newest).lastModified();
    QCOMPARE(Autosave::orphans(), (QStringList {newest, older}));

    recoverAnswer = accept;
    const bool recovered =
        Autosave::offerRecovery(view, window->getDocument(), window->getAutosave());
    QCOMPARE(recovered, accept);
    QVERIFY(asked.size() >= 1);
    QCOMPARE(asked.first(), Prompts::recoverText(when));
    QVERIFY(asked.first().startsWith(QStringLiteral("Recover unsaved work from ")));
    QVERIFY(!QFile::exists(newest));
    QCOMPARE(window->windowTitle(), title);
    if (accept) {
        // The work is open, unsaved, and has a copy of this process's own; the older copy
        // stays for a later start.
        QCOMPARE(asked.size(), 1);
        QVERIFY(view->getMesh());
        QCOMPARE(view->getMesh()->getNbTriangles(), 320);
        QVERIFY(window->getDocument()->isModified());
        QCOMPARE(window->getDocument()->path(), original);
        QVERIFY(QFile::exists(window->getAutosave()->filePath()));
        QVERIFY(QFile::exists(older));
        QCOMPARE(Autosave::orphans(), QStringList {older});
        // Closing asks about the recovered work.
        saveAnswer = SaveAnswer::Cancel;
        QVERIFY(!window->close());
        QCOMPARE(asked.last(),
            QStringLiteral("Save changes to %1?").arg(window->getDocument()->displayName()));
    } else {
        // Both were offered and both declined: both are gone.
        QCOMPARE(asked.size(), 2);
        QVERIFY(!view->getMesh());
        QVERIFY(!QFile::exists(older));
        QVERIFY(Autosave::orphans().isEmpty());
    }
}

void TestReliability::liveCopyNotOffered()
{
    // A copy whose lock a running process holds belongs to that process.
    const QString file = leaveOrphan(999999992, QString());
    QLockFile held(QDir(folder).filePath(QStringLiteral("recovery-999999992.lock")));
    QVERIFY(held.tryLock(0));
    QVERIFY(Autosave::orphans().isEmpty());
    recoverAnswer = true;
    QVERIFY(!Autosave::offerRecovery(view, window->getDocument(), window->getAutosave()));
    QVERIFY(asked.isEmpty());
    QVERIFY(QFile::exists(file));
    held.unlock();
    QCOMPARE(Autosave::orphans(), QStringList {file});
}

void TestReliability::unreadableCopySetAside()
{
    const QString file = leaveOrphan(999999993, QString(), QByteArray(40, 'x'));
    recoverAnswer = true;
    QVERIFY(!Autosave::offerRecovery(view, window->getDocument(), window->getAutosave()));
    QCOMPARE(asked.size(), 1);
    QVERIFY(!view->getMesh());
    QVERIFY(!QFile::exists(file));
    QVERIFY(QFile::exists(file.chopped(4) + QStringLiteral(".unreadable")));
    QVERIFY(Autosave::orphans().isEmpty());
    for (QMessageBox *box : window->findChildren<QMessageBox *>())
        box->close();
}

QTEST_MAIN(TestReliability)
#include "tst_reliability.moc"
