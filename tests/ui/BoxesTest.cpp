// The message box and its "View Log", the wait box, and the two prompts: every
// answer, Enter and Escape, and questions asked from a worker thread that the
// UI thread answers while the worker waits.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <future>
#include <thread>

#include "TestSupport.h"
#include "UiTestSupport.h"
#include "app/Log.h"
#include "app/Session.h"
#include "disk/CBadSectors.h"
#include "preview/PreviewCopy.h"
#include "saving/CReplaceDlg.h"
#include "ui/CMessageDlg.h"
#include "ui/CWaitDlg.h"
#include "ui/QtPrompter.h"
#include "ui/Shell.h"

using namespace kestrum;
using namespace kestrum::ui;
using test::whenShown;

class BoxesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(writeInstallRegistry(app_.path(), logs_.path()));
        session().dataFolder.store(app_.path());
        setPrompter(&prompter_);
        setUrlOpener([this](const QUrl& url) {
            opened_.append(url);
            return true;
        });
    }
    void cleanupTestCase() {
        setPrompter(nullptr);
        setUrlOpener({});
    }
    void init() { opened_.clear(); }

    // --- message box ------------------------------------------------------

    void messageBoxShowsTheMessageAndHasNoCloseBox() {
        CMessageDlg box;
        box.setMessage("File Saved Successfully.");
        QString shown;
        auto done = whenShown<CMessageDlg>([&](CMessageDlg* b) {
            shown = b->findChild<QLabel*>("messageText")->text();
            QTest::mouseClick(b->findChild<QPushButton*>("okButton"), Qt::LeftButton);
        });
        QCOMPARE(box.exec(), int(QDialog::Accepted));
        QVERIFY(*done);
        QCOMPARE(shown, QString("File Saved Successfully."));
        QVERIFY(!(box.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(opened_.isEmpty());  // "View Log" unchecked: only closes
    }

    void messageBoxShowsTheLongestMessagesWhole() {
        for (const QString message :
             {QString("File Saving Completed with Errors. 2147483647 file(s) could not be saved."),
              QString("File Saving Aborted. 2147483647 file(s) could not be saved.")}) {
            CMessageDlg box;
            box.setMessage(message);
            QRect room, needed;
            auto done = whenShown<CMessageDlg>([&](CMessageDlg* b) {
                auto* label = b->findChild<QLabel*>("messageText");
                room = label->contentsRect();
                const int wrap = label->wordWrap() ? int(Qt::TextWordWrap) : 0;
                needed = label->fontMetrics().boundingRect(room, int(label->alignment()) | wrap,
                                                           label->text());
                b->accept();
            });
            box.exec();
            QVERIFY(*done);
            QVERIFY2(room.contains(needed), qPrintable(message));
        }
    }

    void okWithViewLogOpensTheRecoveryLog() {
        test::writeFile(logs_.file("Recovery Log.txt"), "\r\nSaving Report :");
        runMessageBox(/*check*/ true, Qt::Key_Return);
        QCOMPARE(opened_.size(), 1);
        QCOMPARE(opened_.first().toLocalFile(),
                 QString::fromStdString(logs_.file("Recovery Log.txt")));
        std::remove(logs_.file("Recovery Log.txt").c_str());
    }

    void viewLogOfAMissingLogSaysSo() {
        QString said;
        auto answered = whenShown<QMessageBox>([&](QMessageBox* m) {
            said = m->text();
            m->button(QMessageBox::Ok)->click();
        });
        runMessageBox(true, Qt::Key_Return);
        QVERIFY(*answered);
        QCOMPARE(said, QString("Recovery Log file not found"));
        QVERIFY(opened_.isEmpty());
    }

    void escapeClosesWithoutLookingAtViewLog() {
        test::writeFile(logs_.file("Recovery Log.txt"), "\r\nx");
        QCOMPARE(runMessageBox(true, Qt::Key_Escape), int(QDialog::Rejected));
        QVERIFY(opened_.isEmpty());
        std::remove(logs_.file("Recovery Log.txt").c_str());
    }

    // --- wait box ---------------------------------------------------------

    void waitBoxWithNoWorkerClosesAtTheFirstTick() {
        CWaitDlg wait;
        QElapsedTimer clock;
        clock.start();
        wait.exec();
        QCOMPARE(wait.ticks(), 1);
        QVERIFY(clock.elapsed() >= CWaitDlg::kTickMilliseconds);
    }

    void waitBoxStaysWhileEitherWorkerRuns() {
        for (WorkerSlot* worker : {&previewThread(), &listFillThread()}) {
            std::promise<void> release;
            std::shared_future<void> released = release.get_future().share();
            QVERIFY(worker->start([released] { released.wait(); }));
            CWaitDlg wait;
            bool visibleWhileRunning = false;
            // On the second tick the worker still runs: Escape must not close the
            // box either. Then the worker ends and the box closes on its own.
            auto done = whenShown<CWaitDlg>([&](CWaitDlg* w) {
                QTRY_VERIFY(w->ticks() >= 2);
                QTest::keyClick(w, Qt::Key_Escape);
                visibleWhileRunning = w->isVisible();
                release.set_value();
            });
            wait.exec();
            QVERIFY(*done);
            QVERIFY(visibleWhileRunning);
            QVERIFY(wait.ticks() >= 3);
            QVERIFY(!worker->running());
        }
    }

    // --- bad-sector prompt ------------------------------------------------

    // A preview copy that meets a bad sector asks while the page waits for it:
    // the wait holds back input to the page, never to the prompt.
    void promptRaisedDuringAWaitTakesClicksAndKeys() {
        for (const bool byKey : {false, true}) {
            auto answered = whenShown<CBadSectors>([byKey](CBadSectors* b) {
                if (byKey)
                    QTest::keyClick(b, Qt::Key_Escape);
                else
                    QTest::mouseClick(b->findChild<QPushButton*>("skipAllButton"), Qt::LeftButton);
            });
            BadSectorAnswer answer = BadSectorAnswer::Retry;
            QVERIFY(previewThread().start([&] { answer = prompter().askBadSector(); }));
            // Should the prompt not take input, it is hidden from code (closing is
            // input the wait holds back) so that the test fails instead of hanging.
            bool stuck = false;
            QTimer rescue;
            rescue.setSingleShot(true);
            connect(&rescue, &QTimer::timeout, [&stuck] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* b = qobject_cast<CBadSectors*>(w); b && b->isVisible()) {
                        stuck = true;
                        b->hide();
                    }
            });
            rescue.start(5000);
            CWaitDlg wait;
            wait.waitTakingInput([](QObject*, QEvent*) { return false; });
            QVERIFY(*answered);
            QVERIFY(!stuck);
            QVERIFY(!previewThread().running());
            QCOMPARE(answer, byKey ? BadSectorAnswer::Skip : BadSectorAnswer::SkipAll);
        }
    }

    void badSectorButtonsRecordTheirAnswers() {
        const std::pair<const char*, BadSectorAnswer> buttons[] = {
            {"skipButton", BadSectorAnswer::Skip},
            {"retryAllButton", BadSectorAnswer::RetryAll},
            {"skipAllButton", BadSectorAnswer::SkipAll},
            {"retryButton", BadSectorAnswer::Retry},
        };
        for (const auto& [name, expected] : buttons) {
            session().badSectorAnswer.store(expected == BadSectorAnswer::Retry
                                                ? BadSectorAnswer::SkipAll
                                                : BadSectorAnswer::Retry);
            CBadSectors box;
            whenShown<CBadSectors>([name = name](CBadSectors* b) {
                QTest::mouseClick(b->findChild<QPushButton*>(name), Qt::LeftButton);
            });
            QCOMPARE(box.exec(), int(QDialog::Accepted));
            QCOMPARE(box.answer(), expected);
            QCOMPARE(session().badSectorAnswer.load(), expected);
        }
    }

    void badSectorEnterRetriesAndEscapeSkips() {
        QCOMPARE(answerBadSector([](CBadSectors* b) { QTest::keyClick(b, Qt::Key_Return); }),
                 BadSectorAnswer::Retry);
        QCOMPARE(answerBadSector([](CBadSectors* b) { QTest::keyClick(b, Qt::Key_Escape); }),
                 BadSectorAnswer::Skip);
        QCOMPARE(answerBadSector([](CBadSectors* b) { b->close(); }), BadSectorAnswer::Skip);
    }

    void badSectorBoxShowsTheQuestion() {
        CBadSectors box;
        const QString text = box.findChild<QLabel*>("badSectorText")->text();
        QCOMPARE(text.trimmed(), QString("Encountered Bad Sector(s) while reading disk."));
        QVERIFY(text.startsWith(QString(20, ' ') + "E"));
        QVERIFY(text.endsWith("." + QString(67, ' ')));
        QCOMPARE(box.windowTitle(), QString("Kestrum for Digital Media"));
    }

    // --- replace prompt ---------------------------------------------------

    void replaceTextNamesTheFile() {
        CReplaceDlg box;
        box.setFileName("File3.PNG");
        QCOMPARE(box.findChild<QLabel*>("fileText")->text(),
                 QString("\"File3.PNG\" this file is already exist."));
        QCOMPARE(box.findChild<QLabel*>("questionText")->text(),
                 QString("Would you like to replace the existing file ?"));
        QVERIFY(!(box.windowFlags() & Qt::WindowCloseButtonHint));
    }

    void replaceButtonsReturnTheirCodes() {
        const std::pair<const char*, int> buttons[] = {{"yesButton", 1001},
                                                       {"yesToAllButton", 1002},
                                                       {"noButton", 1003},
                                                       {"noToAllButton", 1004}};
        for (const auto& [name, code] : buttons) {
            CReplaceDlg box;
            box.setFileName("File1.JPEG");
            whenShown<CReplaceDlg>([name = name](CReplaceDlg* b) {
                QTest::mouseClick(b->findChild<QPushButton*>(name), Qt::LeftButton);
            });
            QCOMPARE(box.exec(), code);
            QCOMPARE(int(box.answer()), code);
        }
    }

    void replaceEnterAndEscapeKeepTheFile() {
        for (const auto& [key, code] : {std::pair{Qt::Key_Return, ReplaceAnswer::No},
                                        std::pair{Qt::Key_Escape, ReplaceAnswer::Cancel}}) {
            CReplaceDlg box;
            whenShown<CReplaceDlg>([key = key](CReplaceDlg* b) { QTest::keyClick(b, key); });
            box.exec();
            QCOMPARE(box.answer(), code);
        }
    }

    // --- questions from a worker thread -------------------------------------

    void badSectorAskedByAWorkerIsAnsweredOnTheUiThread() {
        std::atomic<bool> shownOnUiThread{false};
        auto answered = whenShown<CBadSectors>([&](CBadSectors* b) {
            shownOnUiThread =
                QThread::currentThread() == qApp->thread() && b->thread() == qApp->thread();
            QTest::keyClick(b->findChild<QPushButton*>("retryAllButton"), Qt::Key_Space);
        });
        std::atomic<bool> finished{false};
        BadSectorAnswer answer = BadSectorAnswer::Skip;
        std::thread worker([&] {
            answer = prompter().askBadSector();
            finished = true;
        });
        QTRY_VERIFY(finished);
        worker.join();
        QVERIFY(*answered);
        QVERIFY(shownOnUiThread);
        QCOMPARE(answer, BadSectorAnswer::RetryAll);
        QCOMPARE(session().badSectorAnswer.load(), BadSectorAnswer::RetryAll);
    }

    void workerWaitsUntilTheUserAnswers() {
        // The worker must still be blocked while the box is up.
        std::atomic<bool> finished{false};
        bool blockedWhileShown = false;
        whenShown<CBadSectors>([&](CBadSectors* b) {
            blockedWhileShown = !finished;
            QTest::keyClick(b, Qt::Key_Escape);
        });
        BadSectorAnswer answer = BadSectorAnswer::Retry;
        std::thread worker([&] {
            answer = prompter().askBadSector();
            finished = true;
        });
        QTRY_VERIFY(finished);
        worker.join();
        QVERIFY(blockedWhileShown);
        QCOMPARE(answer, BadSectorAnswer::Skip);
    }

    void replaceAskedByAWorkerIsAnsweredOnTheUiThread() {
        QString shownText;
        whenShown<CReplaceDlg>([&](CReplaceDlg* b) {
            shownText = b->findChild<QLabel*>("fileText")->text();
            QTest::mouseClick(b->findChild<QPushButton*>("noToAllButton"), Qt::LeftButton);
        });
        std::atomic<bool> finished{false};
        ReplaceAnswer answer = ReplaceAnswer::Yes;
        std::thread worker([&] {
            answer = prompter().askReplace("File12.JPEG");
            finished = true;
        });
        QTRY_VERIFY(finished);
        worker.join();
        QCOMPARE(answer, ReplaceAnswer::NoToAll);
        QCOMPARE(shownText, QString("\"File12.JPEG\" this file is already exist."));
    }

    void messagesAndConfirmationsFromAWorker() {
        struct Seen {
            QString caption, text;
            QMessageBox::Icon icon = QMessageBox::NoIcon;
        };
        Seen message, confirmation;
        auto record = [](QMessageBox* m, Seen& seen) {
            seen = {m->windowTitle(), m->text(), m->icon()};
        };
        // The confirmation follows at once: be ready for it before answering.
        whenShown<QMessageBox>([&](QMessageBox* m) {
            record(m, message);
            whenShown<QMessageBox>([&](QMessageBox* c) {
                record(c, confirmation);
                c->button(QMessageBox::Cancel)->click();
            });
            m->button(QMessageBox::Ok)->click();
        });
        std::atomic<int> confirmed{-1};
        std::thread worker([&] {
            prompter().showMessage("Process is running.", MessageIcon::Exclamation);
            confirmed = prompter().confirm("Are you sure you want to stop this process?");
        });
        QTRY_VERIFY(confirmed != -1);
        worker.join();
        QCOMPARE(message.text, QString("Process is running."));
        QCOMPARE(message.caption, QString("Kestrum for Digital Media"));
        QCOMPARE(message.icon, QMessageBox::Warning);
        QCOMPARE(confirmation.text, QString("Are you sure you want to stop this process?"));
        QCOMPARE(confirmation.icon, QMessageBox::Question);
        QCOMPARE(confirmed.load(), 0);
    }

private:
    int runMessageBox(bool check, Qt::Key key) {
        CMessageDlg box;
        box.setMessage("File Saving Aborted.");
        whenShown<CMessageDlg>([check, key](CMessageDlg* b) {
            b->findChild<QCheckBox*>("viewLogCheck")->setChecked(check);
            QTest::keyClick(b, key);
        });
        return box.exec();
    }

    BadSectorAnswer answerBadSector(std::function<void(CBadSectors*)> act) {
        CBadSectors box;
        whenShown<CBadSectors>(act);
        box.exec();
        return box.answer();
    }

    test::ScopedRegistry registry_;
    test::TempDir app_, logs_;
    QtPrompter prompter_;
    QList<QUrl> opened_;
};

QTEST_MAIN(BoxesTest)
#include "BoxesTest.moc"
