// The dialog driven as a user would, with pickers that answer from the test
// and real batches on files the tests write.
#include <QCheckBox>
#include <QClipboard>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
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
#include <functional>
#include <memory>
#include <semaphore>

#include "GuiTestSupport.h"
#include "app/gui/LogView.h"
#include "app/gui/MainDialog.h"

using namespace Batch;

namespace {

// Answers with what the test put in, and writes down every question.
class FakePicker : public FilePicker {
  public:
    struct Record {
        QStringList calls;  // "files", "folder" or "save", in order
        QString filter;
        QString defaultSuffix;
        QString title;
        QStringList startIns;  // where each picker opened
        std::function<void()> onAsk;
    };

    FakePicker(Record& record, QStringList files, QString folder)
        : record_(record), files_(std::move(files)), folder_(std::move(folder)) {}

    QStringList PickFiles(const QString& filter, const QString& defaultSuffix,
                          const QString& startIn) override {
        Ask("files", startIn);
        record_.filter = filter;
        record_.defaultSuffix = defaultSuffix;
        return files_;
    }
    QString PickFolder(const QString& title, const QString& startIn) override {
        Ask("folder", startIn);
        record_.title = title;
        return folder_;
    }
    QString PickSaveFile(const QString& title, const QString&, const QString& suggested) override {
        Ask("save", suggested);
        record_.title = title;
        return files_.value(0);
    }

  private:
    void Ask(const char* what, const QString& startIn) {
        record_.calls.push_back(QString::fromLatin1(what));
        record_.startIns.push_back(startIn);
        if (record_.onAsk) {
            record_.onAsk();
        }
    }

    Record& record_;
    QStringList files_;
    QString folder_;
};

class MainDialogTest : public ::testing::Test {
  protected:
    MainDialogTest() : settings(dir) {
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
    QPushButton* Button(const char* name = "fixFiles") {
        return dialog.findChild<QPushButton*>(QString::fromLatin1(name));
    }
    QLineEdit* Destination() { return dialog.findChild<QLineEdit*>(QStringLiteral("destination")); }
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
    SettingsIn settings;
    std::counting_semaphore<> release{0};
    std::atomic<bool> held{false};
    MainDialog dialog;
    FakePicker::Record record;
};

TEST_F(MainDialogTest, PressAsksForFilesThenFolderAndLogsEveryFileWithASummary) {
    EXPECT_TRUE(Log()->toPlainText().isEmpty());
    EXPECT_EQ(Log()->placeholderText(),
              "Press Fix Files... or Add Folder..., or drop .tga files or folders here.");
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

// A file named twice is converted once; the other is skipped, and counted
// as the command line counts it.
TEST_F(MainDialogTest, SummaryCountsTheSameFileSkipped) {
    Answer({In("a.tga"), In("a.tga")}, Out());
    Press();
    EXPECT_EQ(LogText(),
              Done("a.tga") + "a.tga->" + Out().toStdString() +
                  "/a.tga...Done (same file as a.tga)\n1 converted, 0 failed, 1 skipped\n");
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
    Destination()->clear();  // asked again only when none is set
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

TEST_F(MainDialogTest, ReplacingAsksOnceAndCancelWritesNothingOrSkipKeepsWhatExists) {
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
        const char* summary;
    };
    for (const Case c :
         {Case{"out", "Cancel", "not the picked files", ""},
          Case{"out", "Skip Existing", "not the picked files", "1 converted, 0 failed, 1 skipped"},
          Case{"out", "Replace", "not the picked files", "2 converted, 0 failed"},
          Case{"in", "Replace", "They are the originals", "2 converted, 0 failed"}}) {
        WriteBytes(dir / "out/a.tga", {1});
        std::filesystem::remove(dir / "out/c.tga");
        QString question;
        ModalAnswer<QMessageBox> answer([&](QMessageBox& box) {
            question = box.text() + box.informativeText();
            ClickButton(box, QString::fromLatin1(c.answer));
        });
        Destination()->setText(dir.Q(c.folder));
        Answer({In("a.tga"), In("c.tga")}, QString());
        Press();
        EXPECT_TRUE(question.contains(c.originals)) << question.toStdString();
        const bool replaced = c.answer == std::string("Replace");
        EXPECT_EQ(ReadBytes(dir / c.folder / "a.tga") == TopDownTgaFixed(), replaced) << c.answer;
        EXPECT_TRUE(LogText().ends_with(std::string(c.summary) + (*c.summary ? "\n" : "")))
            << LogText();
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
    for (const Case c :
         {Case{Log(), Qt::Key_Escape, Qt::NoModifier, 0},
          Case{Log(), Qt::Key_Return, Qt::NoModifier, 0},
          Case{Button(), Qt::Key_Return, Qt::NoModifier, 1},
          Case{Button(), Qt::Key_Enter, Qt::KeypadModifier, 1},
          Case{Button(), Qt::Key_Space, Qt::NoModifier, 1},
          Case{Log(), Qt::Key_F, Qt::AltModifier, 1}, Case{Log(), Qt::Key_A, Qt::AltModifier, 1}}) {
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

TEST_F(MainDialogTest, DroppedAndNamedInputsAreSortedAlikeAndFoldersStandForTheirTgaFiles) {
    std::filesystem::create_directories(dir / "in/sub");
    WriteBytes(dir / "in/sub/d.TGA", TopDownTga());
    WriteBytes(dir / "in/notes.txt", {1});
    const std::string gone = dir.Q("gone.tga").toStdString();
    const std::function<void(const QStringList&)> drop = [&](const QStringList& paths) {
        QMimeData mime;
        QList<QUrl> urls;
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
    const std::function<void(const QStringList&)> name = [&](const QStringList& paths) {
        dialog.FixFiles(paths);
        WaitUntil([&] { return !dialog.IsBatchRunning(); });
    };
    for (const auto& give : {drop, name}) {
        dialog.findChild<LogView*>()->Clear();
        Destination()->clear();
        record.calls.clear();
        std::string logAtAsk;
        record.onAsk = [&] { logAtAsk = LogText(); };
        Answer({}, Out());

        // Nothing usable: what was left out and what is missing, and no question.
        give({dir.Q("out"), In("notes.txt"), dir.Q("gone.tga")});
        EXPECT_TRUE(record.calls.isEmpty());
        EXPECT_EQ(
            LogText(),
            "Left out 1 item, neither a .tga file nor a folder on this computer: notes.txt\n" +
                gone + ": No such file or directory\n" +
                "No .tga files to fix in what was dropped or named.\n");

        // A missing path is said before the picker, then fails in the batch;
        // the folder's files keep their places below the destination.
        give({dir.Q("in"), dir.Q("gone.tga")});
        EXPECT_EQ(record.calls, QStringList({"folder"}));
        EXPECT_TRUE(logAtAsk.ends_with(gone + ": No such file or directory\n")) << logAtAsk;
        EXPECT_EQ(ReadBytes(dir / "out/sub/d.TGA"), TopDownTgaFixed());
        EXPECT_EQ(LogText(), Done("a.tga") + kBroken + Done("c.tga") + "sub/d.TGA->" +
                                 Out().toStdString() + "/sub/d.TGA...Done\n" +
                                 "gone.tga: Unable to open file (No such file or directory)\n" +
                                 "3 converted, 2 failed\n");
        std::filesystem::remove_all(dir / "out");
        std::filesystem::create_directory(dir / "out");
    }

    // What is not on this computer is left out the same way.
    const auto remote = QUrl(QStringLiteral("https://example.invalid/x.tga"));
    EXPECT_EQ(SortDropped({remote}).leftOut, QStringList({remote.toDisplayString()}));
}

TEST_F(MainDialogTest, DestinationAndSourceFolderAreRememberedAcrossRestarts) {
    // The first run asks for the destination at the end and keeps it; the
    // next one asks for it no more, and its pickers open where the last
    // pick was made.
    Answer({In("a.tga")}, Out());
    Press();
    EXPECT_EQ(record.calls, QStringList({"files", "folder"}));
    {
        MainDialog restarted(std::make_unique<FakePicker>(record, QStringList(), dir.Q("in")));
        EXPECT_EQ(restarted.findChild<QLineEdit*>("destination")->text(), Out());
        record.calls.clear();
        record.startIns.clear();
        restarted.FixFiles();  // the file picker, cancelled
        restarted.findChild<QPushButton*>("chooseDestination")->click();
        EXPECT_EQ(record.calls, QStringList({"files", "folder"}));
        EXPECT_EQ(record.startIns, QStringList({dir.Q("in"), Out()}));
        EXPECT_EQ(restarted.findChild<QLineEdit*>("destination")->text(), dir.Q("in"));
    }
    EXPECT_EQ(DialogSettings().Destination(), dir.Q("in"));

    // Add Folder takes a whole folder into the chosen destination.
    std::filesystem::create_directories(dir / "textures/wood");
    WriteBytes(dir / "textures/wood/plank.tga", TopDownTga());
    Destination()->setText(Out());
    Answer({}, dir.Q("textures"));
    record.calls.clear();
    Button("addFolder")->click();
    WaitUntil([&] { return !dialog.IsBatchRunning(); });
    EXPECT_EQ(record.calls, QStringList({"folder"}));
    EXPECT_EQ(ReadBytes(dir / "out/wood/plank.tga"), TopDownTgaFixed());
    EXPECT_EQ(DialogSettings().SourceFolder(), dir.Q());
}

TEST_F(MainDialogTest, FailuresAloneAreShownRetriedAndSaved) {
    // The count is shown before the first file is converted.
    Destination()->setText(Out());
    dialog.FixFiles({In("a.tga"), In("b.tga"), In("c.tga")});
    EXPECT_EQ(dialog.findChild<QProgressBar*>()->text(), "0 of 3");
    WaitUntil([&] { return !dialog.IsBatchRunning(); });

    dialog.findChild<QCheckBox*>("failuresOnly")->setChecked(true);
    EXPECT_EQ(LogText(), std::string(kBroken) + "2 converted, 1 failed\n");
    Answer({dir.Q("failures.txt")}, QString());
    Button("saveLog")->click();
    EXPECT_EQ(record.startIns.back(), dir.Q("out/tessary-log.txt"));
    const Bytes saved = ReadBytes(dir / "failures.txt").value_or(Bytes());
    EXPECT_EQ(std::string(saved.begin(), saved.end()), LogText());
    {  // A log that cannot be written says so.
        Answer({dir.Q("none/log.txt")}, QString());
        ModalAnswer<QMessageBox> failed([](QMessageBox& box) { box.accept(); });
        Button("saveLog")->click();
        EXPECT_TRUE(failed.Answered());
    }
    dialog.findChild<QCheckBox*>("failuresOnly")->setChecked(false);
    EXPECT_EQ(LogText(), Done("a.tga") + kBroken + Done("c.tga") + "2 converted, 1 failed\n");

    // Once the broken file is mended, Retry Failed converts it alone.
    WriteBytes(dir / "in/b.tga", TopDownTga());
    ASSERT_TRUE(Button("retryFailed")->isEnabled());
    Button("retryFailed")->click();
    WaitUntil([&] { return !dialog.IsBatchRunning(); });
    EXPECT_EQ(LogText(), Done("b.tga") + "1 converted, 0 failed\n");
    EXPECT_EQ(ReadBytes(dir / "out/b.tga"), TopDownTgaFixed());
    EXPECT_FALSE(Button("retryFailed")->isEnabled());
}

TEST_F(MainDialogTest, ProgressAndStopAfterTheCurrentFile) {
    StartHeldBeforeB();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog.findChild<QProgressBar*>()->text(), "2 of 3");
    EXPECT_EQ(dialog.findChild<QLabel*>("currentFile")->text(), "b.tga");
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
    EXPECT_EQ(dialog.size(), QSize(units.ToPixelsX(317), units.ToPixelsY(240)));
    EXPECT_EQ(Log()->geometry(), QRect(0, 0, dialog.width(), units.ToPixelsY(176)));
    const QRect button = Button()->geometry();
    EXPECT_EQ(button, units.ToPixels(QRect(100, 220, 56, 14)));
    EXPECT_LE(
        std::abs(button.left() - (dialog.width() - Button("addFolder")->geometry().right() - 1)), 1)
        << "the two buttons centred";
    for (QAbstractButton* control : dialog.findChildren<QAbstractButton*>()) {
        EXPECT_GE(control->width(), control->sizeHint().width())
            << control->objectName().toStdString();
    }

    EXPECT_EQ(dialog.windowTitle(), "Tessary");
    EXPECT_EQ(Button()->text(), "&Fix Files...");
    EXPECT_TRUE(Log()->isReadOnly());
    EXPECT_EQ(Log()->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_TRUE(Log()->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(Log()->verticalScrollBar()->isVisible());
    EXPECT_FALSE(dialog.windowIcon().isNull());

    // A larger font scales the whole template; a larger window keeps the
    // buttons centred and the others at their edges under a log that fills
    // the rest.
    QFont bigger = dialog.font();
    bigger.setPointSizeF(bigger.pointSizeF() * 2);
    dialog.setFont(bigger);
    const DialogBaseUnits big = DialogBaseUnits::FromFont(bigger);
    EXPECT_GT(big.x, units.x);
    EXPECT_EQ(dialog.size(), QSize(big.ToPixelsX(317), big.ToPixelsY(240)));
    const QRect choose = Button("chooseDestination")->geometry();
    const QRect field = Destination()->geometry();
    dialog.resize(dialog.width() + 101, dialog.height() + 50);
    EXPECT_EQ(Log()->width(), dialog.width());
    EXPECT_EQ(Log()->height(), dialog.height() - (big.ToPixelsY(240) - big.ToPixelsY(176)));
    EXPECT_LE(std::abs(Button()->geometry().left() + Button("addFolder")->geometry().right() + 1 -
                       dialog.width()),
              1);
    EXPECT_EQ(Button("chooseDestination")->geometry(), choose.translated(101, 50));
    EXPECT_EQ(Destination()->geometry(), field.adjusted(0, 50, 101, 50));
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
