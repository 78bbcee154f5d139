// The skinned controls: tiled backgrounds, bitmap buttons with key colours and
// hover, transparent text, in-place cell editing with every way it ends, the
// check-box tree, and the splash's shape.
#include <QDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <future>

#include "TestSupport.h"
#include "UiTestSupport.h"
#include "app/Session.h"
#include "ui/CBDialog.h"
#include "ui/CButtonST.h"
#include "ui/CFolderTreeCtrl.h"
#include "ui/CListCtrlEx.h"
#include "ui/CSplashScreenEx.h"
#include "ui/CTransparentStatic.h"
#include "ui/QtPrompter.h"
#include "ui/ScreenScale.h"
#include "ui/Skin.h"

using namespace kestrum;
using namespace kestrum::ui;

namespace {

QColor pixel(QWidget* widget, int x, int y) {
    return widget->grab().toImage().pixelColor(x, y);
}

QWidget* redSurface(QSize size) {
    auto* surface = new QWidget;
    surface->setFixedSize(size);
    QPalette colours = surface->palette();
    colours.setColor(QPalette::Window, Qt::red);
    surface->setPalette(colours);
    surface->setAutoFillBackground(true);
    return surface;
}

}  // namespace

class ControlsTest : public QObject {
    Q_OBJECT

private slots:
    // --- the scale of a dense screen without a desktop scale -----------------

    void denseScreensAreScaledByTheirDpi() {
        QCOMPARE(ui::scaleForScreen(96, 1), 0.0);    // an ordinary monitor
        QCOMPARE(ui::scaleForScreen(110, 1), 0.0);   // a little denser: left alone
        QCOMPARE(ui::scaleForScreen(120, 1), 1.25);  // quarter steps from 1.25
        QCOMPARE(ui::scaleForScreen(163, 1), 1.5);   // a 27-inch 3840 x 2160: rounded down
        QCOMPARE(ui::scaleForScreen(192, 1), 2.0);
        QCOMPARE(ui::scaleForScreen(192, 2), 0.0);   // the desktop scaled it already
        QCOMPARE(ui::scaleForScreen(0, 1), 0.0);     // no size reported
        QCOMPARE(ui::scaleForScreen(2000, 1), 0.0);  // a size no monitor has
        // The desktop's own DPI, from the X resources.
        QCOMPARE(ui::xftDpi("Xcursor.size:\t24\nXft.dpi:\t192\nXft.hinting:\t1\n"),
                 std::optional<double>(192));
        QCOMPARE(ui::xftDpi("Xft.dpi:   144.5"), std::optional<double>(144.5));
        QCOMPARE(ui::xftDpi("Xcursor.size:\t24\nXft.dpi:\n"), std::nullopt);
    }

    void initTestCase() { session().dataFolder.store(pictures_.path()); }

    void backgroundIsTiledFromTheTopLeft() {
        // One red pixel in the corner of a blue 10 x 8 picture marks each tile.
        QVERIFY(test::writePicture(picturePath("\\tile.bmp"), {10, 8}, Qt::blue, Qt::red, 1));
        CBDialog page;
        page.setClientSize({25, 20});
        QVERIFY(page.loadBackground("\\tile.bmp"));
        QCOMPARE(page.drawingMode(), 0);
        const QImage shown = page.client()->grab().toImage();
        for (const QPoint corner : {QPoint(0, 0), QPoint(10, 0), QPoint(20, 0), QPoint(0, 8),
                                    QPoint(10, 16), QPoint(20, 16)})
            QCOMPARE(shown.pixelColor(corner), QColor(Qt::red));
        QCOMPARE(shown.pixelColor(5, 5), QColor(Qt::blue));
        QCOMPARE(shown.pixelColor(24, 19), QColor(Qt::blue));
    }

    void missingBackgroundShowsThePlainFace() {
        CBDialog page;
        page.setClientSize({20, 20});
        QVERIFY(!page.loadBackground("\\absent.bmp"));
        QVERIFY(page.background().isNull());
        QCOMPARE(pixel(page.client(), 10, 10), page.palette().color(QPalette::Window));
    }

    void buttonDrawsKeyColourTransparentAndHoverPicture() {
        // Normal picture green with a toolbar-key corner, hover picture yellow
        // with a hover-key corner: both corners must show the red page below.
        QVERIFY(test::writePicture(picturePath("\\B.bmp"), {20, 20}, Qt::green, kToolbarKey, 5));
        QVERIFY(test::writePicture(picturePath("\\BA.bmp"), {20, 20}, Qt::yellow, kHoverKey, 5));
        std::unique_ptr<QWidget> page(redSurface({60, 40}));
        auto* button = new CButtonST(page.get());
        button->setGeometry(10, 10, 20, 20);
        button->loadPictures("\\B.bmp", kToolbarKey, "\\BA.bmp");
        button->setToolTip("Help");
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.get()));
        QCOMPARE(pixel(page.get(), 12, 12), QColor(Qt::red));
        QCOMPARE(pixel(page.get(), 25, 25), QColor(Qt::green));
        QCOMPARE(pixel(page.get(), 5, 5), QColor(Qt::red));  // around it: no face

        QTest::mouseMove(button, {15, 15});
        QTRY_VERIFY(button->isHovered());
        QCOMPARE(pixel(page.get(), 25, 25), QColor(Qt::yellow));
        QCOMPARE(pixel(page.get(), 12, 12), QColor(Qt::red));
        QTest::mouseMove(page.get(), {50, 35});
        QTRY_VERIFY(!button->isHovered());
        QCOMPARE(pixel(page.get(), 25, 25), QColor(Qt::green));
        QCOMPARE(button->toolTip(), QString("Help"));

        QSignalSpy clicked(button, &CButtonST::clicked);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
    }

    void buttonShowsFocusTakesEnterAndLosesHoverUnderAModalWindow() {
        QVERIFY(test::writePicture(picturePath("\\F.bmp"), {30, 30}, Qt::green));
        QWidget page;
        page.resize(120, 60);
        auto* edit = new QLineEdit(&page);
        edit->setGeometry(0, 0, 60, 20);
        auto* button = new CButtonST(&page);
        button->setGeometry(70, 10, 30, 30);
        button->loadPictures("\\F.bmp", kToolbarKey, "\\F.bmp");
        QSignalSpy clicked(button, &CButtonST::clicked);
        page.show();
        page.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&page));
        edit->setFocus();

        // A click does not take the keyboard from the text box; Tab does.
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1);
        QVERIFY(edit->hasFocus());
        const QImage plain = button->grab().toImage();
        QCOMPARE(plain.pixelColor(2, 15), QColor(Qt::green));
        QTest::keyClick(edit, Qt::Key_Tab);
        QVERIFY(button->hasFocus());
        const QImage marked = button->grab().toImage();
        QVERIFY(marked != plain);
        const QColor edge = marked.pixelColor(1, 15), inner = marked.pixelColor(2, 15);
        QVERIFY2(edge != QColor(Qt::green) || inner != QColor(Qt::green),
                 qPrintable(edge.name() + " " + inner.name()));
        QCOMPARE(marked.pixelColor(15, 15), QColor(Qt::green));  // the face stays

        // Enter and Return press it, as Space does.
        QTest::keyClick(button, Qt::Key_Return);
        QTest::keyClick(button, Qt::Key_Enter);
        QTest::keyClick(button, Qt::Key_Space);
        QCOMPARE(clicked.count(), 4);

        // A modal window opened under the pointer ends the hover look.
        QTest::mouseMove(button, {15, 15});
        QTRY_VERIFY(button->isHovered());
        QDialog modal(&page);
        bool hoveredUnderModal = true;
        QTimer::singleShot(50, &modal, [&] {
            hoveredUnderModal = button->isHovered();
            modal.accept();
        });
        modal.exec();
        QVERIFY(!hoveredUnderModal);

        // After a message box the keyboard is back where it was.
        page.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&page));
        edit->setFocus();
        QVERIFY(edit->hasFocus());
        QtPrompter prompts;
        auto closed = test::whenShown<QMessageBox>(
            [](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); });
        prompts.showMessage("Select the Extention", MessageIcon::Error);
        QVERIFY(*closed);
        QTRY_VERIFY(edit->hasFocus());
    }

    void largeButtonsUseWhiteAsKey() {
        QVERIFY(test::writePicture(picturePath("\\L.bmp"), {20, 20}, Qt::blue, Qt::white, 5));
        std::unique_ptr<QWidget> page(redSurface({20, 20}));
        auto* button = new CButtonST(page.get());
        button->setGeometry(0, 0, 20, 20);
        button->loadPictures("\\L.bmp", kLargeButtonKey, "\\absent.bmp");
        QCOMPARE(pixel(page.get(), 2, 2), QColor(Qt::red));
        QCOMPARE(pixel(page.get(), 10, 10), QColor(Qt::blue));
    }

    void transparentTextLeavesNothingBehind() {
        std::unique_ptr<QWidget> page(redSurface({120, 30}));
        auto* text = new CTransparentStatic("WWWWWWWWWW", page.get());
        text->setGeometry(0, 0, 120, 30);
        text->setPalette(QPalette(Qt::black));
        auto countRed = [&] {
            const QImage shown = page->grab().toImage();
            int red = 0;
            for (int y = 0; y < shown.height(); ++y)
                for (int x = 0; x < shown.width(); ++x) red += shown.pixelColor(x, y) == Qt::red;
            return red;
        };
        const int withText = countRed();
        QVERIFY(withText > 0);         // the page shows through around the text
        QVERIFY(withText < 120 * 30);  // and the text is drawn
        text->setText("");
        QCOMPARE(countRed(), 120 * 30);  // the old text is gone
    }

    // --- in-place editing -------------------------------------------------

    void init() {
        page_ = std::make_unique<QDialog>();
        auto* layout = new QVBoxLayout(page_.get());
        list_ = new CListCtrlEx(page_.get());
        other_ = new QLineEdit(page_.get());
        other_->setObjectName("otherBox");
        layout->addWidget(list_);
        layout->addWidget(other_);
        list_->setColumnCount(3);
        list_->setRowCount(40);
        for (int r = 0; r < 40; ++r)
            for (int c = 0; c < 3; ++c)
                list_->setItem(r, c, new QTableWidgetItem(QString("r%1c%2").arg(r).arg(c)));
        list_->setColumnEditable(1);
        list_->setColumnEditable(2);
        page_->resize(320, 240);
        page_->show();
        QVERIFY(QTest::qWaitForWindowActive(page_.get()));
    }

    void cleanup() {
        page_.reset();
        list_ = nullptr;
    }

    void doubleClickOpensEditorOverEditableCell() {
        doubleClick(0, 0);
        QVERIFY(!list_->editor());
        doubleClick(2, 1);
        QLineEdit* editor = list_->editor();
        QVERIFY(editor);
        QCOMPARE(editor->text(), QString("r2c1"));
        QTRY_VERIFY(editor->hasFocus());
        QCOMPARE(editor->geometry(), list_->visualRect(list_->model()->index(2, 1)));
    }

    void enterWritesTheText() {
        QSignalSpy edited(list_, &CListCtrlEx::cellEdited);
        startEditing(1, 1, "500");
        QTest::keyClick(list_->editor(), Qt::Key_Return);
        QVERIFY(!list_->editor());
        QCOMPARE(cell(1, 1), QString("500"));
        QCOMPARE(edited.count(), 1);
        QCOMPARE(edited.at(0).at(2).toString(), QString("500"));
    }

    void escapeDropsTheTextAndKeepsThePageOpen() {
        startEditing(1, 1, "500");
        QTest::keyClick(list_->editor(), Qt::Key_Escape);
        QVERIFY(!list_->editor());
        QCOMPARE(cell(1, 1), QString("r1c1"));
        QVERIFY(page_->isVisible());
        QCOMPARE(page_->result(), 0);
    }

    void focusLossWritesTheText() {
        startEditing(3, 2, "abc");
        other_->setFocus();
        QTRY_VERIFY(!list_->editor());
        QCOMPARE(cell(3, 2), QString("abc"));
    }

    void clickOutsideWritesTheText() {
        startEditing(0, 1, "abc");
        const QRect elsewhere = list_->visualRect(list_->model()->index(4, 0));
        QTest::mouseClick(list_->viewport(), Qt::LeftButton, {}, elsewhere.center());
        QVERIFY(!list_->editor());
        QCOMPARE(cell(0, 1), QString("abc"));
        QCOMPARE(list_->currentRow(), 4);  // and the click still did its own work
    }

    void clickInsideEditorKeepsEditing() {
        startEditing(0, 1, "abc");
        QTest::mouseClick(list_->editor(), Qt::LeftButton, {}, {3, 3});
        QVERIFY(list_->editor());
    }

    void wheelWritesTheText() {
        startEditing(0, 2, "wheel");
        const QPoint at = list_->viewport()->rect().center();
        QWheelEvent wheel(at, list_->viewport()->mapToGlobal(at), {}, {0, -120}, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(list_->viewport(), &wheel);
        QVERIFY(!list_->editor());
        QCOMPARE(cell(0, 2), QString("wheel"));
    }

    void scrollWritesTheText() {
        startEditing(0, 1, "scroll");
        list_->verticalScrollBar()->setValue(list_->verticalScrollBar()->value() + 3);
        QVERIFY(!list_->editor());
        QCOMPARE(cell(0, 1), QString("scroll"));
    }

    void menuOutsideWritesTheText() {
        startEditing(0, 1, "menu");
        QMenu menu(page_.get());
        menu.addAction("Somewhere");
        menu.popup(page_->mapToGlobal(QPoint(5, 5)));
        QTRY_VERIFY(!list_->editor());
        menu.hide();
        QCOMPARE(cell(0, 1), QString("menu"));
    }

    void tabMovesRowByRowAndShiftTabBack() {
        startEditing(0, 1, "a");
        QTest::keyClick(list_->editor(), Qt::Key_Tab);
        QCOMPARE(cell(0, 1), QString("a"));
        QVERIFY(list_->editor());
        QCOMPARE(editing(), QPoint(2, 0));
        list_->editor()->setText("b");
        QTest::keyClick(list_->editor(), Qt::Key_Tab);  // past the last column: next row
        QCOMPARE(cell(0, 2), QString("b"));
        QCOMPARE(editing(), QPoint(1, 1));
        QCOMPARE(list_->editor()->text(), QString("r1c1"));
        QTest::keyClick(list_->editor(), Qt::Key_Backtab);
        QCOMPARE(editing(), QPoint(2, 0));
        QTest::keyClick(list_->editor(), Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(editing(), QPoint(1, 0));
        QTRY_VERIFY(list_->editor()->hasFocus());
        // Before the first editable cell there is nowhere to go: editing ends.
        list_->editor()->setText("c");
        QTest::keyClick(list_->editor(), Qt::Key_Backtab);
        QVERIFY(!list_->editor());
        QCOMPARE(cell(0, 1), QString("c"));
    }

    void tabAfterTheLastCellEndsEditing() {
        startEditing(39, 2, "last");
        QTest::keyClick(list_->editor(), Qt::Key_Tab);
        QVERIFY(!list_->editor());
        QCOMPARE(cell(39, 2), QString("last"));
    }

    void editorIsScrolledIntoViewAndClippedToTheClientWidth() {
        list_->setColumnWidth(2, 2000);
        QVERIFY(list_->editCell(30, 2));
        const QRect cellRect = list_->visualRect(list_->model()->index(30, 2));
        QVERIFY(list_->viewport()->rect().intersects(cellRect));
        QVERIFY(list_->editor()->geometry().right() < list_->viewport()->width() - 4);
        QCOMPARE(list_->editor()->geometry().left(), cellRect.left());
    }

    void hookLivesWithTheLists() {
        QVERIFY(CListCtrlEx::hookInstalled());
        cleanup();
        QVERIFY(!CListCtrlEx::hookInstalled());
        {
            CListCtrlEx a, b;
            QVERIFY(CListCtrlEx::hookInstalled());
        }
        QVERIFY(!CListCtrlEx::hookInstalled());
    }

    // --- check-box tree ---------------------------------------------------

    void treeChecksDescendantsAndAncestors() {
        Tree t;
        QSignalSpy toggled(&t.tree, &CFolderTreeCtrl::checkToggled);
        t.clickBox(t.jpeg);
        QVERIFY(CFolderTreeCtrl::isChecked(t.jpeg));
        QVERIFY(!CFolderTreeCtrl::isChecked(t.pictures));  // PNG is not checked
        QCOMPARE(t.tree.currentItem(), t.jpeg);
        QCOMPARE(toggled.count(), 1);
        QCOMPARE(toggled.at(0).at(1).toInt(), 1);

        t.clickBox(t.png);
        QVERIFY(CFolderTreeCtrl::isChecked(t.pictures));
        QVERIFY(!CFolderTreeCtrl::isChecked(t.root));  // Audio is not

        t.clickBox(t.audio);  // down to MP3, and now every child of the root
        QVERIFY(CFolderTreeCtrl::isChecked(t.mp3));
        QVERIFY(CFolderTreeCtrl::isChecked(t.root));

        t.clickBox(t.mp3);  // unchecking a leaf unchecks its ancestors only
        QVERIFY(!CFolderTreeCtrl::isChecked(t.audio));
        QVERIFY(!CFolderTreeCtrl::isChecked(t.root));
        QVERIFY(CFolderTreeCtrl::isChecked(t.pictures));

        t.clickBox(t.root);  // root was unchecked: everything becomes checked
        for (QTreeWidgetItem* item : {t.pictures, t.jpeg, t.png, t.audio, t.mp3})
            QVERIFY(CFolderTreeCtrl::isChecked(item));
        t.clickBox(t.root);
        for (QTreeWidgetItem* item : {t.pictures, t.jpeg, t.png, t.audio, t.mp3})
            QVERIFY(!CFolderTreeCtrl::isChecked(item));
        QCOMPARE(toggled.last().at(1).toInt(), 0);
    }

    void treeLabelClickSelectsWithoutChecking() {
        Tree t;
        const QRect label = t.tree.visualItemRect(t.png);
        QTest::mouseClick(t.tree.viewport(), Qt::LeftButton, {},
                          {label.right() - 5, label.center().y()});
        QCOMPARE(t.tree.currentItem(), t.png);
        QVERIFY(!CFolderTreeCtrl::isChecked(t.png));
    }

    void treeIgnoresBoxesWhileAScanRuns() {
        Tree t;
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        QVERIFY(session().scanThread.start([released] { released.wait(); }));
        QSignalSpy toggled(&t.tree, &CFolderTreeCtrl::checkToggled);
        t.clickBox(t.pictures);
        QVERIFY(!CFolderTreeCtrl::isChecked(t.pictures));
        QVERIFY(!CFolderTreeCtrl::isChecked(t.jpeg));
        QCOMPARE(toggled.count(), 0);
        release.set_value();
        session().scanThread.waitUntilIdle();
        t.clickBox(t.pictures);
        QVERIFY(CFolderTreeCtrl::isChecked(t.jpeg));
        QCOMPARE(toggled.count(), 1);
    }

    // --- splash -----------------------------------------------------------

    void splashIsCutByTheKeyColourAndCentred() {
        QVERIFY(test::writePicture(picturePath("\\FrontV.bmp"), {60, 40}, Qt::darkBlue, kSplashKey,
                                   10));
        CSplashScreenEx splash;
        QVERIFY(splash.setPicture(loadPicture("\\FrontV.bmp")));
        QCOMPARE(splash.size(), QSize(60, 40));
        QVERIFY(!splash.mask().contains(QPoint(3, 3)));
        QVERIFY(splash.mask().contains(QPoint(30, 20)));
        QVERIFY(splash.mask().contains(QPoint(10, 3)));
        const QPoint centre = QGuiApplication::primaryScreen()->geometry().center();
        QVERIFY((splash.geometry().center() - centre).manhattanLength() <= 2);
        splash.fadeIn(30);
        QVERIFY(splash.isVisible());
        QVERIFY(splash.testAttribute(Qt::WA_WState_Visible));
        splash.fadeOut(30);
        QVERIFY(!splash.isVisible());
        QVERIFY(!CSplashScreenEx().setPicture(loadPicture("\\absent.bmp")));
    }

private:
    struct Tree {
        Tree() {
            root = tree.addItem(nullptr, "All");
            pictures = tree.addItem(root, "Pictures");
            jpeg = tree.addItem(pictures, "JPEG");
            png = tree.addItem(pictures, "PNG");
            audio = tree.addItem(root, "Audio");
            mp3 = tree.addItem(audio, "MP3");
            tree.expandAll();
            tree.resize(240, 200);
            tree.show();
            QTest::qWaitForWindowExposed(&tree);
        }
        void clickBox(QTreeWidgetItem* item) {
            QTest::mouseClick(tree.viewport(), Qt::LeftButton, {},
                              tree.checkBoxRect(item).center());
        }
        CFolderTreeCtrl tree;
        QTreeWidgetItem *root, *pictures, *jpeg, *png, *audio, *mp3;
    };

    QString picturePath(const char* name) { return ui::picturePath(name); }
    QString cell(int row, int column) { return list_->item(row, column)->text(); }
    QPoint editing() { return {list_->editColumn(), list_->editRow()}; }
    void doubleClick(int row, int column) {
        const QRect r = list_->visualRect(list_->model()->index(row, column));
        QTest::mouseDClick(list_->viewport(), Qt::LeftButton, {}, r.center());
    }
    void startEditing(int row, int column, const QString& text) {
        doubleClick(row, column);
        QVERIFY(list_->editor());
        QTRY_VERIFY(list_->editor()->hasFocus());
        QTest::keyClicks(list_->editor(), text);  // replaces the selected cell text
        QCOMPARE(list_->editor()->text(), text);
    }

    test::TempDir pictures_;
    std::unique_ptr<QDialog> page_;
    CListCtrlEx* list_ = nullptr;
    QLineEdit* other_ = nullptr;
};

QTEST_MAIN(ControlsTest)
#include "ControlsTest.moc"
