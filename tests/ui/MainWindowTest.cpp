// The main window and the shared commands: exit confirmation from every way in,
// the page-chaining rule, the start-of-run heading, the Log menu, the About box
// with the owner the install step registered, and the order of the help attempts.
#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

#include "TestSupport.h"
#include "UiTestSupport.h"
#include "app/CAboutDlg.h"
#include "app/COrvDigitalMediaDlg.h"
#include "app/Log.h"
#include "app/Session.h"
#include "platform/Folders.h"
#include "platform/Registry.h"
#include "preview/PreviewCopy.h"
#include "ui/CButtonST.h"
#include "ui/QtPrompter.h"
#include "ui/Shell.h"

using namespace kestrum;
using namespace kestrum::ui;
using test::whenShown;

namespace {

const char kHeading[] = "-----------------------Start--------------------------";

std::string readText(const std::string& path) {
    const std::vector<uint8_t> bytes = test::readFile(path);
    return {bytes.begin(), bytes.end()};
}

int occurrences(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        session().dataFolder.store(app_.path());
        COrvDigitalMediaDlg::setSplashEnabled(false);
        setPrompter(&prompter_);
        setProcessEnd([this](int code) { endedWith_.append(code); });
        setUrlOpener([this](const QUrl& url) {
            opened_.append(url);
            return true;
        });
        setProgramStarter([this](const QString& program, const QStringList& arguments) {
            started_.append(program + " " + arguments.join(' '));
            return true;
        });
    }
    void cleanupTestCase() {
        setPrompter(nullptr);
        setProcessEnd({});
        setUrlOpener({});
        setProgramStarter({});
    }
    void init() {
        QVERIFY(writeInstallRegistry(app_.path(), logs_.path()));
        loadStartupValues(session());
        session().dataFolder.store(app_.path());
        endedWith_.clear();
        opened_.clear();
        started_.clear();
        COrvDigitalMediaDlg::setSourcePageFactory({});
    }

    // --- exit ---------------------------------------------------------------

    void escapeAsksAndCancelKeepsRunning() {
        COrvDigitalMediaDlg main;
        main.initDialog();
        main.show();
        QString asked, caption;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        auto answered = whenShown<QMessageBox>([&](QMessageBox* box) {
            asked = box->text();
            caption = box->windowTitle();
            icon = box->icon();
            box->button(QMessageBox::Cancel)->click();
        });
        QTest::keyClick(&main, Qt::Key_Escape);
        QVERIFY(*answered);
        QCOMPARE(asked, QString("Are you sure you want to exit?"));
        QCOMPARE(caption, QString("Kestrum for Digital Media"));
        QCOMPARE(icon, QMessageBox::Question);
        QVERIFY(endedWith_.isEmpty());
        QVERIFY(main.isVisible());
    }

    void everyExitConfirmsAndOkEndsTheProcess_data() {
        QTest::addColumn<QString>("way");
        QTest::newRow("Escape") << "escape";
        QTest::newRow("toolbar Exit (7)") << "exitButton";
        QTest::newRow("menu Exit") << "exitAction";
        QTest::newRow("Cancel (2)") << "cancelButton";
        QTest::newRow("close box") << "close";
    }
    void everyExitConfirmsAndOkEndsTheProcess() {
        QFETCH(QString, way);
        // A preview file left by the results page goes at exit.
        const std::string preview = tempPreviewPath("JPEG");
        test::writeFile(preview, "x");
        COrvDigitalMediaDlg main;
        main.initDialog();
        main.show();
        auto answered =
            whenShown<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); });
        if (way == "escape")
            QTest::keyClick(&main, Qt::Key_Escape);
        else if (way == "close")
            main.close();
        else if (auto* action = main.findChild<QAction*>(way))
            action->trigger();
        else
            main.findChild<QAbstractButton*>(way)->click();
        QVERIFY(*answered);
        QCOMPARE(endedWith_, QList<int>{0});
        QVERIFY(!platform::fileExists(preview));
    }

    void enterDoesNotEndTheProgram() {
        COrvDigitalMediaDlg main;
        main.initDialog();
        main.show();
        QTest::keyClick(&main, Qt::Key_Return);
        QVERIFY(main.isVisible());
        QVERIFY(endedWith_.isEmpty());
    }

    // --- page chaining ------------------------------------------------------

    void workflowButtonsRunTheSourcePageByTheChainingRule_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("mode");
        QTest::newRow("Digital Media (4)") << "digitalMediaButton" << 1;
        QTest::newRow("Image Creation (3)") << "imageCreationButton" << 0;
    }
    void workflowButtonsRunTheSourcePageByTheChainingRule() {
        QFETCH(QString, button);
        QFETCH(int, mode);
        int askedMode = -1;
        bool openerHiddenDuringPage = false;
        COrvDigitalMediaDlg::setSourcePageFactory([&](int m, QWidget* opener) {
            askedMode = m;
            auto page = std::make_unique<QDialog>(opener);
            // The page changes the opener's title, then closes with Back (cancel).
            QTimer::singleShot(0, page.get(), [&, opener, p = page.get()] {
                openerHiddenDuringPage = !opener->isVisible();
                opener->setWindowTitle("changed by the page");
                p->reject();
            });
            return page;
        });
        COrvDigitalMediaDlg main;
        bool shownAgain = false;
        QString titleAfter;
        // Run the main window as the application does; a page returning must
        // not end the main window's own modal run.
        QTimer::singleShot(0, &main, [&] {
            main.findChild<QAbstractButton*>(button)->click();
            shownAgain = main.isVisible();
            titleAfter = main.windowTitle();
            QTimer::singleShot(0, &main, [&] { main.done(42); });
        });
        QCOMPARE(main.exec(), 42);
        QCOMPARE(askedMode, mode);
        QVERIFY(openerHiddenDuringPage);
        QVERIFY(shownAgain);
        QCOMPARE(titleAfter, QString("Kestrum for Digital Media"));
    }

    void workflowButtonsOpenNothingUntilTheSourcePageExists() {
        COrvDigitalMediaDlg main;
        main.initDialog();
        main.show();
        const int windows = QApplication::topLevelWidgets().size();
        main.findChild<QAbstractButton*>("digitalMediaButton")->click();
        main.findChild<QAbstractButton*>("imageCreationButton")->click();
        QVERIFY(main.isVisible());
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);
    }

    // --- start-up -----------------------------------------------------------

    void headingIsWrittenOncePerStart() {
        const std::string log = logs_.file("Activity Log.txt");
        std::remove(log.c_str());
        COrvDigitalMediaDlg main;
        main.initDialog();
        main.initDialog();
        main.show();
        main.hide();
        main.show();
        const std::string text = readText(log);
        QCOMPARE(occurrences(text, kHeading), 1);
        // The four lines in order: heading, title, version, the local time.
        const std::string start =
            std::string("\r\n") + kHeading + "\r\nKestrum for Digital Media\r\nVersion 1.0\r\n";
        QVERIFY(text.rfind(start, 0) == 0);
        const QString time = QString::fromStdString(text.substr(start.size()));
        QVERIFY2(QRegularExpression("^\\d\\d:\\d\\d - [A-Z][a-z]+, [A-Z][a-z]+ \\d\\d, \\d{4}$")
                     .match(time)
                     .hasMatch(),
                 qPrintable(time));
    }

    void pageSetUpGreysRecoverSelectedAndLoadsPictures() {
        QVERIFY(test::writePicture(QDir(QString::fromStdString(app_.path())).filePath("guim.bmp"),
                                   {16, 16}, Qt::darkCyan));
        COrvDigitalMediaDlg main;
        main.initDialog();
        QVERIFY(!main.menu129().recoverSelected->isEnabled());
        QVERIFY(!main.background().isNull());
        QCOMPARE(main.windowTitle(), QString("Kestrum for Digital Media"));
        const QList<std::pair<const char*, const char*>> tips = {
            {"helpButton", "Help"},
            {"aboutUsButton", "About Us"},
            {"exitButton", "Exit"},
            {"digitalMediaButton", "Digital Media"},
            {"imageCreationButton", "Image Creation"}};
        for (const auto& [name, tip] : tips)
            QCOMPARE(main.findChild<QWidget*>(name)->toolTip(), QString(tip));
    }

    // --- Log menu -----------------------------------------------------------

    void activityLogOpensInTheTextViewer() {
        test::writeFile(logs_.file("Activity Log.txt"), "\r\nx");
        COrvDigitalMediaDlg main;
        main.findChild<QAction*>("activityLogAction")->trigger();
        QCOMPARE(opened_.size(), 1);
        QCOMPARE(opened_.first().toLocalFile(),
                 QString::fromStdString(logs_.file("Activity Log.txt")));
    }

    void missingLogsAreReported_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("text");
        QTest::newRow("view activity") << "activityLogAction"
                                       << "Activity Report file not found";
        QTest::newRow("view recovery") << "recoveryLogAction"
                                       << "Recovery Log file not found";
        QTest::newRow("clear activity") << "clearActivityLogAction"
                                        << "Activity Log.txt file not found";
        QTest::newRow("clear recovery") << "clearRecoveryLogAction"
                                        << "Recovery Log.txt file not found";
    }
    void missingLogsAreReported() {
        QFETCH(QString, action);
        QFETCH(QString, text);
        std::remove(logs_.file("Activity Log.txt").c_str());
        std::remove(logs_.file("Recovery Log.txt").c_str());
        COrvDigitalMediaDlg main;
        QString said;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        auto answered = whenShown<QMessageBox>([&](QMessageBox* box) {
            said = box->text();
            icon = box->icon();
            box->button(QMessageBox::Ok)->click();
        });
        main.findChild<QAction*>(action)->trigger();
        QVERIFY(*answered);
        QCOMPARE(said, text);
        QCOMPARE(icon, QMessageBox::Information);
        QVERIFY(opened_.isEmpty());
    }

    void clearingALogConfirmsFirst_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("question");
        QTest::newRow("activity") << "clearActivityLogAction"
                                  << "Activity Log.txt"
                                  << "Are you sure you want to delete Activity Report";
        QTest::newRow("recovery") << "clearRecoveryLogAction"
                                  << "Recovery Log.txt"
                                  << "Are you sure you want to delete Recovery History";
    }
    void clearingALogConfirmsFirst() {
        QFETCH(QString, action);
        QFETCH(QString, file);
        QFETCH(QString, question);
        const std::string path = logs_.file(file.toStdString());
        test::writeFile(path, "\r\nkeep me");
        COrvDigitalMediaDlg main;
        for (const auto button : {QMessageBox::Cancel, QMessageBox::Ok}) {
            QString asked;
            whenShown<QMessageBox>([&, button](QMessageBox* box) {
                asked = box->text();
                box->button(button)->click();
            });
            main.findChild<QAction*>(action)->trigger();
            QCOMPARE(asked, question);
            QCOMPARE(platform::fileExists(path), button == QMessageBox::Cancel);
        }
    }

    // --- About box ----------------------------------------------------------

    void aboutShowsTitleVersionAndTheOwnerTheInstallStepRegistered() {
        // The real install step, with its own store: it writes the owner.
        const std::string command = std::string("KESTRUM_REGISTRY='") + registry_.path() + "' '" +
                                    KESTRUM_BIN_DIR + "/kestrum-register' '" + logs_.path() +
                                    "' >/dev/null";
        QCOMPARE(test::runCommand(command), 0);
        const passwd* account = ::getpwuid(::getuid());
        std::string expected = account->pw_gecos ? account->pw_gecos : "";
        expected = expected.substr(0, expected.find(','));
        if (expected.empty()) expected = account->pw_name;
        QCOMPARE(CAboutDlg::registeredOwner(), expected);

        for (const char* way : {"aboutUsButton", "aboutUsAction"}) {
            COrvDigitalMediaDlg main;
            QString version, owner;
            auto shown = whenShown<CAboutDlg>([&](CAboutDlg* about) {
                version = about->findChild<QLabel*>("versionLabel")->text();
                owner = about->findChild<QPlainTextEdit*>("ownerBox")->toPlainText();
                QTest::mouseClick(about->findChild<QPushButton*>("okButton"), Qt::LeftButton);
            });
            if (auto* action = main.findChild<QAction*>(way))
                action->trigger();
            else
                main.findChild<QAbstractButton*>(way)->click();
            QVERIFY(*shown);
            QCOMPARE(version, QString("Kestrum for Digital Media Version 1.0"));
            QCOMPARE(owner.section('\n', 1), QString::fromStdString(expected));
        }
    }

    void aboutWithoutAnOwnerLeavesItEmpty() {
        platform::Registry().deleteKey(platform::RegistryRoot::LocalMachine, "SOFTWARE");
        QCOMPARE(CAboutDlg::registeredOwner(), std::string());
        CAboutDlg about;
        const QString owner = about.findChild<QPlainTextEdit*>("ownerBox")->toPlainText();
        QCOMPARE(owner.count('\n'), 1);
        QCOMPARE(owner.section('\n', 1), QString());
    }

    // --- help -----------------------------------------------------------------

    void helpTriesTheBareNameThenTheInstallFolderThenTheViewer() {
        const QString installed =
            QDir(QString::fromStdString(app_.path())).filePath("Kestrum HELP.html");
        test::TempDir elsewhere;
        const QString previous = QDir::currentPath();
        QDir::setCurrent(QString::fromStdString(elsewhere.path()));
        const std::string savedPath = std::getenv("PATH");

        // 1. Nothing anywhere: the viewer is started with the full path.
        QFile::remove(installed);
        COrvDigitalMediaDlg main;
        main.findChild<QAction*>("helpAction")->trigger();
        QVERIFY(opened_.isEmpty());
        QCOMPARE(started_, QStringList{"xdg-open " + installed});

        // 2. In the install folder: opened there (the bare name now finds it on
        // PATH, which gained the install folder, and that is the same file).
        test::writeFile(installed.toStdString(), "<html></html>");
        started_.clear();
        main.findChild<QAbstractButton*>("helpButton")->click();
        QCOMPARE(opened_.size(), 1);
        QCOMPARE(opened_.first().toLocalFile(), installed);
        QVERIFY(started_.isEmpty());
        const std::string path = std::getenv("PATH");
        QCOMPARE(occurrences(":" + path + ":", ":" + app_.path() + ":"), 1);
        QVERIFY(path.back() != ':');

        // 3. A file of that name in the current folder comes first; F1 works too.
        const QString local = QDir::current().filePath("Kestrum HELP.html");
        test::writeFile(local.toStdString(), "<html></html>");
        opened_.clear();
        main.show();
        main.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&main));
        QTest::keyClick(&main, Qt::Key_F1);
        QCOMPARE(opened_.size(), 1);
        QCOMPARE(opened_.first().toLocalFile(), local);

        QDir::setCurrent(previous);
        ::setenv("PATH", savedPath.c_str(), 1);
    }

private:
    test::ScopedRegistry registry_;
    test::TempDir app_, logs_;
    QtPrompter prompter_;
    QList<int> endedWith_;
    QList<QUrl> opened_;
    QStringList started_;
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
