// The dialog driven as a user would, with pickers that answer from the test
// and real batches on files the tests write.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDropEvent>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QUrl>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <memory>

#include "GuiTestSupport.h"
#include "app/gui/MainDialog.h"

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
    }

    void Answer(QStringList files, QString folder) {
        dialog.SetPicker(std::make_unique<FakePicker>(record, std::move(files), std::move(folder)));
    }
    QString In(const char* name) const { return dir.Q(std::string("in/") + name); }
    QString Out() const { return dir.Q("out"); }
    std::string Done(const char* name) const {
        return std::string(name) + "->" + Out().toStdString() + "/" + name + "...Done\n";
    }

    QPlainTextEdit* Log() { return dialog.findChild<QPlainTextEdit*>(QStringLiteral("log")); }
    QPushButton* Button() { return dialog.findChild<QPushButton*>(QStringLiteral("fixFiles")); }
    std::string LogText() { return Log()->toPlainText().toStdString(); }

    // Presses the button and waits for the batch it starts, if any.
    void Press() {
        QTest::mouseClick(Button(), Qt::LeftButton);
        WaitUntil([&] { return !dialog.IsBatchRunning(); });
    }

    GuiTempDir dir;
    MainDialog dialog;
    FakePicker::Record record;
};

TEST_F(MainDialogTest, PressAsksForFilesThenFolderAndLogsEveryFile) {
    Answer({In("a.tga"), In("b.tga"), In("c.tga")}, Out());
    QTest::mouseClick(Button(), Qt::LeftButton);
    // The button stays off until the batch has ended.
    EXPECT_TRUE(dialog.IsBatchRunning());
    EXPECT_FALSE(Button()->isEnabled());
    WaitUntil([&] { return !dialog.IsBatchRunning(); });
    EXPECT_TRUE(Button()->isEnabled());

    EXPECT_EQ(record.calls, QStringList({"files", "folder"}));
    EXPECT_EQ(record.filter, "Targa (*.tga)");
    EXPECT_EQ(record.defaultSuffix, "tga");
    EXPECT_EQ(record.title, "Select destination folder");

    EXPECT_EQ(LogText(),
              Done("a.tga") + "b.tgaError: ReadTGA: Unexpected end of input\n" + Done("c.tga"));
    EXPECT_EQ(ReadBytes(dir / "out/a.tga"), TopDownTgaFixed());
    EXPECT_EQ(ReadBytes(dir / "out/c.tga"), TopDownTgaFixed());
    EXPECT_FALSE(std::filesystem::exists(dir / "out/b.tga"));
}

TEST_F(MainDialogTest, OneFileAndFilesFromSeveralFolders) {
    std::filesystem::create_directory(dir / "other");
    WriteBytes(dir / "other/d.tga", TopDownTga());

    Answer({In("a.tga")}, Out());
    Press();
    EXPECT_EQ(LogText(), Done("a.tga"));

    // Dropped files may come from anywhere; the log still holds one batch.
    Answer({}, Out());
    dialog.FixFiles({In("c.tga"), dir.Q("other/d.tga"), In("b.tga")});
    WaitUntil([&] { return !dialog.IsBatchRunning(); });
    EXPECT_EQ(LogText(),
              Done("c.tga") + Done("d.tga") + "b.tgaError: ReadTGA: Unexpected end of input\n");
    EXPECT_EQ(ReadBytes(dir / "out/d.tga"), TopDownTgaFixed());
}

TEST_F(MainDialogTest, SecondBatchStartsWithAnEmptyLog) {
    Answer({In("a.tga"), In("b.tga")}, Out());
    Press();
    Answer({In("c.tga")}, Out());
    Press();
    EXPECT_EQ(LogText(), Done("c.tga"));
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
}

TEST_F(MainDialogTest, EscapeAndEnterNeverCloseOnlyTheCloseControlDoes) {
    Answer({}, Out());
    for (QWidget* target : {static_cast<QWidget*>(&dialog), static_cast<QWidget*>(Log()),
                            static_cast<QWidget*>(Button())}) {
        target->setFocus();
        for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(target, key);
            EXPECT_TRUE(dialog.isVisible())
                << "key " << key << " on " << target->objectName().toStdString();
        }
    }
    EXPECT_TRUE(record.calls.isEmpty()) << "the button is not the default button";
    EXPECT_FALSE(Button()->isDefault());
    EXPECT_FALSE(Button()->autoDefault());

    EXPECT_TRUE(dialog.close());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);
}

TEST_F(MainDialogTest, DroppedFilesSkipTheFilePicker) {
    Answer({In("c.tga")}, Out());
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(In("a.tga")), QUrl::fromLocalFile(dir.Q("in")),
                  QUrl(QStringLiteral("https://example.invalid/x.tga"))});
    const QPoint centre = dialog.rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&dialog, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(centre), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&dialog, &drop);
    WaitUntil([&] { return record.calls.size() == 1 && !dialog.IsBatchRunning(); });

    // Only the local file counts: the folder and the remote address do not.
    EXPECT_EQ(record.calls, QStringList({"folder"}));
    EXPECT_EQ(LogText(), Done("a.tga"));
}

// The batch's second file is an empty file the test holds a lease on:
// opening it blocks until the test lets go, which holds the batch at a
// known point.
TEST_F(MainDialogTest, LogGrowsDuringTheBatchAndClosingStopsAfterTheCurrentFile) {
    const auto gate = dir / "in/gate.tga";
    std::signal(SIGIO, SIG_IGN);  // the lease holder's notice of the waiting open
    const int lease = ::open(gate.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lease, 0);
    if (::fcntl(lease, F_SETLEASE, F_WRLCK) != 0) {
        ::close(lease);
        GTEST_SKIP() << "no file leases here: " << std::strerror(errno);
    }
    Answer({In("a.tga"), In("gate.tga"), In("c.tga")}, Out());
    QTest::mouseClick(Button(), Qt::LeftButton);

    // The first file is logged while the batch still waits on the second.
    WaitUntil([&] { return LogText() == Done("a.tga"); });
    EXPECT_TRUE(dialog.IsBatchRunning());

    dialog.close();
    EXPECT_TRUE(dialog.isVisible()) << "the window waits for the current file";

    // Let the blocked open go through; the empty file is no file to convert.
    ::fcntl(lease, F_SETLEASE, F_UNLCK);
    ::close(lease);

    WaitUntil([&] { return !dialog.isVisible(); });
    EXPECT_FALSE(dialog.IsBatchRunning());
    // With a job per core, c.tga may have been begun beside the gate; then
    // it is finished and logged, and no file is written without its line.
    const std::string stopped =
        Done("a.tga") + "gate.tga: Unable to open file (Empty file)\n";
    const bool cWritten = std::filesystem::exists(dir / "out/c.tga");
    EXPECT_EQ(LogText(), cWritten ? stopped + Done("c.tga") : stopped);
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
    EXPECT_EQ(Button()->text(), "Fix Files...");
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
