// The dialog driven as a user would, with pickers that answer from the test
// and real batches on files the tests write.
#include <QClipboard>
#include <QDropEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QUrl>

#include <atomic>
#include <memory>
#include <semaphore>

#include "GuiTestSupport.h"
#include "app/gui/MainDialog.h"

using namespace Batch;

namespace {

// Answers with what the test put in, and writes down every question.
class FakePicker : public FilePicker {
  public:
    struct Record {
        QStringList calls;  // "files" or "folder", in order
        QString filter;
        QString defaultSuffix;
        QString title;
    };

    FakePicker(Record& record, QStringList files, QString folder)
        : record_(record), files_(std::move(files)), folder_(std::move(folder)) {}

    QStringList PickFiles(const QString& filter, const QString& defaultSuffix) override {
        record_.calls.push_back(QStringLiteral("files"));
        record_.filter = filter;
        record_.defaultSuffix = defaultSuffix;
        return files_;
    }
    QString PickFolder(const QString& title) override {
        record_.calls.push_back(QStringLiteral("folder"));
        record_.title = title;
        return folder_;
    }

  private:
    Record& record_;
    QStringList files_;
    QString folder_;
};

class MainDialogTest : public ::testing::Test {
  protected:
    MainDialogTest() {
        std::filesystem::create_directory(dir / "in");
        std::filesystem::create_directory(dir / "out");
        WriteBytes(dir / "in/a.tga", TopDownTga());
        WriteBytes(dir / "in/b.tga", TruncatedTga());
        WriteBytes(dir / "in/c.tga", TopDownTga());
        dialog.show();
        dialog.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
    }
    ~MainDialogTest() override { release.release(); }  // never leave the batch held

    void Answer(QStringList files, QString folder) {
        dialog.SetPicker(std::make_unique<FakePicker>(record, std::move(files), std::move(folder)));
    }
    QString In(const char* name) const { return dir.Q(std::string("in/") + name); }
    QString Out() const { return dir.Q("out"); }
    std::string Done(const char* name) const {
        return std::string(name) + "->" + Out().toStdString() + "/" + name + "...Done\n";
    }
    static constexpr const char* kBroken = "b.tgaError: ReadTGA: Unexpected end of input\n";

    QPlainTextEdit* Log() { return dialog.findChild<QPlainTextEdit*>(QStringLiteral("log")); }
    QPushButton* Button() { return dialog.findChild<QPushButton*>(QStringLiteral("fixFiles")); }
    std::string LogText() { return Log()->toPlainText().toStdString(); }

    // Presses the button and waits for the batch it starts, if any.
    void Press() {
        QTest::mouseClick(Button(), Qt::LeftButton);
        WaitUntil([&] { return !dialog.IsBatchRunning(); });
    }

    // Starts a batch of a, b and c converted one at a time, so that holding
    // its thread holds the batch, and holds it before b until `release`.
    void StartHeldBeforeB() {
        auto* runner = dialog.findChild<BatchRunner*>();
        runner->SetJobs(1);
        QObject::connect(runner, &BatchRunner::Progress, [this](qint64 at, qint64, const QString&) {
            if (at == 2) {
                held = true;
                release.acquire();
            }
        });
        Answer({In("a.tga"), In("b.tga"), In("c.tga")}, Out());
        QTest::mouseClick(Button(), Qt::LeftButton);
        WaitUntil([&] { return held.load(); });
    }

    GuiTempDir dir;
    std::counting_semaphore<> release{0};
    std::atomic<bool> held{false};
    MainDialog dialog;
    FakePicker::Record record;
};

TEST_F(MainDialogTest, PressAsksForFilesThenFolderAndLogsEveryFileWithASummary) {
    EXPECT_TRUE(Log()->toPlainText().isEmpty());
    EXPECT_EQ(Log()->placeholderText(), "Press Fix Files... or drop .tga files or folders here.");
    EXPECT_FALSE(dialog.findChild<QPushButton*>("openFolder")->isVisible());

    Answer({In("a.tga"), In("b.tga"), In("c.tga")}, Out());
    Press();
    EXPECT_EQ(record.calls, QStringList({"files", "folder"}));
    EXPECT_EQ(record.filter, "Targa (*.tga)");
    EXPECT_EQ(record.defaultSuffix, "tga");
    EXPECT_EQ(record.title, "Select destination folder");

    EXPECT_EQ(LogText(), Done("a.tga") + kBroken + Done("c.tga") + "2 converted, 1 failed\n");
    EXPECT_EQ(ReadBytes(dir / "out/a.tga"), TopDownTgaFixed());
    EXPECT_EQ(ReadBytes(dir / "out/c.tga"), TopDownTgaFixed());
    EXPECT_FALSE(std::filesystem::exists(dir / "out/b.tga"));
    EXPECT_TRUE(dialog.findChild<QPushButton*>("openFolder")->isVisible());

    // The failure stands out from its neighbours; a copy is the text alone.
    const QTextBlock done = Log()->document()->firstBlock();
    const QTextBlock failed = done.next();
    EXPECT_NE(failed.begin().fragment().charFormat().foreground(),
              done.begin().fragment().charFormat().foreground());
    Log()->selectAll();
    Log()->copy();
    const QMimeData* copied = QApplication::clipboard()->mimeData();
    EXPECT_EQ(copied->formats(), QStringList({"text/plain"}));
    EXPECT_EQ(copied->text().toStdString(), LogText());
}

TEST_F(MainDialogTest, OneFileAndFilesFromSeveralFolders) {
    std::filesystem::create_directory(dir / "other");
    WriteBytes(dir / "other/d.tga", TopDownTga());

    Answer({In("a.tga")}, Out());
    Press();
    EXPECT_EQ(LogText(), Done("a.tga") + "1 converted, 0 failed\n");

    // Dropped files may come from anywhere; the log still holds one batch.
    Answer({}, Out());
    dialog.FixFiles({In("c.tga"), dir.Q("other/d.tga"), In("b.tga")});
    WaitUntil([&] { return !dialog.IsBatchRunning(); });
    EXPECT_EQ(LogText(), Done("c.tga") + Done("d.tga") + kBroken + "2 converted, 1 failed\n");
    EXPECT_EQ(ReadBytes(dir / "out/d.tga"), TopDownTgaFixed());
}

TEST_F(MainDialogTest, CancellingEitherPickerLeavesTheLogAsItWas) {
    Answer({In("a.tga")}, Out());
    Press();
    const std::string before = LogText();
    std::filesystem::remove(dir / "out/a.tga");

    record.calls.clear();
    Answer({}, Out());
    Press();
    EXPECT_EQ(record.calls, QStringList({"files"})) << "a cancelled file picker asks no more";
    EXPECT_EQ(LogText(), before);

    record.calls.clear();
    Answer({In("c.tga")}, QString());
    Press();
    EXPECT_EQ(record.calls, QStringList({"files", "folder"}));
    EXPECT_EQ(LogText(), before);
    EXPECT_TRUE(Button()->isEnabled());
    EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));

    // A second batch starts with an empty log.
    Answer({In("c.tga")}, Out());
    Press();
    EXPECT_EQ(LogText(), Done("c.tga") + "1 converted, 0 failed\n");
}

TEST_F(MainDialogTest, ReplacingAsksOnceAndCancelWritesNothing) {
    {  // Nothing there yet: no question.
        ModalAnswer<QMessageBox> none([](QMessageBox& box) { box.reject(); });
        Answer({In("a.tga"), In("c.tga")}, Out());
        Press();
        EXPECT_FALSE(none.Answered());
    }

    struct Case {
        const char* folder;
        const char* answer;
        const char* originals;  // what the question says of them
    };
    for (const Case c : {Case{"out", "Cancel", "not the picked files"},
                         Case{"out", "Replace", "not the picked files"},
                         Case{"in", "Replace", "They are the originals"}}) {
        WriteBytes(dir / "out/a.tga", {1});
        QString question;
        ModalAnswer<QMessageBox> answer([&](QMessageBox& box) {
            question = box.text() + box.informativeText();
            ClickButton(box, QString::fromLatin1(c.answer));
        });
        Answer({In("a.tga"), In("c.tga")}, dir.Q(c.folder));
        Press();
        EXPECT_TRUE(question.startsWith("2 files in ") && question.contains(c.originals))
            << question.toStdString();
        const bool replaced = c.answer == std::string("Replace");
        EXPECT_EQ(ReadBytes(dir / c.folder / "a.tga") == TopDownTgaFixed(), replaced);
    }
}

TEST_F(MainDialogTest, KeysFocusStartsOnTheButtonAndOnlyButtonsAnswerEnter) {
    EXPECT_EQ(QApplication::focusWidget(), Button());
    Answer({}, Out());
    // Escape never closes; Enter and Space press the focused button, and
    // Alt+F the button wherever the focus is.
    struct Case {
        QWidget* target;
        Qt::Key key;
        Qt::KeyboardModifier modifier;
        qsizetype asks;
    };
    for (const Case c : {Case{Log(), Qt::Key_Escape, Qt::NoModifier, 0},
                         Case{Log(), Qt::Key_Return, Qt::NoModifier, 0},
                         Case{Button(), Qt::Key_Return, Qt::NoModifier, 1},
                         Case{Button(), Qt::Key_Enter, Qt::KeypadModifier, 1},
                         Case{Button(), Qt::Key_Space, Qt::NoModifier, 1},
                         Case{Log(), Qt::Key_F, Qt::AltModifier, 1}}) {
        record.calls.clear();
        c.target->setFocus();
        QTest::keyClick(c.target, c.key, c.modifier);
        WaitUntil([&] { return record.calls.size() >= c.asks; }, 2);  // a click takes a moment
        EXPECT_EQ(record.calls.size(), c.asks)
            << "key " << c.key << " on " << c.target->objectName().toStdString();
        EXPECT_TRUE(dialog.isVisible());
    }
    // Ctrl+Q, with no batch running, asks nothing and closes.
    QTest::keyClick(Log(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(MainDialogTest, FoldersDroppedOrNamedStandForTheirTgaFilesBelow) {
    std::filesystem::create_directories(dir / "in/sub");
    WriteBytes(dir / "in/sub/d.TGA", TopDownTga());
    WriteBytes(dir / "in/notes.txt", {1});
    Answer({}, Out());
    const auto drop = [&](const QStringList& paths) {
        QMimeData mime;
        QList<QUrl> urls{QUrl(QStringLiteral("https://example.invalid/x.tga"))};
        for (const QString& path : paths) {
            urls.push_back(QUrl::fromLocalFile(path));
        }
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(9, 9), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&dialog, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent dropped(QPointF(9, 9), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&dialog, &dropped);
        QTest::qWait(50);
        WaitUntil([&] { return !dialog.IsBatchRunning(); });
    };

    // A drop of nothing usable says so and asks nothing.
    drop({dir.Q("out"), In("notes.txt")});
    EXPECT_TRUE(record.calls.isEmpty());
    EXPECT_EQ(LogText(), "No .tga files to fix in what was dropped or named.\n");

    // The dropped folder's files keep their places below the destination.
    drop({dir.Q("in")});
    EXPECT_EQ(record.calls, QStringList({"folder"}));
    EXPECT_EQ(ReadBytes(dir / "out/sub/d.TGA"), TopDownTgaFixed());
    EXPECT_EQ(LogText(), Done("a.tga") + kBroken + Done("c.tga") + "sub/d.TGA->" +
                             Out().toStdString() + "/sub/d.TGA...Done\n3 converted, 1 failed\n");

    // Named as on the command line.
    Answer({}, dir.Q("in"));
    dialog.FixFiles({dir.Q("in/sub")});
    WaitUntil([&] { return !dialog.IsBatchRunning(); });
    EXPECT_EQ(ReadBytes(dir / "in/d.TGA"), TopDownTgaFixed());
}

TEST_F(MainDialogTest, ProgressAndStopAfterTheCurrentFile) {
    StartHeldBeforeB();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog.findChild<QProgressBar*>()->text(), "2 of 3");
    EXPECT_EQ(dialog.findChild<QLabel*>()->text(), "b.tga");
    EXPECT_EQ(dialog.windowTitle(), "33% - Tessary");
    EXPECT_EQ(Button()->text(), "&Stop");

    QTest::mouseClick(Button(), Qt::LeftButton);
    release.release();
    WaitUntil([&] { return !dialog.IsBatchRunning(); });
    EXPECT_EQ(LogText(), Done("a.tga") + kBroken + "1 converted, 1 failed, 1 not started\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "out/c.tga"));
    EXPECT_EQ(dialog.windowTitle(), "Tessary");
    EXPECT_EQ(Button()->text(), "&Fix Files...");
    EXPECT_FALSE(dialog.findChild<QProgressBar*>()->isVisible());
}

TEST_F(MainDialogTest, ClosingDuringABatchAsksAndStopsAfterTheCurrentFile) {
    StartHeldBeforeB();
    for (const char* answer : {"Keep Converting", "Stop and Quit"}) {
        ModalAnswer<QMessageBox> question(
            [&](QMessageBox& box) { ClickButton(box, QString::fromLatin1(answer)); });
        dialog.close();  // the window's close control; Ctrl+Q comes the same way
        EXPECT_TRUE(question.Answered());
        EXPECT_TRUE(dialog.isVisible()) << "the window waits for the current file";
    }
    release.release();
    WaitUntil([&] { return !dialog.isVisible(); });
    EXPECT_EQ(LogText(), Done("a.tga") + kBroken + "1 converted, 1 failed, 1 not started\n");
}

TEST_F(MainDialogTest, LayoutFollowsTheTemplateInDialogUnits) {
    const DialogBaseUnits units = DialogBaseUnits::FromFont(dialog.font());
    ASSERT_GT(units.x, 0);
    ASSERT_GT(units.y, 0);
    EXPECT_EQ(dialog.size(), QSize(units.ToPixelsX(317), units.ToPixelsY(212)));
    EXPECT_EQ(Log()->geometry(), QRect(0, 0, dialog.width(), units.ToPixelsY(185)));
    const QRect button = Button()->geometry();
    EXPECT_EQ(button.size(), QSize(units.ToPixelsX(50), units.ToPixelsY(14)));
    EXPECT_EQ(button.top(), units.ToPixelsY(192));
    EXPECT_LE(std::abs(button.left() - (dialog.width() - button.right() - 1)), 1) << "centred";
    EXPECT_GE(button.width(), Button()->fontMetrics().horizontalAdvance(Button()->text()));

    EXPECT_EQ(dialog.windowTitle(), "Tessary");
    EXPECT_EQ(Button()->text(), "&Fix Files...");
    EXPECT_TRUE(Log()->isReadOnly());
    EXPECT_EQ(Log()->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_TRUE(Log()->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(Log()->verticalScrollBar()->isVisible());
    EXPECT_FALSE(dialog.windowIcon().isNull());

    // A larger font scales the whole template; a larger window keeps the
    // button centred under a log that fills the rest.
    QFont bigger = dialog.font();
    bigger.setPointSizeF(bigger.pointSizeF() * 2);
    dialog.setFont(bigger);
    const DialogBaseUnits big = DialogBaseUnits::FromFont(bigger);
    EXPECT_GT(big.x, units.x);
    EXPECT_EQ(dialog.size(), QSize(big.ToPixelsX(317), big.ToPixelsY(212)));
    dialog.resize(dialog.width() + 101, dialog.height() + 50);
    EXPECT_EQ(Log()->width(), dialog.width());
    EXPECT_EQ(Log()->height(), dialog.height() - (big.ToPixelsY(212) - big.ToPixelsY(185)));
    EXPECT_LE(std::abs(Button()->geometry().left() * 2 + Button()->width() - dialog.width()), 1);
}

TEST(DialogBaseUnitsTest, RoundToTheNearestPixel) {
    const DialogBaseUnits units{7, 15};    // a 7 x 15 pixel average character
    EXPECT_EQ(units.ToPixelsX(317), 555);  // 554.75
    EXPECT_EQ(units.ToPixelsX(50), 88);    // 87.5 rounds up
    EXPECT_EQ(units.ToPixelsY(212), 398);  // 397.5 rounds up
    EXPECT_EQ(units.ToPixelsY(14), 26);    // 26.25
    EXPECT_EQ(units.ToPixels(QRect(133, 192, 50, 14)), QRect(233, 360, 88, 26));
}

}  // namespace
