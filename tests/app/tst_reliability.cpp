// What protects the user's work: the unsaved-changes mark and the questions before Open, Exit,
// closing and dropping a file; the recovery copy written while work is unsaved, removed when it
// is not needed, and offered again after a crash.

#include "TestIo.h"
#include "WindowSetup.h"
#include "app/Autosave.h"
#include "app/Document.h"
#include "app/Prompts.h"
#include "io/Files.h"
#include "render/SurfaceFormat.h"

#include <QLockFile>
#include <QMenuBar>
#include <QMimeData>
#include <QStandardPaths>
#include <QTemporaryDir>

using Prompts::SaveAnswer;
Q_DECLARE_METATYPE(Prompts::SaveAnswer)

class TestReliability : public QObject
{
    Q_OBJECT

public:
    static void initMain() { setDefaultSurfaceFormat(0); }

private slots:
    void initTestCase()
    {
        QGuiApplication::setQuitOnLastWindowClosed(false);
        QStandardPaths::setTestModeEnabled(true);
        folder = dir.filePath(QStringLiteral("recovery"));
        Autosave::setFolder(folder);
        Prompts::setSaveChangesQuestion(
            [this](QWidget *, const QString &text) { return asked << text, saveAnswer; });
        Prompts::setRecoveryQuestion(
            [this](QWidget *, const QString &text) { return asked << text, recoverAnswer; });
        Prompts::setSaveFileNameQuestion([this](QWidget *) { return saveName; });
        Prompts::setOpenFileNameQuestion([this](QWidget *) { return openName; });
    }
    void init()
    {
        QDir(folder).removeRecursively();
        asked.clear();
        saveAnswer = SaveAnswer::Cancel;
        showTestWindow(window, view);
    }
    void cleanup()
    {
        saveAnswer = SaveAnswer::Discard; // leave without questions
        window.reset();
    }
    // The title names the work and marks it while unsaved; undo back to the saved content clears
    // the mark, a new stroke after undoing past it never finds it again; a press that changes
    // nothing leaves it clean.
    void titleMark()
    {
        Document *document = window->getDocument();
        QVERIFY(view->openFile(sphere("ball.stl")));
        QCOMPARE(window->windowTitle(), QStringLiteral("ball.stl - Argilium"));
        QTest::mouseClick(view, Qt::RightButton, {}, QPoint(view->width() / 2, view->height() / 2));
        QVERIFY(!document->isModified());
        stroke();
        QCOMPARE(window->windowTitle(), QStringLiteral("ball.stl* - Argilium"));
        stroke(QPoint(-50, 40));
        QVERIFY(
            view->saveMesh(dir.filePath("copy.stl"))); // saved under another name: named after it
        QCOMPARE(window->windowTitle(), QStringLiteral("copy.stl - Argilium"));
        stroke(QPoint(40, -60));
        const QList<bool> walk = {
            false, true, true, true, false, true}; // undo, undo, undo, redo, redo
        for (int i = 0; i < walk.size(); ++i) {
            i < 3 || i == 5 ? view->undo() : view->redo();
            QCOMPARE(document->isModified(), walk[i]);
        }
        stroke(QPoint(-60, -20));
        view->redo();
        QVERIFY(document->isModified());
        QVERIFY(!view->openFile(dir.filePath("missing.stl"))); // a failed open keeps name and mark
        QCOMPARE(window->windowTitle(), QStringLiteral("copy.stl* - Argilium"));
    }
    void guardedCommands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("modified");
        QTest::addColumn<SaveAnswer>("answer");
        QTest::addColumn<QString>(
            "saveTo"); // for the save dialog: "ok" writable, "" cancelled, "bad"
        QTest::addColumn<bool>("proceeds");
        QTest::newRow("open cancel") << "open" << true << SaveAnswer::Cancel << "" << false;
        QTest::newRow("open save") << "open" << true << SaveAnswer::Save << "ok" << true;
        QTest::newRow("exit discard") << "exit" << true << SaveAnswer::Discard << "" << true;
        QTest::newRow("exit save dialog cancelled")
            << "exit" << true << SaveAnswer::Save << "" << false;
        QTest::newRow("close clean") << "close" << false << SaveAnswer::Cancel << "" << true;
        QTest::newRow("close save fails") << "close" << true << SaveAnswer::Save << "bad" << false;
        QTest::newRow("drop save") << "drop" << true << SaveAnswer::Save << "ok" << true;
    }
    void guardedCommands()
    {
        QFETCH(QString, command);
        QFETCH(bool, modified);
        QFETCH(SaveAnswer, answer);
        QFETCH(QString, saveTo);
        QFETCH(bool, proceeds);
        QVERIFY(view->openFile(sphere("first.stl")));
        if (modified)
            stroke();
        Mesh *const before = view->getMesh();
        const int triangles = before->getNbTriangles();
        const QString other = sphere("second.stl", 2);
        const QString written =
            dir.filePath(QStringLiteral("saved-%1.stl").arg(QTest::currentDataTag()));
        saveAnswer = answer;
        saveName = saveTo == "ok" ? written
            : saveTo == "bad"     ? dir.filePath("no/such/folder/x.stl")
                                  : QString();
        openName = other;
        if (command == "open") {
            for (QAction *a : window->menuBar()->findChildren<QAction *>())
                if (a->text() == "&Open")
                    a->trigger();
        } else if (command == "exit") {
            window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window.get()));
            QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
        } else if (command == "close") {
            window->close();
        } else {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(other)});
            QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
            QCoreApplication::sendEvent(window.get(), &enter);
            QDropEvent drop(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, {});
            QCoreApplication::sendEvent(window.get(), &drop);
        }
        QCOMPARE(asked, modified ? QStringList {"Save changes to first.stl?"} : QStringList());
        if (command == "exit" || command == "close")
            QCOMPARE(window->isVisible(), !proceeds);
        else if (proceeds)
            QCOMPARE(window->windowTitle(), QStringLiteral("second.stl - Argilium"));
        if (!proceeds) // the work stays as it was, still marked
            QVERIFY(view->getMesh() == before && window->getDocument()->isModified()
                && window->isVisible());
        QCOMPARE(QFile::exists(written), saveTo == "ok"); // "Save" wrote the work before going on
        if (saveTo == "ok")
            QCOMPARE(Files::load(written)->getNbTriangles(), triangles);
    }
    void autosave_data()
    {
        QTest::addColumn<QString>("how"); // what ends the need for the copy
        QTest::newRow("save") << "save";
        QTest::newRow("undo back to the saved content") << "undo";
        QTest::newRow("another file opened") << "open";
        QTest::newRow("exit saving") << "exit save";
        QTest::newRow("cancelled exit, then the process dies") << "crash";
    }
    // The copy is written only while there is unsaved work, again after each change, with the
    // original's path beside it; it is never offered while its process runs, and goes as soon as it
    // is not needed; a process that dies leaves it.
    void autosave()
    {
        QFETCH(QString, how);
        Autosave *autosave = window->getAutosave();
        const QString file = autosave->filePath();
        QVERIFY(!autosave->saveNow()); // no mesh
        const QString original = sphere("ball.stl");
        QVERIFY(view->openFile(original));
        QVERIFY(!autosave->saveNow()); // nothing unsaved
        stroke();
        QSignalSpy written(autosave, &Autosave::written);
        QVERIFY(autosave->saveNow());
        QVERIFY(!autosave->saveNow()); // nothing new
        QCOMPARE(written.count(), 1);
        view->setTopoMode(1);
        stroke(QPoint(-70, 10));
        QVERIFY(autosave->saveNow());
        QCOMPARE(Files::load(file)->getNbTriangles(), view->getMesh()->getNbTriangles());
        QCOMPARE(TestIo::readFile(file.chopped(4) + ".path"), original.toUtf8());
        QVERIFY(Autosave::orphans().isEmpty());
        if (how == "save") {
            QVERIFY(view->saveMesh(dir.filePath("kept.stl")));
        } else if (how == "undo") {
            view->undo();
            view->undo();
        } else if (how == "open") {
            saveAnswer = SaveAnswer::Discard;
            QVERIFY(window->getDocument()->maybeSave());
            QVERIFY(view->openFile(sphere("second.stl", 2)));
        } else if (how == "exit save") {
            saveAnswer = SaveAnswer::Save;
            saveName = dir.filePath("atexit.stl");
            QVERIFY(window->close());
        } else {
            QVERIFY(!window->close());
            window.reset(); // destroying the window is not a clean exit
            QVERIFY(QFile::exists(file));
            return;
        }
        QVERIFY(!QFile::exists(file));
        QVERIFY(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
    void recoveryOffer_data()
    {
        QTest::addColumn<int>("copy"); // 0 good, 1 unreadable, 2 locked by a running process
        QTest::addColumn<bool>("accept");
        QTest::addColumn<QString>("original");
        QTest::newRow("accepted") << 0 << true << "/work/models/bust.stl";
        QTest::newRow("accepted, origin unknown") << 0 << true << "";
        QTest::newRow("declined") << 0 << false << "/work/models/bust.stl";
        QTest::newRow("unreadable: set aside") << 1 << true << "";
        QTest::newRow("live copy: not offered") << 2 << true << "";
    }
    // After a crash the newest copy of a dead process is offered first, then the older ones. A
    // recovered work is open, unsaved and named after its original.
    void recoveryOffer()
    {
        QFETCH(int, copy);
        QFETCH(bool, accept);
        QFETCH(QString, original);
        QVERIFY(!Autosave::offerRecovery(
            view, window->getDocument(), window->getAutosave())); // no copy
        QVERIFY(asked.isEmpty());
        const QString older = copy ? QString() : leaveOrphan(999999990, QString());
        if (!older.isEmpty()) {
            QFile touch(older);
            QVERIFY(touch.open(QIODevice::Append));
            QVERIFY(touch.setFileTime(
                QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        }
        const QString newest =
            leaveOrphan(999999991, original, copy == 1 ? QByteArray(40, 'x') : QByteArray());
        QLockFile held(QDir(folder).filePath("recovery-999999991.lock"));
        QVERIFY(copy != 2 || held.tryLock(0));
        const QDateTime when = QFileInfo(newest).lastModified();
        recoverAnswer = accept;
        QCOMPARE(Autosave::offerRecovery(view, window->getDocument(), window->getAutosave()),
            accept && copy == 0);
        const QString name = original.isEmpty() ? "untitled" : QFileInfo(original).fileName();
        QCOMPARE(window->windowTitle(), accept && copy == 0 ? name + "* - Argilium" : "Argilium");
        if (copy == 2) {
            QVERIFY(asked.isEmpty() && QFile::exists(newest));
            held.unlock();
            QCOMPARE(Autosave::orphans(), QStringList {newest});
            return;
        }
        QCOMPARE(asked.first(), Prompts::recoverText(when));
        QVERIFY(!QFile::exists(newest));
        if (copy == 1) {
            QVERIFY(QFile::exists(newest.chopped(4) + ".unreadable"));
            QVERIFY(!view->getMesh() && Autosave::orphans().isEmpty());
        } else if (accept) {
            // The work has a copy of this process's own; the older copy stays for a later start.
            QCOMPARE(asked.size(), 1);
            QCOMPARE(view->getMesh()->getNbTriangles(), 320);
            QVERIFY(window->getDocument()->isModified());
            QCOMPARE(window->getDocument()->path(), original);
            QVERIFY(QFile::exists(window->getAutosave()->filePath()));
            QCOMPARE(Autosave::orphans(), QStringList {older});
            QVERIFY(!window->close()); // closing asks about the recovered work
            QCOMPARE(asked.last(),
                QStringLiteral("Save changes to %1?").arg(window->getDocument()->displayName()));
        } else {
            // Both offered, both declined: both gone.
            QCOMPARE(asked.size(), 2);
            QVERIFY(!view->getMesh() && !QFile::exists(older) && Autosave::orphans().isEmpty());
        }
    }

private:
    QString sphere(const QString &name, int level = 3)
    {
        return TestIo::icosphereFile(dir.filePath(name), level);
    }
    void stroke(QPoint offset = QPoint(60, 30))
    {
        dragInView(
            view, Qt::RightButton, view->rect().center(), view->rect().center() + offset, 12);
    }
    // A recovery file as a process with the given number would have left it.
    QString leaveOrphan(qint64 pid, const QString &original, const QByteArray &bytes = {})
    {
        QDir().mkpath(folder);
        const QString base = QDir(folder).filePath(QStringLiteral("recovery-%1").arg(pid));
        TestIo::writeFile(
            base + ".stl", bytes.isEmpty() ? TestIo::readFile(sphere("r.stl", 2)) : bytes);
        TestIo::writeFile(base + ".path", original.toUtf8());
        return base + ".stl";
    }

    QTemporaryDir dir;
    QString folder;
    std::unique_ptr<Window> window;
    Widget3D *view = nullptr;
    QStringList asked;
    SaveAnswer saveAnswer = SaveAnswer::Cancel;
    bool recoverAnswer = false;
    QString saveName, openName;
};

QTEST_MAIN(TestReliability)
#include "tst_reliability.moc"
